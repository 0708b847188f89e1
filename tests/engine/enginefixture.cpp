#include "enginefixture.h"

#include "model/codepage.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

QByteArray RunTool(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    if (exitCode)
        *exitCode = process.exitCode();
    else if (process.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

IptcDatasets ReadIptcWithExifTool(const QString &path)
{
    // ExifTool finds the block in the file; its datasets are 0x1C, record,
    // dataset, two length bytes and the value.
    const QByteArray block = RunTool(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-IPTC"), path});
    IptcDatasets datasets;
    qsizetype pos = 0;
    while (pos + 5 <= block.size() && block[pos] == 0x1C) {
        const int record = quint8(block[pos + 1]);
        const int dataset = quint8(block[pos + 2]);
        const qsizetype length = (quint8(block[pos + 3]) << 8) | quint8(block[pos + 4]);
        if (length & 0x8000 || pos + 5 + length > block.size()) {
            ADD_FAILURE() << "malformed IPTC block in " << path.toStdString();
            break;
        }
        if (record == 2)
            datasets[dataset].append(block.mid(pos + 5, length));
        pos += 5 + length;
    }
    return datasets;
}

QString FileTypeOf(const QString &path)
{
    return QString::fromUtf8(
               RunTool(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-FileType"), path}))
        .trimmed();
}

QByteArray PixelsOf(const QString &path)
{
    return RunTool(QStringLiteral("convert"), {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgba:-")});
}

void MakeImage(const QString &path, const QString &format, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RunTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(width).arg(height),
                                        QStringLiteral("gradient:orange-navy"), QStringLiteral("-swirl"),
                                        QStringLiteral("90"), format + QLatin1Char(':') + path});
}

void EngineTest::SetUp()
{
    ASSERT_TRUE(temp.isValid());
    QDir().mkpath(imagePath());
    QDir().mkpath(savePath());
    InitIptcTagKeys(app.IptcTagKeys);
    app.ImagePath = imagePath();
    app.SavePath = savePath();
}

QString EngineTest::imagePath(const QString &name) const
{
    return temp.filePath(name.isEmpty() ? QStringLiteral("images") : QStringLiteral("images/") + name);
}

QString EngineTest::savePath(const QString &name) const
{
    return temp.filePath(name.isEmpty() ? QStringLiteral("save") : QStringLiteral("save/") + name);
}

void EngineTest::loadData(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + "\r\n";
    const QString path = temp.filePath(QStringLiteral("data.txt"));
    WriteFileBytes(path, bytes);
    ASSERT_EQ(LoadDataFile(path, app.Data).status, DataFileResult::Loaded);
    SplitDataLines(app.Data);
}

ParsingScheme &EngineTest::useScheme(const QMap<int, QString> &slotTexts)
{
    ParsingScheme scheme;
    scheme.Name = QStringLiteral("Test");
    for (int slot = 1; slot <= SlotCount; ++slot)
        scheme.slot(slot) = LeaveBlank;
    scheme.slot(FileNameSlot) = QStringLiteral("IPTC_Field1");
    for (auto it = slotTexts.begin(); it != slotTexts.end(); ++it)
        scheme.slot(it.key()) = it.value();
    app.Schemes.Schemes = {ParsingScheme{}, scheme};
    app.Schemes.SchemeCount = 1;
    app.SelectedScheme = 0;
    return app.Schemes.Schemes[1];
}

BatchResult EngineTest::run(const BatchOptions &options)
{
    return BatchTag(state, app, options, nullptr, {});
}
