#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {
struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

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
        QDir().mkpath(path(QStringLiteral("images")));
        QDir().mkpath(path(QStringLiteral("save")));
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

    QStringList batchArguments(const QString &scheme)
    {
        return {QStringLiteral("--data"), path(QStringLiteral("data.txt")), QStringLiteral("--images"),
                path(QStringLiteral("images")), QStringLiteral("--save"), path(QStringLiteral("save")),
                QStringLiteral("--scheme"), scheme};
    }

    void makeJpeg(const QString &name)
    {
        QProcess convert;
        convert.start(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("32x24"),
                                                  QStringLiteral("gradient:red-blue"), path(name)});
        ASSERT_TRUE(convert.waitForFinished(60000));
        ASSERT_EQ(convert.exitCode(), 0);
    }

    QTemporaryDir temp;
    QString program;
};

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
} // namespace

TEST_F(BatchCommandTest, ListsSchemesInStoreOrderAndRunsTheFirstOfAName)
{
    storeSchemes({scheme(QStringLiteral("Press"), QStringLiteral("first")), scheme(QStringLiteral("Archive"), QStringLiteral("other")),
                  scheme(QStringLiteral("Press"), QStringLiteral("second"))});
    Outcome outcome = runCommand({QStringLiteral("--list-schemes")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, QStringLiteral("Press\nArchive\nPress\n"));

    makeJpeg(QStringLiteral("images/a.jpg"));
    makeJpeg(QStringLiteral("images/b.jpg"));
    WriteFileBytes(path(QStringLiteral("data.txt")), "name\r\na.jpg\r\nb.jpg\r\n");
    outcome = runCommand(batchArguments(QStringLiteral("Press")));
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out, QStringLiteral("Lines: 2\nSaved: 2\nSkipped: 0\nFailed: 0\n"));
    EXPECT_TRUE(outcome.err.isEmpty()) << "no progress bar when stderr is not a terminal";

    QProcess exiftool;
    exiftool.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-IPTC:Caption-Abstract"),
                                                path(QStringLiteral("save/b.jpg"))});
    ASSERT_TRUE(exiftool.waitForFinished(60000));
    EXPECT_EQ(exiftool.readAllStandardOutput(), "first\n");

    outcome = runCommand(batchArguments(QStringLiteral("Press")) + QStringList{QStringLiteral("--append"), QStringLiteral("IPTC")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("save/aIPTC.jpg"))));
}

TEST_F(BatchCommandTest, ExitStatusTellsSuccessProblemsAndRefusalsApart)
{
    storeSchemes({scheme(QStringLiteral("Press"), QStringLiteral("caption"))});
    makeJpeg(QStringLiteral("images/a.jpg"));
    WriteFileBytes(path(QStringLiteral("data.txt")), "name\na.jpg\ngone.jpg\n");
    Outcome outcome = runCommand(batchArguments(QStringLiteral("Press")));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.out.startsWith(QStringLiteral("Lines: 2\nSaved: 1\nSkipped: 1\nFailed: 0\n")));
    EXPECT_TRUE(outcome.out.contains(QStringLiteral("line 2, gone.jpg: the image file does not exist")))
        << outcome.out.toStdString();

    EXPECT_EQ(runCommand(batchArguments(QStringLiteral("press"))).status, 2) << "names are exact";

    QStringList samePath = batchArguments(QStringLiteral("Press"));
    samePath[5] = path(QStringLiteral("images/"));
    outcome = runCommand(samePath);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("Open path must differ from save path")));

    WriteFileBytes(path(QStringLiteral("data.txt")), "name only\n");
    outcome = runCommand(batchArguments(QStringLiteral("Press")));
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("No entires in IPTC datafile")));

    QStringList missingData = batchArguments(QStringLiteral("Press"));
    missingData[1] = path(QStringLiteral("nothing.txt"));
    EXPECT_EQ(runCommand(missingData).status, 2);
    EXPECT_EQ(runCommand({QStringLiteral("--data")}).status, 2);
    EXPECT_EQ(runCommand({QStringLiteral("--images"), path(QStringLiteral("images"))}).status, 2);
    EXPECT_EQ(runCommand({QStringLiteral("--bogus")}).status, 2);

    outcome = runCommand({QStringLiteral("--help")});
    EXPECT_EQ(outcome.status, 0);
    for (const char *option : {"--data", "--images", "--save", "--scheme", "--append", "--list-schemes", "Exit status"})
        EXPECT_TRUE(outcome.out.contains(QLatin1String(option))) << option;
}

TEST_F(BatchCommandTest, LosslessOptionWritesTagsWithoutReencoding)
{
    storeSchemes({scheme(QStringLiteral("Press"), QStringLiteral("kept"))});
    makeJpeg(QStringLiteral("images/a.jpg"));
    WriteFileBytes(path(QStringLiteral("data.txt")), "name\na.jpg\n");
    EXPECT_TRUE(runCommand({QStringLiteral("--help")}).out.contains(QStringLiteral("--lossless")));
    const Outcome outcome = runCommand(batchArguments(QStringLiteral("Press")) + QStringList{QStringLiteral("--lossless")});
    EXPECT_EQ(outcome.status, 0) << outcome.out.toStdString();
    const QByteArray source = ReadFileBytes(path(QStringLiteral("images/a.jpg")));
    const QByteArray output = ReadFileBytes(path(QStringLiteral("save/a.jpg")));
    EXPECT_TRUE(output.endsWith(source.mid(source.indexOf("\xFF\xDA")))) << "the image data is the source's";
    EXPECT_TRUE(output.contains("kept"));
}
