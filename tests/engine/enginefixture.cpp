#include "enginefixture.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

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

QByteArray PixelsOf(const QString &path)
{
    return RunTool(QStringLiteral("convert"), {path, "-depth", "8", "rgba:-"});
}

void MakeImage(const QString &path, const QString &format, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RunTool(QStringLiteral("convert"), {"-size", QStringLiteral("%1x%2").arg(width).arg(height), "gradient:orange-navy",
                                        "-swirl", "90", format + QLatin1Char(':') + path});
}

namespace {
const char *const OldXmp = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:photoshop="http://ns.adobe.com/photoshop/1.0/" xmlns:bw="http://example.com/ns/brindleway-test/1.0/"
    xmp:Rating="3" bw:Note="keep me" photoshop:DateCreated="2001-01-01">
   <dc:description><rdf:Alt><rdf:li xml:lang="x-default">old caption</rdf:li>
     <rdf:li xml:lang="fr-FR">ancienne légende</rdf:li></rdf:Alt></dc:description>
   <dc:subject><rdf:Bag><rdf:li>oldxmp1</rdf:li><rdf:li>oldxmp2</rdf:li></rdf:Bag></dc:subject>
   <dc:creator><rdf:Seq><rdf:li>Old Author</rdf:li></rdf:Seq></dc:creator>
   <dc:rights><rdf:Alt><rdf:li xml:lang="x-default">Old rights</rdf:li></rdf:Alt></dc:rights>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>)";

// A small profile of one tag (a copyright text at 144) that ExifTool reads without complaint.
QByteArray minimalIccProfile()
{
    QByteArray icc(156, '\0');
    for (const auto &[at, text] : {std::pair{4, "bwtt"}, {12, "mntr"}, {16, "RGB "}, {20, "XYZ "}, {36, "acsp"},
                                   {132, "cprt"}, {144, "text"}, {152, "bw"}})
        icc.replace(at, qstrlen(text), text);
    icc[3] = char(156);
    icc[8] = 2;
    icc[9] = 0x10;
    icc[131] = 1;
    icc[139] = char(144);
    icc[143] = 12;
    return icc;
}
} // namespace

void AddForeignMetadata(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    WriteFileBytes(folder + QStringLiteral("/old.xmp"), OldXmp);
    WriteFileBytes(folder + QStringLiteral("/old.icc"), minimalIccProfile());
    RunTool(QStringLiteral("exiftool"), {"-q", "-overwrite_original", "-XMP<=" + folder + "/old.xmp", path});
    RunTool(QStringLiteral("exiftool"),
            {"-q", "-overwrite_original", "-IPTC:Caption-Abstract=old caption", "-IPTC:Keywords=k1", "-IPTC:Keywords=k2",
             "-IPTC:Keywords=k3", "-IPTC:City=Paris", "-IPTC:Headline=old headline", "-EXIF:Make=Acme",
             "-EXIF:DateTimeOriginal=2020:01:02 03:04:05", "-ICC_Profile<=" + folder + "/old.icc", "-Comment=a comment",
             "-Photoshop:URL=http://example.com/", "-Photoshop:IPTCDigest=new", path});
    QFile::remove(folder + QStringLiteral("/old.xmp"));
    QFile::remove(folder + QStringLiteral("/old.icc"));
}

QStringList LineNames(const QList<LineProblem> &problems)
{
    QStringList list;
    for (const LineProblem &problem : problems)
        list.append(QStringLiteral("%1 %2").arg(problem.line).arg(problem.fileName));
    return list;
}

QStringList FolderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
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

void EngineTest::loadData(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + "\r\n";
    const QString path = temp.filePath(QStringLiteral("data.txt"));
    WriteFileBytes(path, bytes);
    ASSERT_EQ(LoadDataFile(path, app.Data).problem.kind(), Problem::Kind::None);
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
