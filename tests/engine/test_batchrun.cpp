#include "enginefixture.h"

#include "engine/platform/outputfile.h"
#include "engine/platform/savefolder.h"
#include "engine/run/batchcheck.h"
#include "engine/run/lineplanner.h"
#include "engine/run/tagexporter.h"
#include "model/settingsstore.h"
#include "model/xmpfields.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

namespace {
// An export of `request` to its end, with a scheme store of its own at `storePath`.
ExportResult ExportToEnd(const ExportRequest &request, const QString &storePath)
{
    SchemeTable schemes;
    IniSettingsStore store(storePath);
    TagExporter exporter;
    ExportResult exported;
    QObject::connect(&exporter, &TagExporter::finished, [&](const ExportResult &done) { exported = done; });
    EXPECT_FALSE(exporter.start(request, schemes, store));
    WaitUntil([&] { return !exporter.running(); }, 120000);
    return exported;
}
} // namespace

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
    for (const QString &refused : {QString(""), QString("/etc/hostname"), QString("\\a.jpg"), QString("sub\\..\\a.jpg"),
                                   QString(".."), QString("a\x01.jpg"), QString("x.jpg") + QChar(0) + "/../f.jpg"})
        EXPECT_TRUE(NameRefusal(refused)) << refused.toStdString();
    EXPECT_EQ(NameRefusal(QString("x") + QChar(0)).details, QStringList{"U+0000"});
    // The names a run gives its temporaries, which the next run sweeps away.
    for (const char *temporary : {".brindleway-Ab3xY9.part", "sub\\.brindleway-000000.part"})
        EXPECT_EQ(NameRefusal(temporary).code, NoteCode::TemporaryName) << temporary;
    EXPECT_FALSE(NameRefusal(".brindleway-Ab3xY.part"));
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
    // A folder that is missing or no folder is refused before any line, by the run and the check alike, with its reason.
    for (const auto &[images, save, why] : {std::tuple{"nowhere", "save", "Cannot read the image folder"},
                                            {"data.txt", "save", "it is not a folder"},
                                            {"images", "nowhere", "Cannot save into the folder"},
                                            {"images", "data.txt", "it is not a folder"}}) {
        app.ImagePath = temp.filePath(images);
        app.SavePath = temp.filePath(save);
        EXPECT_TRUE(run().refusal.text().contains(why)) << run().refusal.text().toStdString();
        EXPECT_EQ(CheckBatch(app, {}).refusal.text(), run().refusal.text());
    }
    app.ImagePath = imagePath();
    app.SavePath = savePath();
    BatchResult busy;
    EXPECT_EQ(run({}, [&](BatchRunner &runner) { busy.refusal = runner.start(app, {}); }).saved(), 1);
    EXPECT_EQ(busy.refusal, BusyMessage);
    EXPECT_EQ(FolderEntries(savePath()), QStringList{"a.jpg"});
    EXPECT_FALSE(QFileInfo::exists(temp.filePath("nowhere")));

    // A save folder no file can be made in is refused by both before any line, with the system's reason, and
    // keeps nothing of the probe. Root writes past permission bits, so the folder is made immutable too.
    const QString locked = temp.filePath("locked");
    QDir().mkpath(locked);
    ::chmod(QFile::encodeName(locked).constData(), 0555);
    const int dir = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto immutable = [dir](bool on) {
        int flags = 0;
        if (::ioctl(dir, FS_IOC_GETFLAGS, &flags) != 0)
            return;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ::ioctl(dir, FS_IOC_SETFLAGS, &flags);
    };
    immutable(true);
    const bool unwritable = ::mkdirat(dir, "probe", 0700) != 0;
    ::unlinkat(dir, "probe", AT_REMOVEDIR);
    if (unwritable) {
        app.SavePath = locked;
        const QString refusal = run().refusal.text();
        EXPECT_TRUE(refusal.startsWith(SaveFolderMessage.arg(locked, QString()).chopped(1))) << refusal.toStdString();
        EXPECT_GT(refusal.size(), SaveFolderMessage.arg(locked, QString()).size()) << "the system's reason";
        EXPECT_EQ(CheckBatch(app, {}).refusal.text(), refusal);
    }
    immutable(false);
    ::close(dir);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    EXPECT_EQ(FolderEntries(locked), QStringList());
    if (!unwritable)
        GTEST_SKIP() << "the folder cannot be made unwritable here (no immutable flag on this file system)";
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
        EXPECT_EQ(result.saved(), 3);
        EXPECT_EQ(result.files, 2) << "line 10 replaced line 1's output";
        EXPECT_EQ(LineNames(result.with(LineStatus::Skipped)),
                  (QStringList{"2 missing.jpg", "3 ", "5 nosub\\lost.jpg", "6 ..\\outside.jpg", "7 /etc/hostname",
                               "8 notes.jpg"}));
        EXPECT_EQ(LineNames(result.with(LineStatus::Failed)), QStringList{"9 sub"}) << "a folder is where it would go";
        // A caption longer than IIM allows is cut at its limit, and the line says so.
        const QList<LineReport> warned = result.with(LineStatus::SavedWithWarnings);
        ASSERT_EQ(LineNames(warned), (QStringList{"10 ./ok.jpg"}));
        EXPECT_EQ(Codes(warned[0].outcome), (QList<NoteCode>{NoteCode::ValueCut, NoteCode::ReplacedLine}));
        EXPECT_EQ(warned[0].outcome.notes[1].details, QStringList{"2"}) << "the row of line 1";
        for (const LineReport &report : result.reports)
            EXPECT_EQ(report.row, report.line + 1);
        EXPECT_EQ(ReadTags(savePath("ok.jpg")).iptc.value(120), QList<QByteArray>{QByteArray(2000, 'y')});
        EXPECT_EQ(FolderEntries(savePath()), (QStringList{"ok.jpg", "sub"}));
        EXPECT_EQ(FolderEntries(savePath("sub")), QStringList{"deep.jpg"});
        EXPECT_EQ(FolderEntries(temp.path()), (QStringList{"data.txt", "images", "outside.jpg", "save"}));
    }
    SKIP_WITHOUT_REENCODING();
}

