#include "engine/platform/freeimagelayer.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>

namespace {
struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

class BatchCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
        // The command's per-user store in a folder of the test's own.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")));
        QDir().mkpath(path("save"));
        for (const char *name : {"images/a.jpg", "images/b.jpg"})
            MakeImage(path(name), "jpg");
    }

    QString path(const QString &name) const { return temp.filePath(name); }

    Outcome run(const QStringList &arguments)
    {
        Outcome outcome;
        outcome.out = RunTool(program, arguments, &outcome.status, &outcome.err);
        return outcome;
    }
    QStringList batch(const QString &scheme, const QStringList &more = {})
    {
        return QStringList{"--data", path("data.txt"), "--images", path("images"), "--save", path("save"), "--scheme", scheme}
            + more;
    }

    QTemporaryDir temp;
    const QString store = temp.filePath("config/Brindleway/Brindleway.ini");
    const QString program = qEnvironmentVariable("BRINDLEWAY_BUILD_DIR") + "/src/app/brindleway-batch";
};
} // namespace

TEST_F(BatchCommandTest, RunsTheFirstSchemeOfANameInEitherModeAndSaysHowEachLineWent)
{
    // Slots a scheme does not name are left blank; the file name falls back to field 1.
    WriteFileBytes(store, "[Parsing1]\nName=Press\nTag1=first\n[Parsing2]\nName=Archive\n[Parsing3]\nName=Press\nTag1=second\n");
    Outcome outcome = run({"--list-schemes"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Press\nArchive\nPress\n");

    // GNU's two informational options; -h is --help. The window answers
    // them without a display, and the worker, no command, says so at once.
    EXPECT_TRUE(run({"--version"}).out.startsWith("brindleway-batch (Brindleway) " BRINDLEWAY_VERSION "\nCopyright"));
    EXPECT_EQ(run({"-h"}).out, run({"--help"}).out);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    const QString window = QFileInfo(program).dir().filePath("brindleway");
    for (const char *option : {"--version", "--help"}) {
        int status = -1;
        EXPECT_TRUE(RunTool(window, {option}, &status).startsWith(option[2] == 'v' ? "brindleway (Brindleway)" : "Usage:"));
        EXPECT_EQ(status, 0) << option;
    }
    qputenv("QT_QPA_PLATFORM", platform);
    int status = -1;
    QByteArray said;
    RunTool(qEnvironmentVariable("BRINDLEWAY_WORKER"), {"--help"}, &status, &said);
    EXPECT_EQ(status, 2);
    EXPECT_FALSE(said.isEmpty());

    WriteFileBytes(path("data.txt"), "name\r\na.jpg\r\nb.jpg\r\n");
    const QByteArray source = ReadFileBytes(path("images/b.jpg"));
    const QByteArray scan = source.mid(source.indexOf("\xFF\xDA"));
    if (ReencodingAvailable()) {
        outcome = run(batch("Press", {"--append", "IPTC", "--reencode"}));
        EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
        EXPECT_EQ(outcome.out, "Lines: 2\nSaved: 2\nFiles: 2\nSkipped: 0\nFailed: 0\nWarnings: 0\n");
        EXPECT_TRUE(outcome.err.isEmpty()) << "no progress bar when stderr is not a terminal";
        EXPECT_EQ(ReadTags(path("save/bIPTC.jpg")).iptc.value(120), QList<QByteArray>{"first"});
        EXPECT_FALSE(ReadFileBytes(path("save/bIPTC.jpg")).endsWith(scan)) << "re-encoded";
    }
    EXPECT_EQ(run(batch("Press", {"--lossless"})).status, 0);
    EXPECT_TRUE(ReadFileBytes(path("save/b.jpg")).endsWith(scan)) << "tags only by default";

    WriteFileBytes(path("data.txt"), "name\na.jpg\ngone.jpg\n");
    QDir(path("save")).removeRecursively();
    QDir().mkpath(path("save"));
    // A check writes nothing and tells the lines apart by the data file's
    // row; standard output holds the table alone, to import as it is.
    outcome = run(batch("Press", {"--check"}));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Lines: 2, with problems: 1\n");
    const QList<QByteArray> rows = outcome.out.split('\n');
    ASSERT_EQ(rows.size(), 4) << outcome.out.toStdString();
    EXPECT_TRUE(rows[1].startsWith("ok\t2\t1\t") && rows[1].endsWith("\tCaption/Abstract=first"));
    EXPECT_TRUE(rows[2].startsWith("PROBLEM\t3\t2\t") && rows[2].contains("the image file does not exist"));
    EXPECT_TRUE(QDir(path("save")).isEmpty());
    outcome = run(batch("Press"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "Lines: 2\nSaved: 1\nFiles: 1\nSkipped: 1\nFailed: 0\nWarnings: 0\n"
                           "Skipped row 3, gone.jpg: the image file does not exist\n");
    // Again with --skip-existing: an output already there is left byte for
    // byte and only the new line is written; the check foresees the same.
    WriteFileBytes(path("data.txt"), "name\na.jpg\nb.jpg\n");
    WriteFileBytes(path("save/a.jpg"), "last week's");
    const QList<QByteArray> foreseen = run(batch("Press", {"--check", "--skip-existing"})).out.split('\n');
    ASSERT_EQ(foreseen.size(), 4);
    EXPECT_TRUE(foreseen[1].startsWith("PROBLEM\t2\t1\t") && foreseen[2].startsWith("ok\t3\t2\t"));
    outcome = run(batch("Press", {"--skip-existing"}));
    EXPECT_TRUE(outcome.out.startsWith("Lines: 2\nSaved: 1\nFiles: 1\nSkipped: 1\nFailed: 0\nWarnings: 0\nSkipped row 2, a.jpg"));
    EXPECT_EQ(ReadFileBytes(path("save/a.jpg")), "last week's");
    EXPECT_EQ(ReadTags(path("save/b.jpg")).iptc.value(120), QList<QByteArray>{"first"});
    // A raw file's own copy decides, not its sidecar: r1's copy is there, only r2's sidecar is.
    const QByteArray nef = QByteArray("MM\0*\0\0\0\x08", 8) + QByteArray(600, 'r');
    for (const char *name : {"images/r1.nef", "images/r2.nef"})
        WriteFileBytes(path(name), nef);
    WriteFileBytes(path("save/r1.nef"), "last week's");
    WriteFileBytes(path("save/r2.xmp"), "last week's");
    WriteFileBytes(path("data.txt"), "name\nr1.nef\nr2.nef\n");
    const QList<QByteArray> raws = run(batch("Press", {"--check", "--skip-existing"})).out.split('\n');
    ASSERT_EQ(raws.size(), 4);
    EXPECT_TRUE(raws[1].startsWith("PROBLEM\t2\t1\t") && raws[2].startsWith("PROBLEM\t3\t2\t"));
    outcome = run(batch("Press", {"--skip-existing"}));
    EXPECT_TRUE(outcome.out.startsWith("Lines: 2\nSaved: 1\nFiles: 2\nSkipped: 1\nFailed: 0\nWarnings: 1\nSkipped row 2, r1.nef"))
        << outcome.out.toStdString();
    EXPECT_EQ(ReadFileBytes(path("save/r1.nef")), "last week's");
    EXPECT_EQ(ReadFileBytes(path("save/r2.nef")), nef);
    EXPECT_EQ(ReadTags(path("save/r2.xmp"))["XMP-dc:Description"], "first");

    // Any encoding but Windows-1252 gives IPTC in UTF-8, declared by 1:90, where a value needs it.
    WriteFileBytes(path("data.txt"), "name\tcity\na.jpg\t\xA3\xF3\x64\x9F\n");
    WriteFileBytes(store, "[Parsing1]\nName=Press\nTag8=IPTC_Field2\n");
    QFile::remove(path("save/a.jpg"));
    EXPECT_EQ(run(batch("Press", {"--encoding", "Windows-1250"})).status, 0);
    const FileTags tags = ReadTags(path("save/a.jpg"));
    EXPECT_EQ(tags.iptc.value(90), QList<QByteArray>{"Łódź"});
    EXPECT_EQ(tags["IPTC:CodedCharacterSet"], "\x1b%G");
    if (!ReencodingAvailable())
        GTEST_SKIP() << ReencodingUnavailableMessage.toStdString();
}

TEST_F(BatchCommandTest, RefusalsExitWithTwoAndSayWhyOnStandardError)
{
    WriteFileBytes(store, "[Parsing1]\nName=Press\nTag1=caption\n");
    WriteFileBytes(path("data.txt"), "name\na.jpg\n");
    // What --force must never replace: an image only the image library knows, and a sidecar.
    WriteFileBytes(path("images/a.bmp"), QByteArray("BM\x3a\0\0\0\0\0", 8));
    WriteFileBytes(path("images/a.xmp"), "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    QStringList samePath = batch("Press");
    samePath[5] = path("images/");
    QStringList missingData = batch("Press");
    missingData[1] = path("nothing.txt");
    // Folders that are missing or no folders are refused before any line, with the reason.
    QStringList noImages = batch("Press");
    noImages[3] = path("data.txt");
    QStringList noSave = batch("Press");
    noSave[5] = path("nowhere");
    const struct {
        QStringList arguments;
        const char *said;
    } refused[]{
        {samePath, "Open path must differ from save path"},
        {samePath + QStringList{"--check"}, "Open path must differ from save path"},
        {batch("press"), "no stored parsing scheme"},
        {noImages, "Cannot read the image folder"},
        {noSave + QStringList{"--check"}, "Cannot save into the folder"},
        {noSave, "it does not exist"},
        {missingData, "cannot read data file"},
        {{"--data"}, ""},
        {{"--images", path("images")}, "--data is missing"},
        {{"--bogus"}, ""},
        {batch("Press", {"--encoding", "latin-1"}), "unknown encoding"},
        {batch("Press", {"--lossless", "--reencode"}), "exclude each other"},
        {batch("Press", {"--max-megapixels", "0"}), "--max-megapixels"},
        {{"--export", "--images", path("nowhere"), "--data", path("x.txt")}, "Cannot read the image folder"},
        {{"--export", "--images", path("images"), "--data", path("data.txt")}, "already exists (--force replaces it)"},
        {{"--export", "--images", path("images"), "--data", path("images/a.jpg"), "--force"}, "it is an image"},
        {{"--export", "--images", path("images"), "--data", path("images/a.bmp"), "--force"}, "it is an image or no text"},
        {{"--export", "--images", path("images"), "--data", path("images/a.xmp"), "--force"}, "it is an XMP sidecar"},
        {{"--export", "--images", path("images"), "--data", path("nowhere/x.txt")}, "Cannot write the data file"},
        {{"--export", "--images", path("images"), "--data", path("x.txt"), "--scheme", "Press"}, "already named \"Press\""},
        {batch("Press", {"--export"}), "--save does not go with --export"},
        {batch("Press", {"--force"}), "--force goes only with --export"},
    };
    for (const auto &c : refused) {
        const Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.err.contains(c.said)) << outcome.err.toStdString();
    }
    if (!ReencodingAvailable()) {
        const Outcome outcome = run(batch("Press", {"--reencode", "--check"}));
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, "brindleway-batch: " + ReencodingUnavailableMessage.toUtf8() + '\n');
    }
    EXPECT_TRUE(QDir(path("save")).isEmpty());
}

TEST_F(BatchCommandTest, ListingSchemesTellsAStoreNotUnderstoodOrUnreadable)
{
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    const struct {
        QByteArray bytes; // empty: the store is a folder
        int status;
        QByteArray out;
        const char *named; // on standard error
    } cases[] = {
        {"[Parsing1]\nName=A\n", 0, "A\n", ""},
        {"[Parsing1]\nName=A\n\x01\xff garbage\n[Parsing3]\nName=C\n", 1, "A\n", "line 3 in [Parsing1] is not UTF-8 text"},
        {utf16(QStringLiteral("[Parsing1]\nName=A\n")), 1, "", "line 2 is not UTF-8 text"},
        {{}, 2, "", "it is a folder"},
    };
    for (const auto &c : cases) {
        QFile::remove(store);
        if (c.bytes.isEmpty())
            QDir().mkpath(store);
        else
            WriteFileBytes(store, c.bytes);
        const Outcome outcome = run({"--list-schemes"});
        EXPECT_EQ(outcome.status, c.status) << c.named;
        EXPECT_EQ(outcome.out, c.out) << c.named;
        EXPECT_TRUE(outcome.err.contains(c.named)) << outcome.err.toStdString();
    }
    EXPECT_EQ(run(batch("A")).status, 2);
}

// Export, a run with what it wrote, and an export of the run's outputs give
// the same data file byte for byte, and every output the IPTC and XMP of its
// source, but for the side the export names as left out.
TEST_F(BatchCommandTest, ExportedTagsComeBackExactlyThroughARunAndWhatCannotIsNamed)
{
    const QString caption = "Two\r\nlines,\ta \"quote\"\nand more";
    const QStringList oldAndNew{"-IPTC:Caption-Abstract=Old caption", "-XMP-dc:Description=New caption"};
    // Properties of XMP alone, a list and fields of structures among them; the city is changed in the data file.
    const QStringList xmpOnly{"-XMP-iptcCore:AltTextAccessibility=Alt text", "-XMP-iptcCore:CreatorCity=Bern",
                              "-XMP-iptcExt:PersonInImage=Ann", "-XMP-iptcExt:PersonInImage=Bo Li",
                              "-XMP-iptcExt:LocationShownCity=Oslo", "-XMP-iptcExt:LocationShownCountryName=Norway",
                              "-XMP-plus:LicensorName=Agency", "-XMP-plus:ModelReleaseStatus#=MR-NON"};
    const struct {
        const char *name;
        QStringList exiftool;
        const char *changed; // the tag whose value the export left out
        const char *said;    // on standard error
    } images[] = {
        {"a.jpg", {"-charset", "iptc=Latin", "-IPTC:Caption-Abstract=Café “quoted” €5", "-IPTC:City=Zürich",
                   "-IPTC:Keywords=harbour", "-IPTC:Keywords=boats at dawn", "-IPTC:By-line=Ann Ødegård",
                   "-IPTC:DateCreated=2024:01:31", "-IPTC:TimeCreated=10:15:30+01:00"}, "", ""},
        {"b.jpg", {"-IPTC:CodedCharacterSet=UTF8", "-IPTC:Headline=Łódź ☃", "-IPTC:Keywords=żółw", "-IPTC:Keywords=貓",
                   "-IPTC:City=Kraków"}, "", ""},
        // XML reads a CR LF in a packet as LF (ExifTool alone keeps the CR), so the XMP caption has none.
        {"c.png", {"-XMP-dc:Description=" + QString(caption).remove('\r'), "-XMP-dc:Subject=a", "-XMP-dc:Subject=b c", "-XMP-dc:Creator=Bob",
                   "-XMP-photoshop:DateCreated=2024:01:31 10:15:30+01:00"}, "", ""},
        {"d.jpg", oldAndNew + QStringList{"-Photoshop:IPTCDigest=00112233445566778899aabbccddeeff"}, "XMP-dc:Description",
         "Warning d.jpg: Caption/Abstract: IPTC and XMP differ, and the XMP value \"New caption\" was left out\n"},
        {"e.jpg", oldAndNew + QStringList{"-Photoshop:IPTCDigest=new"}, "IPTC:Caption-Abstract",
         "Warning e.jpg: Caption/Abstract: IPTC and XMP differ, and the IPTC value \"Old caption\" was left out\n"},
        {"f.tif", {"-charset", "iptc=Latin", "-IPTC:Caption-Abstract=" + caption, "-IPTC:Keywords=x", "-IPTC:Keywords=y",
                   "-XMP-dc:Subject=x", "-XMP-dc:Subject=y"}, "", ""},
        // A spreadsheet would run the first as a formula; the numbers stay numbers.
        {"formula.jpg", {"-IPTC:Caption-Abstract==1+1", "-IPTC:Headline=-5", "-IPTC:City=+3.2"}, "",
         "Warning formula.jpg: Caption/Abstract:"},
        {"g.jpg", {}, "", "Unreadable g.jpg: cannot read the image: Too many levels of symbolic links\n"},
        {"k.jpg", xmpOnly, "", ""},
        {"k.png", xmpOnly, "", ""},
        {"k.tif", xmpOnly, "", ""},
        {"k.webp", xmpOnly, "", ""},
        // A camera raw file's tags are its sidecar's.
        {"h.nef", {"-XMP-dc:Description=Raw", "-XMP-dc:Subject=r1", "-XMP-dc:Subject=r2"}, "", ""},
    };
    const auto raw = [](const QString &name) { return name.endsWith(".nef"); };
    const auto tagged = [&](const QString &file) { return raw(file) ? file.chopped(4) + ".xmp" : file; };
    QDir(path("images")).removeRecursively();
    QDir().mkpath(path("empty"));
    for (const auto &image : images) {
        const QString source = path("images/") + image.name;
        if (image.exiftool.isEmpty()) {
            // Unreadable whoever runs the test, root included.
            QFile::link(source, source);
            continue;
        }
        MakeImage(source, raw(source) ? "tif" : QFileInfo(source).suffix());
        RunTool("exiftool", QStringList{"-q", "-overwrite_original"} + image.exiftool + QStringList{tagged(source)});
    }
    // Left out, each named: no image, a raw file without a sidecar, and a run's temporary holding a whole photo.
    WriteFileBytes(path("images/notes.jpg"), "not a photo");
    QFile::copy(path("images/h.nef"), path("images/i.nef"));
    QFile::copy(path("images/a.jpg"), path("images/.brindleway-Ab3xY9.part"));
    const QStringList exportTo{"--export", "--data", path("data.txt"), "--images", path("images")};
    Outcome outcome = run(exportTo + QStringList{"--images", path("empty")});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.contains("holds no image")) << outcome.err.toStdString();
    outcome = run(exportTo + QStringList{"--encoding", "windows-1252"});
    EXPECT_EQ(outcome.status, 2);
    // Every value it cannot hold, by image and field.
    for (const char *value : {"b.jpg, Headline: \u201c\u0141\u201d", "b.jpg, Keywords: \u201c\u017c\u201d"})
        EXPECT_TRUE(outcome.err.contains(value)) << outcome.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("data.txt")));

    outcome = run(exportTo);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "Images: 13\nExported: 12\nUnreadable: 1\nLeft out: 3\nWarnings: 3\nColumns: 15\nData file: " + path("data.txt").toUtf8()
                               + "\nScheme: Exported\n");
    for (const auto &image : images)
        EXPECT_TRUE(outcome.err.contains(image.said)) << outcome.err.toStdString();
    EXPECT_EQ(outcome.err.count("Warning formula.jpg"), 1) << outcome.err.toStdString();
    for (const char *name : {"notes.jpg", "i.nef", ".brindleway-Ab3xY9.part"})
        EXPECT_TRUE(outcome.err.contains(QByteArray("Left out ") + name + ": ")) << outcome.err.toStdString();
    EXPECT_FALSE(outcome.err.contains("Left out h.xmp")) << "read for h.nef";
    QByteArray first = ReadFileBytes(path("data.txt"));
    EXPECT_TRUE(first.startsWith("\xEF\xBB\xBF" "FILE NAME\tCaption/Abstract\tHeadline\tKeywords\tDateCreated\tCity\tByLine\tTime created"
                                 "\tAlt Text (Accessibility)\tCreator's city\tPerson In Image\tLocation Shown: city"
                                 "\tLocation Shown: country name\tLicensor\tModel Release Status\r\n"));
    const QByteArray noXmp(7, '\t');
    EXPECT_TRUE(first.contains("\r\nc.png\t\"Two\nlines,\ta \"\"quote\"\"\nand more\"\t\ta;b c\t20240131\t\tBob\t101530+0100" + noXmp + "\r\n"));
    EXPECT_TRUE(first.contains("\r\nh.nef\tRaw\t\tr1;r2\t\t\t\t" + noXmp + "\r\n"));
    EXPECT_TRUE(first.contains("\r\nk.webp\t\t\t\t\t\t\t\tAlt text\tBern\tAnn;Bo Li\tOslo\tNorway\tAgency\t"
                               "http://ns.useplus.org/ldf/vocab/MR-NON\r\n"));
    first.replace("\tOslo\t", "\tBergen\t");
    WriteFileBytes(path("data.txt"), first);

    outcome = run(batch("Exported"));
    EXPECT_EQ(outcome.status, 0) << outcome.out.toStdString();
    // The formula comes back as it was, and is named again.
    outcome = run({"--export", "--data", path("again.txt"), "--images", path("save")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.count("Warning "), 1) << outcome.err.toStdString();
    EXPECT_EQ(ReadFileBytes(path("again.txt")), first);
    for (const auto &image : images) {
        if (image.exiftool.isEmpty())
            continue;
        const FileTags source = ReadTags(tagged(path("images/") + image.name));
        const FileTags output = ReadTags(tagged(path("save/") + image.name));
        for (auto it = source.tags.begin(); it != source.tags.end(); ++it) {
            static const QRegularExpression compared("^(IPTC|XMP-(?!x:)[^:]*):(?!IPTC$)");
            if (it.key() == "XMP-iptcExt:LocationShownCity") {
                EXPECT_EQ(output.tags.value(it.key()), "Bergen") << image.name;
            } else if (compared.match(it.key()).hasMatch()) {
                EXPECT_EQ(output.tags.value(it.key()) == it.value(), it.key() != image.changed)
                    << image.name << ' ' << it.key().toStdString() << " " << it.value().toStdString() << " -> " << output.tags.value(it.key()).toStdString();
            }
        }
    }
}
