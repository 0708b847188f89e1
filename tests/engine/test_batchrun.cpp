#include "enginefixture.h"

#include "engine/batchpaths.h"
#include "engine/freeimagelayer.h"
#include "engine/outputfile.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

// Output names and refused names, as the data file's Windows names give them.
TEST(BatchPaths, AppendedTextGoesBeforeTheExtensionAndNoNameLeavesItsFolder)
{
    BatchOptions append;
    append.saveOption = SaveOption::AppendFileName;
    append.appendText = "IPTC";
    for (const auto &[name, appended] : {std::pair{"img001.jpg", "img001IPTC.jpg"}, {"noext", "noextIPTC"},
                                         {"my.dir\\scan", "my.dir\\scanIPTC"}, {".hidden", ".hiddenIPTC"},
                                         {"sub\\a.b.tif", "sub\\a.bIPTC.tif"}}) {
        EXPECT_EQ(OutputName(name, append), appended);
        EXPECT_EQ(OutputName(name, {}), name);
    }
    append.appendText.clear();
    EXPECT_EQ(OutputName("a.jpg", append), "a.jpg");
    for (const char *refused : {"", "/etc/hostname", "\\a.jpg", "sub\\..\\a.jpg", ".."})
        EXPECT_TRUE(NameRefusal(refused)) << refused;
    EXPECT_FALSE(NameRefusal("sub\\a..b.jpg"));
}

TEST_F(EngineTest, RefusalsComeInOrderAndWriteNothing)
{
    makeImages({"a.jpg"});
    useScheme({});
    EXPECT_EQ(run().refusal, NoEntriesMessage) << "before any data file";
    loadData({"a.jpg"});
    app.SavePath = app.ImagePath;
    EXPECT_EQ(run().refusal, NoEntriesMessage) << "a header line alone, and the first check wins";

    loadData({"name", "a.jpg"});
    QFile::link(imagePath(), temp.filePath("link"));
    for (const QString &spelling : {imagePath(), imagePath() + QLatin1Char('/'), temp.filePath("images/./"),
                                    temp.filePath("save/../images"), temp.filePath("link")}) {
        app.SavePath = spelling;
        EXPECT_EQ(run().refusal, SamePathMessage) << spelling.toStdString();
    }
    app.ImagePath.clear();
    app.SavePath.clear();
    EXPECT_EQ(run().refusal, SamePathMessage) << "neither folder chosen";
    app.ImagePath = imagePath();
    EXPECT_EQ(run().refusal, NoFolderMessage);

    app.SavePath = savePath();
    for (const int past : {-1, 1}) {
        app.SelectedScheme = past;
        EXPECT_EQ(run().refusal, NoSchemeMessage) << past;
    }
    app.SelectedScheme = 0;
    state.Busy = true;
    EXPECT_EQ(run().refusal, BusyMessage);
    EXPECT_TRUE(state.Busy);
    EXPECT_TRUE(FolderEntries(savePath()).isEmpty());
}

