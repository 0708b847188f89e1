#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Runs a program to its end; its standard output, or a test failure.
QByteArray RunTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr);

// Record-2 datasets of a file as ExifTool reads them (cp1252 text turned
// back into its bytes): dataset number to values in file order.
using IptcDatasets = QMap<int, QList<QByteArray>>;
IptcDatasets ReadIptcWithExifTool(const QString &path);

// The file type ExifTool finds in a file's content ("JPEG", "PNG", ...).
QString FileTypeOf(const QString &path);

// Raw pixels as ImageMagick decodes them, 8-bit RGBA.
QByteArray PixelsOf(const QString &path);

// Makes an image with ImageMagick; the format follows `format` ("jpg", "png"...).
void MakeImage(const QString &path, const QString &format, int width = 48, int height = 32);

// A fresh image folder, save folder and program state per test.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;

    QString imagePath(const QString &name = {}) const;
    QString savePath(const QString &name = {}) const;

    // Writes the data file (header line first) as Windows-1252 bytes and reads it.
    void loadData(const QList<QByteArray> &lines);
    // One scheme, selected; slot 24 is field 1 unless set.
    ParsingScheme &useScheme(const QMap<int, QString> &slotTexts);

    BatchResult run(const BatchOptions &options = {});

    QTemporaryDir temp;
    AppState app;
    BatchState state;
};

// Progress calls as the window would see them.
class RecordingProgress : public ProgressSink {
public:
    void setValue(double value) override { calls.append(QStringLiteral("value %1").arg(value)); }
    void setMax(double max) override { calls.append(QStringLiteral("max %1").arg(max)); }
    void setVisible(bool visible) override { calls.append(visible ? QStringLiteral("show") : QStringLiteral("hide")); }
    QStringList calls;
};
