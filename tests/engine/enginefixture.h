#pragma once

#include "engine/platform/freeimagelayer.h"
#include "engine/run/batchrunner.h"
#include "model/appstate.h"
#include "testsupport.h"

#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

// Re-encoding needs the image library. Without it a test leaves out its
// re-encoding runs and reports itself skipped, saying why.
#define SKIP_WITHOUT_REENCODING()                                                                                      \
    if (!ReencodingAvailable())                                                                                        \
    GTEST_SKIP() << ReencodingUnavailableMessage.toStdString()

// Gives an image old IPTC, EXIF, an ICC profile, a comment, Photoshop
// resources with a current digest, and XMP that disagrees with the new
// values and holds properties of its own (xmp:Rating, a custom namespace).
void AddForeignMetadata(const QString &path);

QStringList LineNames(const QList<LineReport> &reports); // "line name" each
// The codes of a line's notes, in their order.
QList<NoteCode> Codes(const LineOutcome &outcome);
QStringList FolderEntries(const QString &folder);          // hidden ones too

// A fresh image folder, save folder and program state per test.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;

    QString imagePath(const QString &name = {}) const { return temp.filePath(QStringLiteral("images/") + name); }
    QString savePath(const QString &name = {}) const { return temp.filePath(QStringLiteral("save/") + name); }

    // ImageMagick images in the image folder, each of the type its ending names.
    void makeImages(const QStringList &names);
    // Writes the data file (header line first), its bytes as given, and reads it.
    void loadData(const QList<QByteArray> &lines);
    // One scheme, selected; slot 24 is field 1 unless set.
    void useScheme(QHash<int, QString> slotTexts);

    // A run to its end, driven by an event loop as the programs drive it;
    // `started` is called once the run is under way.
    BatchResult run(const BatchOptions &options = {}, const std::function<void(BatchRunner &)> &started = {});
    BatchResult run(bool reencode, int workers = 0)
    {
        BatchOptions options;
        options.reencode = reencode;
        options.workers = workers;
        return run(options);
    }

    QTemporaryDir temp;
    AppState app;
};