TEST_F(EngineTest, EveryLineIsAccountedForInBothPathsAndTheRunGoesOn)
{
    makeImages({"header.jpg", "ok.jpg", "sub/deep.jpg", "nosub/lost.jpg", "../outside.jpg"});
    WriteFileBytes(imagePath("notes.jpg"), "not an image at all");
    // Slot 24 names field 2 so that a line can give an empty name.
    useScheme({{1, "IPTC_Field3"}, {FileNameSlot, "IPTC_Field2"}});
    loadData({"x\theader.jpg\tc", "1\tok.jpg\tcaption", "2\tmissing.jpg\tc", "3\t\tc", "4\tsub\\deep.jpg\tc",
              "5\tnosub\\lost.jpg\tc", "6\t..\\outside.jpg\tc", "7\t/etc/hostname\tc", "8\tnotes.jpg\tc", "9\tsub\tc",
              "10\t./ok.jpg\t" + QByteArray(0x8000, 'y')});

    // Lines finish in any order across workers; what the run reports may not.
    for (const auto &[lossless, workers] : {std::pair{false, 1}, {true, 1}, {false, 2}, {true, 2}}) {
        SCOPED_TRACE(QStringLiteral("%1, %2 workers").arg(lossless ? "lossless" : "re-encoded").arg(workers).toStdString());
        if (!lossless && !ReencodingAvailable())
            continue;
        QDir(savePath()).removeRecursively();
        QDir().mkpath(savePath("sub"));
        const BatchResult result = run(!lossless, workers);
        EXPECT_EQ(result.lines, 10);
        EXPECT_EQ(result.saved, 3);
        EXPECT_EQ(LineNames(result.skipped), (QStringList{"2 missing.jpg", "3 ", "6 ..\\outside.jpg", "7 /etc/hostname",
                                                          "8 notes.jpg", "9 sub"}));
        ASSERT_EQ(LineNames(result.failed), (QStringList{"5 nosub\\lost.jpg"}));
        // A caption longer than IIM allows is cut at its limit, and the line says so.
        ASSERT_EQ(LineNames(result.warnings), (QStringList{"10 ./ok.jpg"}));
        for (const LineProblem &problem : result.skipped + result.failed + result.warnings)
            EXPECT_FALSE(problem.reason.isEmpty()) << problem.line;
        EXPECT_TRUE(result.failed[0].reason.contains("does not exist"));
        EXPECT_TRUE(result.warnings[0].reason.contains("Caption")) << result.warnings[0].reason.toStdString();
        EXPECT_FALSE(result.allTaggedAndSaved());
        EXPECT_EQ(ReadTags(savePath("ok.jpg")).iptc.value(120), QList<QByteArray>{QByteArray(2000, 'y')});
        EXPECT_EQ(FolderEntries(savePath()), (QStringList{"ok.jpg", "sub"}));
        EXPECT_EQ(FolderEntries(savePath("sub")), QStringList{"deep.jpg"});
        EXPECT_EQ(FolderEntries(temp.path()), (QStringList{"data.txt", "images", "outside.jpg", "save"}));
        EXPECT_FALSE(state.Busy);
    }
    SKIP_WITHOUT_REENCODING();
}

TEST_F(EngineTest, OutputsNeverReplaceASourceOrLeaveTheSaveFolder)
{
    // The save folder inside the image folder: line 2's source is where line 1 would write.
    app.SavePath = imagePath("out");
    makeImages({"a.jpg", "out/a.jpg"});
    const QByteArray source = ReadFileBytes(imagePath("out/a.jpg"));
    // A subfolder of the save folder that is a link to somewhere else.
    QDir().mkpath(temp.filePath("elsewhere"));
    QFile::link(temp.filePath("elsewhere"), imagePath("out/away"));
    makeImages({"away/c.jpg"});
    useScheme({{1, "caption"}});
    loadData({"name", "a.jpg", "out\\a.jpg", "away\\c.jpg"});

    for (const bool lossless : {false, true}) {
        if (!lossless && !ReencodingAvailable())
            continue;
        const BatchResult result = run(!lossless);
        EXPECT_EQ(LineNames(result.skipped), (QStringList{"1 a.jpg", "3 away\\c.jpg"}));
        EXPECT_EQ(LineNames(result.failed), QStringList{"2 out\\a.jpg"}) << "its own output folder is missing";
        EXPECT_EQ(ReadFileBytes(imagePath("out/a.jpg")), source);
        EXPECT_TRUE(FolderEntries(temp.filePath("elsewhere")).isEmpty());
    }
    SKIP_WITHOUT_REENCODING();
}

TEST_F(EngineTest, YieldComesWhileImagesAreWrittenAndStopsHandingOutLines)
{
    makeImages({"a.jpg", "b.jpg", "c.jpg"});
    useScheme({{1, "IPTC_Field2"}});
    loadData({"name\tcaption", "a.jpg\tfirst", "missing.jpg\tnone", "b.jpg\tsecond", "c.jpg\tthird"});

    int yields = 0;
    BatchResult nested;
    BatchOptions options;
    options.workers = 1;
    const BatchResult result = BatchTag(state, app, options, nullptr, [&] {
        ++yields;
        // What the window does while events are processed must not reach the run.
        nested = BatchTag(state, app, {}, nullptr, {});
        app.SavePath = imagePath();
        app.Schemes.Schemes[1].slot(1) = "changed";
        app.Data.DataLines.clear();
        app.Data.LastDataLine = -1;
        return yields < 2;
    });
    EXPECT_EQ(yields, 2);
    EXPECT_EQ(nested.refusal, BusyMessage);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.saved, 1) << "the line in hand is finished, no other is begun";
    EXPECT_EQ(LineNames(result.skipped), QStringList{}) << "nor planned";
    EXPECT_EQ(FolderEntries(savePath()), QStringList{"a.jpg"});
    EXPECT_EQ(ReadTags(savePath("a.jpg")).iptc.value(120), QList<QByteArray>{"first"});
    EXPECT_FALSE(state.Busy);
}