// The guard of "the check and the run are one rule": over one data file
// holding every class of problem, in both modes, the check foresees line
// for line what the run then reports.
TEST_F(EngineTest, TheCheckForeseesLineForLineWhatTheRunReports)
{
    // The save folder inside the image folder: line 1's output is line 2's source.
    app.SavePath = imagePath("out");
    makeImages({"a.jpg", "out/a.jpg", "ok.jpg", "v.jpg", "w.jpg", "x.jpg", "away/c.jpg"});
    QDir().mkpath(imagePath("out/sub"));
    QFile::link(imagePath("away"), imagePath("out/away"));
    WriteFileBytes(imagePath("notes.jpg"), "not an image");
    WriteFileBytes(imagePath("sig.tif"), QByteArray("II*\0", 4));
    QFile::copy(imagePath("ok.jpg"), imagePath(".brindleway-Ab3xY9.part"));
    WriteFileBytes(imagePath("out/v.jpg"), "last week's");
    WriteFileBytes(imagePath("out/w.jpg"), "kept");
    ::chmod(QFile::encodeName(imagePath("out/w.jpg")).constData(), 0444);
    // Containers with no image (metadata alone, an empty directory), bytes between segments, a full directory.
    makeImages({"ctl.jpg", "stray.jpg"});
    const QByteArray jpeg = ReadFileBytes(imagePath("stray.jpg"));
    const qsizetype app0 = 4 + ((qsizetype(uchar(jpeg[4])) << 8) | uchar(jpeg[5]));
    WriteFileBytes(imagePath("stray.jpg"), jpeg.left(app0) + "stray" + jpeg.mid(app0));
    WriteFileBytes(imagePath("meta.jpg"), QByteArray("\xFF\xD8\xFF\xFE\0\6note\xFF\xD9", 12));
    const QByteArray tiff("MM\0*\0\0\0\x08", 8);
    WriteFileBytes(imagePath("empty.tif"), tiff + QByteArray(7, '\0'));
    const auto longEntry = [](int tag, quint32 value) { return BigEndian(tag, 2) + BigEndian(4, 2) + BigEndian(1, 4) + BigEndian(value, 4); };
    QByteArray entries;
    for (const auto &[tag, value] : {std::pair{256, 1}, {257, 1}, {258, 8}, {259, 1}, {262, 1}, {273, 8 + 2 + 65534 * 12 + 4},
                                     {277, 1}, {278, 1}, {279, 1}})
        entries += longEntry(tag, value);
    while (entries.size() < 65534 * 12)
        entries += longEntry(65000, 0);
    WriteFileBytes(imagePath("full.tif"), tiff + BigEndian(65534, 2) + entries + BigEndian(0, 4) + "\x80");
    // Damaged files of every other format: each cut short, a WebP whose chunk runs past its end, and a raw file with its sidecar.
    makeImages({"cut.png", "cut.gif", "cut.psd", "bad.webp"});
    for (const char *name : {"cut.png", "cut.gif", "cut.psd"}) {
        const QByteArray whole = ReadFileBytes(imagePath(name));
        WriteFileBytes(imagePath(name), whole.left(QByteArray(name).endsWith("psd") ? 30 : whole.size() * 2 / 3));
    }
    QByteArray webp = ReadFileBytes(imagePath("bad.webp"));
    webp.replace(16, 4, BigEndian(0x7FFFFF00, 4));
    WriteFileBytes(imagePath("bad.webp"), webp);
    WriteFileBytes(imagePath("raw.nef"), QByteArray("MM\0*\0\0\0\x08", 8) + QByteArray(600, 'r'));
    WriteFileBytes(imagePath("raw.xmp"), "this is no XMP <");
    WriteFileBytes(imagePath("good.nef"), QByteArray("MM\0*\0\0\0\x08", 8) + QByteArray(600, 'r'));
    const struct {
        QByteArray fields; // name, caption, date, urgency, country
        NoteCode expected; // a note both must give; None: the line is saved in full
        NoteCode reencoded = NoteCode::None; // the note when re-encoding, where it differs
    } lines[] = {
        {"ok.jpg\tHarbour\t20240131\t5\tNOR", NoteCode::None},
        {"a.jpg\t\t\t\t", NoteCode::WouldReplaceSource},
        {"out\\a.jpg\t\t\t\t", NoteCode::OutputFolderMissing},
        {"gone.jpg\t\t\t\t", NoteCode::SourceMissing},
        {"notes.jpg\t\t\t\t", NoteCode::UnknownType},
        {"out\t\t\t\t", NoteCode::SourceNotAFile},
        {"..\\ok.jpg\t\t\t\t", NoteCode::NameHoldsDotDot},
        {"/etc/hostname\t\t\t\t", NoteCode::AbsoluteName},
        {QByteArray("x.jpg\0/..\0/..\0/f.jpg", 20) + "\t\t\t\t", NoteCode::NameHoldsControl},
        {"away\\c.jpg\t\t\t\t", NoteCode::OutsideSaveFolder},
        {"v.jpg\t\t\t\t", NoteCode::ReplacedFile},
        {"w.jpg\t\t\t\t", NoteCode::OutputInTheWay},
        {"./ok.jpg\t\t\t\t", NoteCode::ReplacedLine},
        {"x.jpg\t" + QByteArray(2001, 'c') + "\t\t\t", NoteCode::ValueCut},
        {"x.jpg\t\t20241399\t9\tUK", NoteCode::ValueNotWritten},
        {"x.jpg\t\t31/01/2024\t0\t12", NoteCode::ReplacedLine},
        {"sig.tif\t\t\t\t", NoteCode::SourceDamaged, NoteCode::DecodeFailed},
        {"sig.tif\t\t20240131\t\t", NoteCode::MetadataUnwritable, NoteCode::DecodeFailed},
        {"full.tif\tHarbour\t\t\t", NoteCode::MetadataUnwritable},
        {"stray.jpg\tHarbour\t\t\t", NoteCode::SourceDamaged},
        {"meta.jpg\tHarbour\t\t\t", NoteCode::NoImage},
        {"empty.tif\tHarbour\t\t\t", NoteCode::NoImage},
        {QByteArray("ctl.jpg\tbad\0\x01 cap\t20240131\t\t", 28), NoteCode::ValueNotWritten},
        {"cut.png\tHarbour\t\t\t", NoteCode::MetadataUnwritable, NoteCode::DecodeFailed},
        {"cut.gif\tHarbour\t\t\t", NoteCode::MetadataUnwritable},
        {"cut.psd\tHarbour\t\t\t", NoteCode::MetadataUnwritable},
        {"bad.webp\tHarbour\t\t\t", NoteCode::MetadataUnwritable},
        {"raw.nef\tHarbour\t\t\t", NoteCode::MetadataUnwritable},
        {"good.nef\tHarbour\t\t\t", NoteCode::None},
        // A short line: the fields that read the columns it lacks are left blank, and both say so.
        {"x.jpg\tHarbour", NoteCode::FieldsLeftBlank},
        // A run's temporary, named as it is or found loosely.
        {".brindleway-Ab3xY9.part\t\t\t\t", NoteCode::TemporaryName},
        {".BRINDLEWAY-AB3XY9.PART\t\t\t\t", NoteCode::TemporaryName},
    };
    QList<QByteArray> data{"File\tCaption\tDate\tUrgency\tCountry"};
    for (const auto &line : lines)
        data << line.fields;
    // Rows are the file's, blank lines counted.
    data.insert(2, {});
    loadData(data);
    useScheme({{1, "IPTC_Field2"}, {DateCreatedSlot, "IPTC_Field3"}, {19, "IPTC_Field4"}, {10, "IPTC_Field5"}});
    const auto sorted = [](QList<NoteCode> codes) {
        std::sort(codes.begin(), codes.end());
        return codes;
    };
    for (const bool reencode : {false, true}) {
        SCOPED_TRACE(reencode ? "re-encoded" : "tags only");
        if (reencode && !ReencodingAvailable())
            continue;
        for (const char *name : {"ok.jpg", "x.jpg", "good.nef", "good.xmp"})
            QFile::remove(imagePath("out/") + name);
        WriteFileBytes(imagePath("out/v.jpg"), "last week's");
        BatchOptions options;
        options.reencode = reencode;
        const BatchCheck check = CheckBatch(app, options);
        const BatchResult result = run(reencode);
        ASSERT_EQ(check.lines.size(), std::size(lines));
        ASSERT_EQ(result.reports.size(), std::size(lines));
        for (qsizetype i = 0; i < check.lines.size(); ++i) {
            const QList<NoteCode> foreseen = Codes({LineStatus::Saved, check.lines[i].notes});
            const QList<NoteCode> reported = Codes(result.reports[i].outcome);
            EXPECT_EQ(sorted(foreseen), sorted(reported)) << "line " << i + 1;
            EXPECT_EQ(check.lines[i].row(), result.reports[i].row);
            EXPECT_EQ(result.reports[i].row, i == 0 ? 2 : i + 3);
            const NoteCode expected = reencode && lines[i].reencoded != NoteCode::None ? lines[i].reencoded : lines[i].expected;
            EXPECT_TRUE(expected == NoteCode::None ? reported.isEmpty() : reported.contains(expected)) << "line " << i + 1;
            if (expected == NoteCode::FieldsLeftBlank) {
                EXPECT_EQ(check.lines[i].notes.value(0).details, (QStringList{SlotKey(DateCreatedSlot), "3", SlotKey(10), "5", SlotKey(19), "4"}));
            }
        }
        // What the line with a NUL names lies outside the save folder and is never written.
        EXPECT_EQ(FolderEntries(imagePath("out")), (QStringList{"a.jpg", "away", "ctl.jpg", "empty.tif", "good.nef", "good.xmp", "meta.jpg",
                                                              "ok.jpg", "sig.tif", "stray.jpg", "sub", "v.jpg", "w.jpg", "x.jpg"}));
        EXPECT_EQ(FolderEntries(temp.path()), (QStringList{"data.txt", "images", "save"}));
        EXPECT_EQ(ReadFileBytes(imagePath("out/w.jpg")), "kept");
        EXPECT_EQ(result.files, reencode ? 9 : 10);
        // An export of the same folder leaves out each file the run refuses or warns is damaged, and names it.
        if (!reencode) {
            ExportRequest request;
            request.imageFolder = imagePath();
            request.dataFile = temp.filePath("tags.txt");
            const ExportResult exported = ExportToEnd(request, temp.filePath("store.ini"));
            QMap<QString, NoteCode> failures;
            for (const ExportedImage &image : exported.images)
                failures.insert(image.name, image.tags.failure.code);
            for (const char *name : {"cut.png", "cut.gif", "cut.psd", "bad.webp"})
                EXPECT_NE(failures.value(name, NoteCode::None), NoteCode::None) << name;
            EXPECT_EQ(failures.value("stray.jpg"), NoteCode::SourceDamaged);
            EXPECT_EQ(failures.value("ok.jpg", NoteCode::FieldsLeftBlank), NoteCode::None);
            QFile::remove(request.dataFile);
            QFile::remove(temp.filePath("store.ini"));
        }
        // A caption XML cannot hold goes nowhere, so IPTC and XMP still agree.
        const FileTags controls = ReadTags(imagePath("out/ctl.jpg"));
        EXPECT_EQ(controls["IPTC:Caption-Abstract"] + controls["XMP-dc:Description"], "");
        EXPECT_EQ(controls["IPTC:DateCreated"], "2024:01:31");
        const FileTags shortLine = ReadTags(imagePath("out/x.jpg"));
        EXPECT_EQ(shortLine["IPTC:Caption-Abstract"] + shortLine["IPTC:DateCreated"] + shortLine["IPTC:Urgency"], "Harbour");
        for (const char *name : {"stray.jpg", "meta.jpg", "empty.tif"}) {
            const FileTags tagged = ReadTags(imagePath("out/") + name);
            EXPECT_EQ(tagged["IPTC:Caption-Abstract"] + tagged["XMP-dc:Description"], "HarbourHarbour") << name;
        }
    }
    SKIP_WITHOUT_REENCODING();
}

