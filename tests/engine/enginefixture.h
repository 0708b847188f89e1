#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

// Runs a program to its end; its standard output. A non-zero exit fails the
// test unless `exitCode` takes it.
QByteArray RunTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr);

// Record-2 datasets as stored: dataset number to values in file order.
using IptcDatasets = QMap<int, QList<QByteArray>>;

// What one ExifTool run reads from a file: every tag by "Group1:Name" with
// values unconverted and lists joined with ";" (MWG view included), the raw
// IPTC block split into datasets, and the warnings.
struct FileTags {
    QMap<QString, QString> tags;
    IptcDatasets iptc;
    QStringList warnings;
    std::string operator[](const char *name) const { return tags.value(QLatin1String(name)).toStdString(); }
    // Every tag that neither IPTC nor XMP writing may change (strips may move).
    QStringList foreign() const;
};
FileTags ReadTags(const QString &path);

// Raw pixels as ImageMagick decodes them, 8-bit RGBA.
QByteArray PixelsOf(const QString &path);

// Makes an image with ImageMagick; the format follows `format` ("jpg", "png"...).
void MakeImage(const QString &path, const QString &format, int width = 48, int height = 32);

// Gives an image old IPTC, EXIF, an ICC profile, a comment, Photoshop
// resources with a current digest, and XMP that disagrees with the new
// values and holds properties of its own (xmp:Rating, a custom namespace).
void AddForeignMetadata(const QString &path);

QStringList LineNames(const QList<LineProblem> &problems); // "line name" each
QStringList FolderEntries(const QString &folder);          // hidden ones too

// A fresh image folder, save folder and program state per test.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;

    QString imagePath(const QString &name = {}) const { return temp.filePath(QStringLiteral("images/") + name); }
    QString savePath(const QString &name = {}) const { return temp.filePath(QStringLiteral("save/") + name); }

    // Writes the data file (header line first) as Windows-1252 bytes and reads it.
    void loadData(const QList<QByteArray> &lines);
    // One scheme, selected; slot 24 is field 1 unless set.
    ParsingScheme &useScheme(const QMap<int, QString> &slotTexts);

    BatchResult run(const BatchOptions &options = {});

    QTemporaryDir temp;
    AppState app;
    BatchState state;
};

inline BatchOptions Lossless(bool lossless = true)
{
    BatchOptions options;
    options.reencode = !lossless;
    return options;
}