TEST_F(EngineTest, AWorkerThatDiesCostsOnlyItsLineAndLeavesNoTemporary)
{
    makeImages({"a.jpg", "b.jpg", "c.jpg"});
    useScheme({{1, "caption"}});
    loadData({"name", "a.jpg", "missing.jpg", "b.jpg", "c.jpg"});
    // The first worker leaves a temporary, as a crash during a save would, and dies on its first request.
    const QByteArray real = qgetenv("BRINDLEWAY_WORKER");
    const QString fake = temp.filePath("fake-worker");
    WriteFileBytes(fake, "#!/bin/sh\nif [ ! -e \"$0.died\" ]; then touch \"$0.died\" \"" + QFile::encodeName(savePath())
                             + "/.brindleway-crash1.part\"; head -c 4 >/dev/null; kill -SEGV $$; fi\nexec \"" + real + "\"\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner);
    qputenv("BRINDLEWAY_WORKER", QFile::encodeName(fake));
    const BatchResult result = run(false, 1);
    qputenv("BRINDLEWAY_WORKER", real);

    EXPECT_EQ(result.saved, 2);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(LineNames(result.skipped), QStringList{"2 missing.jpg"});
    ASSERT_EQ(LineNames(result.failed), QStringList{"1 a.jpg"});
    EXPECT_EQ(result.failed[0].reason, "the image could not be processed: the worker stopped (signal 11)");
    EXPECT_EQ(FolderEntries(savePath()), (QStringList{"b.jpg", "c.jpg"}));

    // A library caught in a loop: the line fails in time and the run ends.
    WriteFileBytes(fake, "#!/bin/sh\nexec sleep 60\n");
    qputenv("BRINDLEWAY_WORKER", QFile::encodeName(fake));
    loadData({"name", "a.jpg"});
    BatchOptions patience;
    patience.lineSeconds = 1;
    const BatchResult hung = run(patience);
    EXPECT_EQ(LineNames(hung.failed), QStringList{"1 a.jpg"});

    qputenv("BRINDLEWAY_WORKER", QFile::encodeName(temp.filePath("none")));
    EXPECT_TRUE(run().refusal.text().startsWith("Cannot start the image worker")) << "never in-process";
    qputenv("BRINDLEWAY_WORKER", real);
}

TEST_F(EngineTest, ReencodingRefusesHugeDeclaredSizesAndAFailedSaveKeepsTheEarlierOutput)
{
    SKIP_WITHOUT_REENCODING();
    // A small JPEG whose frame header claims 65500 x 65500.
    makeImages({"wide.jpg"});
    QByteArray jpeg = ReadFileBytes(imagePath("wide.jpg"));
    const qsizetype frame = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    jpeg.replace(frame + 5, 4, "\xFF\xDC\xFF\xDC");
    WriteFileBytes(imagePath("wide.jpg"), jpeg);
    // A TIFF of one 8-bit strip claiming 30000 x 30000, every entry one LONG.
    QByteArray tiff("MM\0*\0\0\0\x08\0\x09", 10);
    for (const auto &[tag, value] : std::initializer_list<std::pair<int, quint32>>{
             {256, 30000}, {257, 30000}, {258, 8}, {259, 1}, {262, 1}, {273, 200}, {277, 1}, {278, 30000}, {279, 900000000}})
        tiff += BigEndian(tag, 2) + BigEndian(4, 2) + BigEndian(1, 4) + BigEndian(value, 4);
    WriteFileBytes(imagePath("tall.tif"), tiff + QByteArray(4 + 200, '\0'));
    // A JPEG the library cannot decode.
    makeImages({"small.jpg"});
    WriteFileBytes(imagePath("b.jpg"), "\xFF\xD8\xFF\xE0 not a JPEG after all");
    WriteFileBytes(savePath("b.jpg"), "earlier output");
    useScheme({{1, "caption"}});
    loadData({"name", "wide.jpg", "tall.tif", "small.jpg", "b.jpg"});

    BatchOptions options;
    options.reencode = true;
    options.maxMegapixels = 300;
    const BatchResult result = run(options);
    EXPECT_EQ(result.saved, 1);
    ASSERT_EQ(LineNames(result.skipped), (QStringList{"1 wide.jpg", "2 tall.tif"}));
    EXPECT_EQ(result.skipped[0].reason, "the image declares 4290.3 megapixels, more than the limit of 300");
    EXPECT_EQ(result.skipped[1].reason, "the image declares 900.0 megapixels, more than the limit of 300");
    EXPECT_EQ(LineNames(result.failed), QStringList{"4 b.jpg"});
    EXPECT_EQ(ReadFileBytes(savePath("b.jpg")), "earlier output");
    EXPECT_EQ(FolderEntries(savePath()), (QStringList{"b.jpg", "small.jpg"})) << "no partial file";
}

TEST_F(EngineTest, SavingFollowsNoLinkOrDotDotAndKeepsWhatItMayNotReplace)
{
    const auto writer = [](const QByteArray &bytes, const QString &problem = {}) {
        return [=](int fd) {
            EXPECT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
            return problem;
        };
    };
    QDir().mkpath(savePath("sub"));
    QDir().mkpath(temp.filePath("elsewhere"));
    QFile::link(temp.filePath("elsewhere"), savePath("away"));
    QFile::link(savePath("sub"), savePath("inside"));
    for (const char *name : {"sub/../a.jpg", "away/a.jpg", "inside/a.jpg", "sub/a.jpg/b.jpg", "missing/a.jpg", "sub/"})
        EXPECT_TRUE(SaveOutputFile(savePath(), QString::fromUtf8(name), writer("new")))
            << name;
    EXPECT_TRUE(FolderEntries(temp.filePath("elsewhere")).isEmpty());

    const QString longName = QString(246, QLatin1Char('n')) + ".jpg";
    for (const auto &[name, mode] : {std::pair{QStringLiteral("private.jpg"), 0600}, {longName, 0644}, {"ro.jpg", 0444}}) {
        WriteFileBytes(savePath(name), "old");
        ::chmod(QFile::encodeName(savePath(name)).constData(), mode);
        // Failing, writing nothing, then succeeding: only the last may replace, and only a writable file.
        EXPECT_TRUE(SaveOutputFile(savePath(), name, writer("partial", "failed")));
        EXPECT_TRUE(SaveOutputFile(savePath(), name, writer({})));
        EXPECT_EQ(!SaveOutputFile(savePath(), name, writer("new")), mode != 0444);
        EXPECT_EQ(ReadFileBytes(savePath(name)), mode == 0444 ? "old" : "new");
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(savePath(name)).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, mode) << "kept, as root too";
    }
    EXPECT_EQ(FolderEntries(savePath()).size(), 6) << "no temporary is left";
}