TEST_F(EngineTest, OutputsNeverReplaceASourceOrLeaveTheSaveFolderEvenWhenItIsSwappedMidRun)
{
    makeImages({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    QMap<QString, QByteArray> sources;
    for (const QString &name : FolderEntries(imagePath()))
        sources.insert(name, ReadFileBytes(imagePath(name)));
    useScheme({{1, "caption"}});
    loadData({"name", "a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    // Once the first line is written, the save folder's path becomes a link
    // to the image folder: outputs still go to the folder the run opened,
    // and a worker that opens the path afresh writes nothing.
    for (const int workers : {1, 2}) {
        QDir(savePath()).removeRecursively();
        QDir(temp.filePath("opened")).removeRecursively();
        QDir().mkpath(savePath());
        BatchOptions options;
        options.workers = workers;
        const BatchResult result = run(options, [&](BatchRunner &runner) {
            QObject::connect(&runner, &BatchRunner::progress, &runner, [&](int done) {
                if (done == 1 && QDir().rename(temp.filePath("save"), temp.filePath("opened")))
                    QFile::link(imagePath(), temp.filePath("save"));
            });
        });
        for (const LineReport &report : result.reports) {
            if (report.outcome.written())
                EXPECT_TRUE(QFileInfo::exists(temp.filePath("opened/") + report.name)) << report.name.toStdString();
            else
                EXPECT_EQ(Codes(report.outcome), QList<NoteCode>{NoteCode::SaveFolderChanged});
        }
        EXPECT_GE(result.saved(), 1);
        QFile::remove(temp.filePath("save"));
        for (auto it = sources.cbegin(); it != sources.cend(); ++it)
            EXPECT_EQ(ReadFileBytes(imagePath(it.key())), it.value()) << it.key().toStdString();
        EXPECT_EQ(FolderEntries(imagePath()), sources.keys());
    }
}

TEST_F(EngineTest, CancelStopsAfterTheLinesInHandAndNothingChangedReachesTheRun)
{
    makeImages({"a.jpg", "b.jpg", "c.jpg"});
    useScheme({{1, "IPTC_Field2"}});
    loadData({"name\tcaption", "a.jpg\tfirst", "b.jpg\tsecond", "missing.jpg\tnone", "c.jpg\tthird"});
    BatchOptions options;
    options.workers = 1;
    const BatchResult result = run(options, [&](BatchRunner &runner) {
        QObject::connect(&runner, &BatchRunner::progress, &runner, [&](int done) {
            if (done != 1)
                return;
            runner.cancel();
            // What the window does meanwhile must not reach the run.
            app.SavePath = imagePath();
            app.Schemes.Schemes[1].slot(1) = "changed";
            app.Data.DataLines.clear();
            app.Data.LastDataLine = -1;
        });
    });
    EXPECT_TRUE(result.stopped);
    // The worker finishes the line it is on; b, sent ahead, is written only
    // when the worker had begun it before the cancel reached it; c, never.
    const bool begunB = result.saved() == 2;
    EXPECT_EQ(result.saved(), begunB ? 2 : 1) << "the line in hand is finished";
    const QStringList written = begunB ? QStringList{"a.jpg", "b.jpg"} : QStringList{"a.jpg"};
    EXPECT_EQ(FolderEntries(savePath()), written);
    for (const LineReport &report : result.reports)
        EXPECT_LT(report.line, 5) << "c is never planned";
    EXPECT_EQ(ReadTags(savePath("a.jpg")).iptc.value(120), QList<QByteArray>{"first"});
}

// Workers that crash, answer garbage, read nothing, cannot start or stop
// while idle cost at most their line, and the run ends in time.
TEST_F(EngineTest, WorkerFaultsCostOnlyTheirLineAndEveryWaitEnds)
{
    makeImages({"a.tif", "b.jpg", "c.jpg"});
    useScheme({{1, "IPTC_Field2"}});
    // A value larger than a pipe holds: a worker that does not read cannot take the whole request.
    const QByteArray big = QByteArray(300000, 'v');
    loadData({"name\tcaption", "a.tif\t" + big, "missing.jpg\tx", "b.jpg\tb", "c.jpg\tc"});
    // The stub points the variable back at the real worker however this test ends.
    const struct RealWorker {
        const QByteArray path = qgetenv("BRINDLEWAY_WORKER");
        ~RealWorker() { qputenv("BRINDLEWAY_WORKER", path); }
    } real;
    const QString stub = temp.filePath("stub-worker");
    // Each start claims its number with a file only one start can create, however many start at once.
    const QByteArray prelude = "#!/usr/bin/perl\nuse Fcntl;\nbinmode STDIN; binmode STDOUT; $| = 1;\n"
                               "my ($n, $c) = (1);\n$n++ until sysopen($c, \"$0.start$n\", O_WRONLY | O_CREAT | O_EXCL);\n"
                               "print $c $$; close $c;\n"
                               "sub frame { read(STDIN, my $h, 4) == 4 or exit 0; read(STDIN, my $b, unpack('N', $h)); $b }\n"
                               "sub hello { print pack('N', 1), 'H' }\nmy $real = '" + real.path + "';\n";
    const struct {
        const char *fault;
        QByteArray body; // the stub's behaviour; it runs the real worker where it returns
        int workers;
        NoteCode lost;   // what line 1 fails with; None when no line fails
        bool stopIdle;   // the workers are stopped once every line is answered
    } cases[] = {
        {"a crash", "if ($n == 1) { open(my $t, '>', '" + QFile::encodeName(savePath(".brindleway-crash1.part"))
                        + "'); close $t; hello(); frame(); frame(); kill 'KILL', $$; }", 1, NoteCode::WorkerStopped, false},
        // The next line is sent before the first answer: the worker has read both when it dies.
        {"a crash with lines read ahead", "if ($n == 1) { hello(); frame() for 1 .. 3; kill 'KILL', $$; }", 1,
         NoteCode::WorkerStopped, false},
        {"a garbled answer", "if ($n == 1) { hello(); frame(); frame(); print 'not an answer'; sleep; }", 1,
         NoteCode::WorkerGarbled, false},
        {"a worker that reads nothing", "if ($n == 1) { hello(); sleep; }", 1, NoteCode::WorkerTimedOut, false},
        {"a start that fails beside a live worker", "exit 1 if $n == 2;", 2, NoteCode::None, false},
        {"a stopped idle worker", "", 1, NoteCode::None, true},
    };
    // Far above what a line takes here, even on a loaded machine; stubs that hang, hang for ever.
    BatchOptions options;
    options.lineMs = 10000;
    options.graceMs = 1000;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        QDir(savePath()).removeRecursively();
        QDir().mkpath(savePath());
        const auto forgetStarts = [&] {
            for (const QString &claim : QDir(temp.path()).entryList({"stub-worker.start*"}))
                QFile::remove(temp.filePath(claim));
        };
        forgetStarts();
        WriteFileBytes(stub, prelude + c.body + "\nexec $real;\n");
        QFile::setPermissions(stub, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("BRINDLEWAY_WORKER", QFile::encodeName(stub));
        options.workers = c.workers;
        const BatchResult result = run(options, [&](BatchRunner &runner) {
            QObject::connect(&runner, &BatchRunner::progress, &runner, [&](int done, int lines) {
                if (!c.stopIdle || done != lines)
                    return;
                for (const QString &claim : QDir(temp.path()).entryList({"stub-worker.start*"}))
                    ::kill(ReadFileBytes(temp.filePath(claim)).toInt(), SIGSTOP);
            });
        });
        EXPECT_FALSE(result.stopped);
        ASSERT_EQ(result.reports.size(), 4);
        EXPECT_EQ(result.reports.back().line, 4) << "one outcome a line";
        EXPECT_EQ(Codes(result.reports[1].outcome), QList<NoteCode>{NoteCode::SourceMissing});
        EXPECT_EQ(result.reports[0].outcome.notes.value(0).code, c.lost == NoteCode::None ? NoteCode::ValueCut : c.lost);
        EXPECT_EQ(result.saved(), c.lost == NoteCode::None ? 3 : 2);
        if (c.lost == NoteCode::WorkerStopped) {
            EXPECT_EQ(result.reports[0].outcome.notes[0].details, (QStringList{"signal", "9"}));
        }
        const QStringList written = c.lost == NoteCode::None ? QStringList{"a.tif", "b.jpg", "c.jpg"} : QStringList{"b.jpg", "c.jpg"};
        EXPECT_EQ(FolderEntries(savePath()), written);
        if (c.stopIdle)
            continue;
        // An export meets the same faults through the same pool, and they cost it only that image.
        ExportRequest request;
        request.imageFolder = imagePath();
        request.dataFile = temp.filePath("tags.txt");
        request.replace = true;
        request.workers = c.workers;
        request.imageMs = options.lineMs;
        request.graceMs = options.graceMs;
        forgetStarts();
        const ExportResult exported = ExportToEnd(request, temp.filePath("store.ini"));
        ASSERT_EQ(exported.images.size(), 3);
        EXPECT_EQ(exported.images[0].tags.failure.code, c.lost);
        EXPECT_EQ(exported.unreadable(), c.lost == NoteCode::None ? 0 : 1);
        EXPECT_TRUE(exported.written());
        // And so does the check, which does each line in the same workers.
        forgetStarts();
        const BatchCheck check = CheckBatch(app, options);
        ASSERT_EQ(check.lines.size(), 4);
        EXPECT_EQ(check.lines[0].notes.value(0).code, c.lost == NoteCode::None ? NoteCode::ValueCut : c.lost);
        EXPECT_EQ(Codes({LineStatus::Saved, check.lines[2].notes}), QList<NoteCode>{NoteCode::ReplacedFile}) << "the next line goes on";
    }
    qputenv("BRINDLEWAY_WORKER", QFile::encodeName(temp.filePath("none")));
    EXPECT_TRUE(run().refusal.text().startsWith("Cannot start the image worker")) << "never in-process";

    // A system out of threads, as under a process limit: no address space holds a stack this large.
    qputenv("BRINDLEWAY_WORKER", real.path);
    const struct ThreadStarvation {
        pthread_attr_t normal, huge;
        ThreadStarvation()
        {
            pthread_getattr_default_np(&normal);
            pthread_attr_init(&huge);
            pthread_attr_setstacksize(&huge, size_t(1) << 62);
            pthread_setattr_default_np(&huge);
        }
        ~ThreadStarvation() { pthread_setattr_default_np(&normal); }
    } starved;
    pthread_t thread;
    ASSERT_NE(pthread_create(&thread, nullptr, [](void *) -> void * { return nullptr; }, nullptr), 0);
    QDir(savePath()).removeRecursively();
    QDir().mkpath(savePath());
    EXPECT_EQ(run().saved(), 3) << "its groups are put in place all the same";
    EXPECT_EQ(FolderEntries(savePath()), (QStringList{"a.tif", "b.jpg", "c.jpg"}));
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
    // TIFFs of 8-bit strips, every entry one LONG: one page claiming 30000 x 30000, and
    // two pages of which only the second does.
    const auto page = [](quint32 side, quint32 strip, quint32 next) {
        QByteArray ifd = BigEndian(9, 2);
        for (const auto &[tag, value] : std::initializer_list<std::pair<int, quint32>>{
                 {256, side}, {257, side}, {258, 8}, {259, 1}, {262, 1}, {273, strip}, {277, 1}, {278, side}, {279, side * side}})
            ifd += BigEndian(tag, 2) + BigEndian(4, 2) + BigEndian(1, 4) + BigEndian(value, 4);
        return ifd + BigEndian(next, 4);
    };
    WriteFileBytes(imagePath("tall.tif"), QByteArray("MM\0*\0\0\0\x08", 8) + page(30000, 200, 0) + QByteArray(200, '\0'));
    WriteFileBytes(imagePath("pages.tif"), QByteArray("MM\0*\0\0\0\x08", 8) + page(8, 400, 122) + page(30000, 400, 0)
                                               + QByteArray(400 - 8 - 2 * 114, '\0') + QByteArray(64, '\x80'));
    // A JPEG the library cannot decode.
    makeImages({"small.jpg"});
    WriteFileBytes(imagePath("b.jpg"), "\xFF\xD8\xFF\xE0 not a JPEG after all");
    WriteFileBytes(savePath("b.jpg"), "earlier output");
    useScheme({{1, "caption"}});
    loadData({"name", "wide.jpg", "tall.tif", "pages.tif", "small.jpg", "b.jpg"});

    BatchOptions options;
    options.reencode = true;
    options.maxMegapixels = 300;
    const BatchResult result = run(options);
    EXPECT_EQ(result.saved(), 1);
    const QList<LineReport> skipped = result.with(LineStatus::Skipped);
    ASSERT_EQ(LineNames(skipped), (QStringList{"1 wide.jpg", "2 tall.tif", "3 pages.tif"}));
    const auto tooMany = [](const char *megapixels, const char *page) {
        return QList<Note>{{NoteCode::TooManyPixels, {megapixels, "300", page}}};
    };
    EXPECT_EQ(skipped[0].outcome.notes, tooMany("4290.3", "0"));
    EXPECT_EQ(skipped[1].outcome.notes, tooMany("900.0", "0"));
    EXPECT_EQ(skipped[2].outcome.notes, tooMany("900.0", "2"));
    EXPECT_EQ(LineNames(result.with(LineStatus::Failed)), QStringList{"5 b.jpg"});
    EXPECT_EQ(ReadFileBytes(savePath("b.jpg")), "earlier output");
    EXPECT_EQ(FolderEntries(savePath()), (QStringList{"b.jpg", "small.jpg"})) << "no partial file";
}

TEST_F(EngineTest, SavingFollowsNoLinkOrDotDotAndKeepsWhatItMayNotReplace)
{
    SaveFolder folder;
    ASSERT_EQ(folder.open(savePath()), QString());
    const FileIdentity source = *IdentityOf(imagePath());
    // Writes `bytes` into a fresh temporary for `name` and puts it in place; what stood in the way.
    const auto save = [&](const QString &name, const QByteArray &bytes, bool finish = true) {
        OutputTemporary temporary;
        if (Note why = temporary.create(folder, name, source))
            return why;
        EXPECT_EQ(::write(temporary.handle(), bytes.constData(), size_t(bytes.size())), bytes.size());
        WrittenOutput written;
        if (!finish)
            return Note{NoteCode::WriteFailed, {}};
        if (Note why = temporary.finish(written))
            return why;
        return folder.commit({{name, written}}, {}).value(0).failure;
    };
    QDir().mkpath(savePath("sub"));
    QDir().mkpath(temp.filePath("elsewhere"));
    QFile::link(temp.filePath("elsewhere"), savePath("away"));
    QFile::link(savePath("sub"), savePath("inside"));
    for (const QString &name : {QString("sub/../a.jpg"), QString("away/a.jpg"), QString("inside/a.jpg"),
                                QString("sub/a.jpg/b.jpg"), QString("missing/a.jpg"), QString("sub/"),
                                QString("a.jpg") + QChar(0) + "/../../x.jpg"})
        EXPECT_TRUE(save(name, "new")) << name.toStdString();
    EXPECT_TRUE(FolderEntries(temp.filePath("elsewhere")).isEmpty());

    const QString longName = QString(246, QLatin1Char('n')) + ".jpg";
    for (const auto &[name, mode] : {std::pair{QStringLiteral("private.jpg"), 0600}, {longName, 0644}, {"ro.jpg", 0444}}) {
        WriteFileBytes(savePath(name), "old");
        ::chmod(QFile::encodeName(savePath(name)).constData(), mode);
        // Failing, writing nothing, then succeeding: only the last may replace, and only a writable file.
        EXPECT_TRUE(save(name, "partial", false));
        EXPECT_TRUE(save(name, {}));
        EXPECT_EQ(!save(name, "new"), mode != 0444);
        EXPECT_EQ(ReadFileBytes(savePath(name)), mode == 0444 ? "old" : "new");
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(savePath(name)).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, mode) << "kept, as root too";
    }
    // A copy whose sidecar cannot follow it stays out too, and nothing is replaced.
    WriteFileBytes(savePath("raw.nef"), "old");
    QList<CommitItem> pair;
    std::vector<OutputTemporary> temporaries(2);
    for (const QString &name : {QStringLiteral("raw.nef"), QStringLiteral("raw.xmp")}) {
        OutputTemporary &temporary = temporaries[size_t(pair.size())];
        ASSERT_FALSE(temporary.create(folder, name, source));
        EXPECT_EQ(::write(temporary.handle(), "new", 3), 3);
        pair.append({name, {}, pair.isEmpty()});
        ASSERT_FALSE(temporary.finish(pair.last().written));
    }
    // Something takes the sidecar's name between writing and putting in place.
    QDir().mkpath(savePath("raw.xmp"));
    const QList<Committed> placed = folder.commit(pair, {});
    EXPECT_EQ(placed.value(0).failure.code, NoteCode::OutputInTheWay);
    EXPECT_EQ(ReadFileBytes(savePath("raw.nef")), "old");
    EXPECT_EQ(FolderEntries(savePath()).size(), 8) << "no temporary is left";
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
    EXPECT_EQ(run().saved(), 1);
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
