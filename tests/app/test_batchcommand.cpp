#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

namespace {
struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0) << program.toStdString();
    return process.readAllStandardOutput();
}

ParsingScheme scheme(const QString &name, const QString &caption)
{
    ParsingScheme s;
    s.Name = name;
    for (QString &slot : s.Slots)
        slot = LeaveBlank;
    s.slot(1) = caption;
    s.slot(24) = QStringLiteral("IPTC_Field1");
    return s;
}

// The command with its per-user store in a folder of the test's own.
class BatchCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        // The test programs live in the build folder's tests/.
        QString build = qEnvironmentVariable("BRINDLEWAY_BUILD_DIR");
        if (build.isEmpty())
            build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
        program = QDir::cleanPath(build + QStringLiteral("/src/app/brindleway-batch"));
        ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
        QDir().mkpath(path(QStringLiteral("save")));
        QDir().mkpath(path(QStringLiteral("images")));
        for (const char *name : {"images/a.jpg", "images/b.jpg"})
            runTool(QStringLiteral("convert"), {"-size", "32x24", "gradient:red-blue", path(QString::fromLatin1(name))});
    }

    QString path(const QString &name) const { return temp.filePath(name); }

    void storeSchemes(const QList<ParsingScheme> &schemes)
    {
        SchemeTable table;
        table.Schemes.append(schemes);
        table.SchemeCount = int(schemes.size());
        IniSettingsStore store(path(QStringLiteral("config/Brindleway/Brindleway.ini")));
        ASSERT_TRUE(SaveParsings(table, store));
    }

    Outcome runCommand(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QStringList batch(const QString &scheme, const QStringList &more = {})
    {
        return QStringList{"--data", path("data.txt"), "--images", path("images"), "--save", path("save"), "--scheme", scheme}
            + more;
    }

    QTemporaryDir temp;
    QString program;
};
} // namespace

TEST_F(BatchCommandTest, ListsSchemesAndRunsTheFirstOfANameWithAndWithoutReencoding)
{
    storeSchemes({scheme("Press", "first"), scheme("Archive", "other"), scheme("Press", "second")});
    Outcome outcome = runCommand({QStringLiteral("--list-schemes")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, QStringLiteral("Press\nArchive\nPress\n"));

    WriteFileBytes(path(QStringLiteral("data.txt")), "name\r\na.jpg\r\nb.jpg\r\n");
    outcome = runCommand(batch(QStringLiteral("Press"), {"--append", "IPTC", "--reencode"}));
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out, QStringLiteral("Lines: 2\nSaved: 2\nSkipped: 0\nFailed: 0\nWarnings: 0\n"));
    EXPECT_TRUE(outcome.err.isEmpty()) << "no progress bar when stderr is not a terminal";
    EXPECT_EQ(runTool("exiftool", {"-s3", "-IPTC:Caption-Abstract", path("save/bIPTC.jpg")}), "first\n");

    outcome = runCommand(batch(QStringLiteral("Press"), {"--lossless"}));
    EXPECT_EQ(outcome.status, 0) << outcome.out.toStdString();
    EXPECT_EQ(runCommand(batch(QStringLiteral("Press"), {"--lossless", "--reencode"})).status, 2);
    const QByteArray source = ReadFileBytes(path(QStringLiteral("images/a.jpg")));
    const QByteArray output = ReadFileBytes(path(QStringLiteral("save/a.jpg")));
    EXPECT_TRUE(output.endsWith(source.mid(source.indexOf("\xFF\xDA")))) << "the image data is the source's";
    EXPECT_EQ(runTool("exiftool", {"-s3", "-IPTC:Caption-Abstract", path("save/a.jpg")}), "first\n");
}

TEST_F(BatchCommandTest, ExitStatusTellsSuccessProblemsAndRefusalsApart)
{
    storeSchemes({scheme(QStringLiteral("Press"), QStringLiteral("caption"))});
    WriteFileBytes(path(QStringLiteral("data.txt")), "name\na.jpg\ngone.jpg\n");
    // A check writes nothing and tells the lines apart by the data file's row.
    Outcome outcome = runCommand(batch(QStringLiteral("Press"), {"--check"}));
    EXPECT_EQ(outcome.status, 1);
    const QStringList rows = outcome.out.split('\n');
    ASSERT_EQ(rows.size(), 5) << outcome.out.toStdString();
    EXPECT_TRUE(rows[1].startsWith("ok\t2\t1\t") && rows[1].endsWith("\tCaption/Abstract=caption"));
    EXPECT_TRUE(rows[2].startsWith("PROBLEM\t3\t2\t") && rows[2].contains("the image file does not exist"));
    EXPECT_TRUE(QDir(path(QStringLiteral("save"))).isEmpty());
    outcome = runCommand(batch(QStringLiteral("Press")));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "Lines: 2\nSaved: 1\nSkipped: 1\nFailed: 0\nWarnings: 0\n"
                           "Skipped line 2, gone.jpg: the image file does not exist\n");

    QStringList samePath = batch(QStringLiteral("Press"));
    samePath[5] = path(QStringLiteral("images/"));
    outcome = runCommand(samePath);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("Open path must differ from save path")));
    EXPECT_EQ(runCommand(samePath << "--check").status, 2);
    QStringList missingData = batch(QStringLiteral("Press"));
    missingData[1] = path(QStringLiteral("nothing.txt"));
    for (const QStringList &refused : {batch("press"), missingData, QStringList{"--data"},
                                       QStringList{"--images", path("images")}, QStringList{"--bogus"},
                                       batch("Press", {"--encoding", "latin-1"})})
        EXPECT_EQ(runCommand(refused).status, 2) << refused.join(' ').toStdString();
    WriteFileBytes(path(QStringLiteral("data.txt")), "name only\n");
    outcome = runCommand(batch(QStringLiteral("Press")));
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("No entires in IPTC datafile")));

    outcome = runCommand({QStringLiteral("--help")});
    EXPECT_EQ(outcome.status, 0);
    for (const char *option : {"--data", "--images", "--save", "--scheme", "--append", "--lossless", "--reencode", "--encoding",
                               "--check", "--list-schemes", "Exit status"})
        EXPECT_TRUE(outcome.out.contains(QLatin1String(option))) << option;
}

TEST_F(BatchCommandTest, ListingSchemesTellsAStoreNotUnderstoodOrUnreadable)
{
    const QString store = path(QStringLiteral("config/Brindleway/Brindleway.ini"));
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    const struct {
        QByteArray bytes; // empty: the store is a folder
        int status;
        QString out;
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
        const Outcome outcome = runCommand({QStringLiteral("--list-schemes")});
        EXPECT_EQ(outcome.status, c.status) << c.named;
        EXPECT_EQ(outcome.out, c.out) << c.named;
        EXPECT_TRUE(outcome.err.contains(QLatin1String(c.named))) << outcome.err.toStdString();
    }
    EXPECT_EQ(runCommand(batch(QStringLiteral("A"))).status, 2);
}
