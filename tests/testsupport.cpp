#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

void WriteFileBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray BigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char((value >> (8 * i)) & 0xFF);
    return out;
}

QByteArray RunTool(const QString &program, const QStringList &arguments, int *exitCode, QByteArray *errors)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    if (errors)
        *errors = process.readAllStandardError();
    if (exitCode)
        *exitCode = process.exitCode();
    else if (process.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

void WaitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            ADD_FAILURE() << "waited " << ms << " ms in vain";
            return;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

FileTags ReadTags(const QString &path)
{
    const QByteArray json = RunTool(QStringLiteral("exiftool"), {"-j", "-b", "-n", "-a", "-G1", "-sep", ";", "-use", "MWG",
                                                                 "-all", "-IPTC", path});
    FileTags read;
    const QJsonObject object = QJsonDocument::fromJson(json).array().at(0).toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        read.tags.insert(it.key(), it.value().toVariant().toString());
    // With -a a file's several warnings share one key, so they come from the text.
    static const QRegularExpression warning(QStringLiteral("^\\s*\"[\\w-]+:Warning\": \"(.*)\",?$"),
                                            QRegularExpression::MultilineOption);
    for (auto match = warning.globalMatch(QString::fromUtf8(json)); match.hasNext();) {
        const QString text = match.next().captured(1);
        // MWG's strict reading objects to the copy of a TIFF's IPTC among its
        // Photoshop resources, which Photoshop itself keeps there.
        if (!text.startsWith(QLatin1String("Ignored non-standard IPTC")))
            read.warnings.append(text);
    }
    // Datasets are 0x1C, record, dataset, two length bytes and the value.
    const QByteArray block = QByteArray::fromBase64(read.tags.value(QStringLiteral("IPTC:IPTC")).mid(7).toLatin1());
    for (qsizetype pos = 0; pos + 5 <= block.size() && block[pos] == 0x1C;) {
        const qsizetype length = (quint8(block[pos + 3]) << 8) | quint8(block[pos + 4]);
        if (length & 0x8000 || pos + 5 + length > block.size()) {
            ADD_FAILURE() << "malformed IPTC block in " << path.toStdString();
            break;
        }
        if (block[pos + 1] == 2)
            read.iptc[quint8(block[pos + 2])].append(block.mid(pos + 5, length));
        pos += 5 + length;
    }
    return read;
}

QStringList FileTags::foreign() const
{
    static const QRegularExpression changing(
        QStringLiteral("^(IPTC|XMP.*|System|File|Composite|MWG|ExifTool):|^(Photoshop:IPTCDigest|SourceFile|IFD0:StripOffsets)$"));
    QStringList kept;
    for (auto it = tags.begin(); it != tags.end(); ++it) {
        if (!changing.match(it.key()).hasMatch())
            kept.append(it.key() + QLatin1Char('=') + it.value());
    }
    return kept;
}

void MakeImage(const QString &path, const QString &format, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RunTool(QStringLiteral("convert"), {"-size", QStringLiteral("%1x%2").arg(width).arg(height), "gradient:orange-navy",
                                        "-swirl", "90", format + QLatin1Char(':') + path});
}
