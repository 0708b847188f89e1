#include "enginefixture.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {
QStringList names(const QList<LineProblem> &problems)
{
    QStringList list;
    for (const LineProblem &problem : problems)
        list.append(QStringLiteral("%1 %2").arg(problem.line).arg(problem.fileName));
    return list;
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

TEST_F(EngineTest, RefusalsComeInOrderAndWriteNothing)
{
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"));
    useScheme({});
    EXPECT_EQ(run().refusal, NoEntriesMessage) << "before any data file";
    loadData({"a.jpg"});
    EXPECT_EQ(run().refusal, NoEntriesMessage) << "header line alone";

    app.SavePath = app.ImagePath;
    app.Data.LastDataLine = -1;
    EXPECT_EQ(run().refusal, NoEntriesMessage) << "the first check wins";

    loadData({"name", "a.jpg"});
    QFile::link(imagePath(), temp.filePath(QStringLiteral("link")));
    const QStringList sameFolder{
        imagePath(),
        imagePath() + QLatin1Char('/'),
        temp.filePath(QStringLiteral("images/./")),
        temp.filePath(QStringLiteral("save/../images")),
        temp.filePath(QStringLiteral("link")),
    };
    for (const QString &spelling : sameFolder) {
        app.SavePath = spelling;
        EXPECT_EQ(run().refusal, SamePathMessage) << spelling.toStdString();
    }
    app.ImagePath.clear();
    app.SavePath.clear();
    EXPECT_EQ(run().refusal, SamePathMessage) << "neither folder chosen";

    app.ImagePath = imagePath();
    EXPECT_EQ(run().refusal, NoFolderMessage);

    app.SavePath = savePath();
    app.SelectedScheme = -1;
    EXPECT_EQ(run().refusal, NoSchemeMessage);
    app.SelectedScheme = 1;
    EXPECT_EQ(run().refusal, NoSchemeMessage) << "past the last scheme";

    app.SelectedScheme = 0;
    state.Busy = true;
    EXPECT_EQ(run().refusal, BusyMessage);
    EXPECT_TRUE(state.Busy);

    EXPECT_TRUE(folderEntries(savePath()).isEmpty());
    state.Busy = false;
    EXPECT_FALSE(run().refused());
}

TEST_F(EngineTest, EveryLineIsAccountedForAndTheRunGoesOn)
{
    MakeImage(imagePath(QStringLiteral("header.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("ok.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("sub/deep.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("nosub/lost.jpg")), QStringLiteral("jpg"));
    MakeImage(temp.filePath(QStringLiteral("outside.jpg")), QStringLiteral("jpg"));
    WriteFileBytes(imagePath(QStringLiteral("notes.jpg")), "not an image at all");
    QDir().mkpath(savePath(QStringLiteral("sub")));
    useScheme({{1, QStringLiteral("IPTC_Field2")}, {FileNameSlot, QStringLiteral("IPTC_Field2")}});
    // Slot 24 names field 2 so that a line can give an empty name.
    loadData({
        "x\theader.jpg",
        "1\tok.jpg",
        "2\tmissing.jpg",
        "3\t",
        "4\tsub\\deep.jpg",
        "5\tnosub\\lost.jpg",
        "6\t..\\outside.jpg",
        "7\t/etc/hostname",
        "8\tnotes.jpg",
        "9\tsub",
    });

    RecordingProgress progress;
    const BatchResult result = BatchTag(state, app, {}, &progress, {});
    EXPECT_FALSE(result.refused());
    EXPECT_EQ(result.lines, 9);
    EXPECT_EQ(result.tagged, 3);
    EXPECT_EQ(result.saved, 2);
    EXPECT_EQ(names(result.skipped), (QStringList{QStringLiteral("2 missing.jpg"), QStringLiteral("3 "),
                                                  QStringLiteral("6 ..\\outside.jpg"), QStringLiteral("7 /etc/hostname"),
                                                  QStringLiteral("8 notes.jpg"), QStringLiteral("9 sub")}));
    EXPECT_EQ(names(result.failed), QStringList{QStringLiteral("5 nosub\\lost.jpg")});
    for (const LineProblem &problem : result.skipped + result.failed)
        EXPECT_FALSE(problem.reason.isEmpty()) << problem.line;
    EXPECT_TRUE(result.failed[0].reason.contains(QStringLiteral("does not exist")));
    EXPECT_FALSE(result.allTaggedAndSaved());

    EXPECT_TRUE(QFile::exists(savePath(QStringLiteral("ok.jpg"))));
    EXPECT_TRUE(QFile::exists(savePath(QStringLiteral("sub/deep.jpg"))));
    EXPECT_FALSE(QFile::exists(savePath(QStringLiteral("header.jpg")))) << "the header line names no image";
    EXPECT_EQ(folderEntries(savePath()), (QStringList{QStringLiteral("ok.jpg"), QStringLiteral("sub")}));
    EXPECT_EQ(folderEntries(savePath(QStringLiteral("sub"))), QStringList{QStringLiteral("deep.jpg")});
    EXPECT_EQ(folderEntries(temp.path()), (QStringList{QStringLiteral("data.txt"), QStringLiteral("images"),
                                                       QStringLiteral("outside.jpg"), QStringLiteral("save")}));

    QStringList expected{QStringLiteral("value 0"), QStringLiteral("max 9"), QStringLiteral("show")};
    for (int L = 1; L <= 9; ++L)
        expected.append(QStringLiteral("value %1").arg(L));
    expected.append(QStringLiteral("hide"));
    EXPECT_EQ(progress.calls, expected);
    EXPECT_FALSE(state.Busy);
    EXPECT_FALSE(state.CurrentImage) << "no image is held after the run";
}

TEST_F(EngineTest, AFailedSaveLeavesNoPartialFileAndKeepsTheEarlierOutput)
{
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("b.pcx")), QStringLiteral("pcx"));
    WriteFileBytes(savePath(QStringLiteral("b.pcx")), "earlier output");
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "a.jpg", "b.pcx"});

    // The library reads PCX but cannot write it.
    const BatchResult result = run();
    EXPECT_EQ(names(result.failed), QStringList{QStringLiteral("2 b.pcx")});
    EXPECT_EQ(ReadFileBytes(savePath(QStringLiteral("b.pcx"))), "earlier output");
    EXPECT_EQ(folderEntries(savePath()), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.pcx")}));
}

TEST_F(EngineTest, AReadOnlySaveFolderFailsEveryLineAndKeepsItsFiles)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("b.jpg")), QStringLiteral("jpg"));
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "a.jpg", "b.jpg"});
    ASSERT_EQ(run().saved, 2);

    // A read-only output is protected as the user meant, though a rename could replace it.
    const QByteArray protectedOutput = ReadFileBytes(savePath(QStringLiteral("b.jpg")));
    ASSERT_TRUE(QFile::setPermissions(savePath(QStringLiteral("b.jpg")), QFileDevice::ReadOwner));
    useScheme({{1, QStringLiteral("new caption")}});
    EXPECT_EQ(names(run().failed), QStringList{QStringLiteral("2 b.jpg")});
    EXPECT_EQ(ReadFileBytes(savePath(QStringLiteral("b.jpg"))), protectedOutput);

    const QByteArray earlier = ReadFileBytes(savePath(QStringLiteral("a.jpg")));
    ASSERT_TRUE(QFile::setPermissions(savePath(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const BatchResult result = run();
    QFile::setPermissions(savePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(result.saved, 0);
    EXPECT_EQ(result.failed.size(), 2);
    EXPECT_EQ(ReadFileBytes(savePath(QStringLiteral("a.jpg"))), earlier);
    EXPECT_EQ(folderEntries(savePath()), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));
}

TEST_F(EngineTest, OutputsNeverReplaceASourceOrLeaveTheSaveFolder)
{
    // The save folder inside the image folder: line 2's source is where line 1 would write.
    app.SavePath = imagePath(QStringLiteral("out"));
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("out/a.jpg")), QStringLiteral("jpg"));
    const QByteArray source = ReadFileBytes(imagePath(QStringLiteral("out/a.jpg")));
    // A subfolder of the save folder that is a link to somewhere else.
    QDir().mkpath(temp.filePath(QStringLiteral("elsewhere")));
    QFile::link(temp.filePath(QStringLiteral("elsewhere")), imagePath(QStringLiteral("out/away")));
    MakeImage(imagePath(QStringLiteral("away/c.jpg")), QStringLiteral("jpg"));
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "a.jpg", "out\\a.jpg", "away\\c.jpg"});

    const BatchResult result = run();
    EXPECT_EQ(names(result.skipped), (QStringList{QStringLiteral("1 a.jpg"), QStringLiteral("3 away\\c.jpg")}));
    EXPECT_EQ(names(result.failed), QStringList{QStringLiteral("2 out\\a.jpg")}) << "its own output folder is missing";
    EXPECT_EQ(ReadFileBytes(imagePath(QStringLiteral("out/a.jpg"))), source);
    EXPECT_TRUE(folderEntries(temp.filePath(QStringLiteral("elsewhere"))).isEmpty());
}