TEST_F(EngineTest, TheNextRunRemovesTemporariesThatNoSaveHolds)
{
    makeImages({"sub/a.jpg"});
    useScheme({{1, "caption"}});
    loadData({"name", "sub\\a.jpg"});
    for (const char *name : {".brindleway-Ab3xY9.part", "sub/.brindleway-000000.part", "sub/.brindleway-live01.part"})
        WriteFileBytes(savePath(QString::fromLatin1(name)), "left by a killed run");
    const int live = ::open(QFile::encodeName(savePath("sub/.brindleway-live01.part")).constData(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0) << "a concurrent run still writing it";
    EXPECT_EQ(run().saved, 1);
    ::close(live);
    EXPECT_EQ(FolderEntries(savePath()), QStringList{"sub"});
    EXPECT_EQ(FolderEntries(savePath("sub")), (QStringList{".brindleway-live01.part", "a.jpg"}));
}

// Image data copied in the kernel or, where it cannot, through a buffer: never a shorter output.
TEST_F(EngineTest, CopyFileRangeCopiesEveryByteOrSaysWhy)
{
    const QByteArray bytes = QByteArray(300000, 'x') + "end";
    WriteFileBytes(savePath("source"), bytes);
    const int memory = ::memfd_create("source", 0);
    ASSERT_TRUE(memory >= 0 && ::write(memory, bytes.constData(), size_t(bytes.size())) == bytes.size());
    const int file = ::open(QFile::encodeName(savePath("source")).constData(), O_RDONLY);
    for (const auto &[in, from, length, ok] : {std::tuple{file, 7, 299996, true}, {memory, 7, 299996, true},
                                               {file, 7, 299997, false}, {memory, 300003, 1, false}}) {
        const int out = ::open(QFile::encodeName(savePath("out")).constData(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(CopyFileRange(in, from, out, 2, length).isEmpty(), ok) << from << " " << length;
        ::close(out);
        if (ok) {
            EXPECT_EQ(ReadFileBytes(savePath("out")), QByteArray(2, '\0') + bytes.mid(7));
        }
    }
    ::close(file);
    ::close(memory);
}