TEST_F(EngineTest, AppendFileNameGoesBeforeTheExtension)
{
    MakeImage(imagePath(QStringLiteral("img001.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("noext")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("my.dir/scan")), QStringLiteral("png"));
    QDir().mkpath(savePath(QStringLiteral("my.dir")));
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "img001.jpg", "noext", "my.dir\\scan"});
    BatchOptions options;
    options.saveOption = SaveOption::AppendFileName;
    options.appendText = QStringLiteral("IPTC");
    EXPECT_EQ(run(options).saved, 3);
    EXPECT_EQ(folderEntries(savePath()),
              (QStringList{QStringLiteral("img001IPTC.jpg"), QStringLiteral("my.dir"), QStringLiteral("noextIPTC")}));
    EXPECT_EQ(folderEntries(savePath(QStringLiteral("my.dir"))), QStringList{QStringLiteral("scanIPTC")});
    EXPECT_EQ(ReadIptcWithExifTool(savePath(QStringLiteral("img001IPTC.jpg"))).value(120), QList<QByteArray>{"caption"});
}

TEST_F(EngineTest, YieldComesOncePerImageBeforeItsSaveAndCanStopTheRun)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        MakeImage(imagePath(QString::fromLatin1(name)), QStringLiteral("jpg"));
    useScheme({{1, QStringLiteral("IPTC_Field2")}});
    loadData({"name\tcaption", "a.jpg\tfirst", "missing.jpg\tnone", "b.jpg\tsecond", "c.jpg\tthird"});

    int yields = 0;
    BatchResult nested;
    const BatchResult result = BatchTag(state, app, {}, nullptr, [&] {
        ++yields;
        EXPECT_FALSE(QFile::exists(savePath(yields == 1 ? QStringLiteral("a.jpg") : QStringLiteral("b.jpg"))));
        // What the window does while events are processed must not reach the run.
        nested = BatchTag(state, app, {}, nullptr, {});
        app.SavePath = imagePath();
        app.Schemes.Schemes[1].slot(1) = QStringLiteral("changed");
        app.Data.DataLines.clear();
        app.Data.LastDataLine = -1;
        return yields < 2;
    });
    EXPECT_EQ(yields, 2);
    EXPECT_EQ(nested.refusal, BusyMessage);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.saved, 2);
    EXPECT_FALSE(QFile::exists(savePath(QStringLiteral("c.jpg"))));
    EXPECT_EQ(ReadIptcWithExifTool(savePath(QStringLiteral("b.jpg"))).value(120), QList<QByteArray>{"second"});
    EXPECT_FALSE(state.Busy);
}
