#include "enginefixture.h"

#include "testsupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

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
    for (const auto &[at, bytes] : {std::pair{3, "\x9c" "bwtt"}, {8, "\x02\x10"}, {12, "mntrRGB XYZ "}, {36, "acsp"},
                                    {131, "\x01" "cprt"}, {139, "\x90"}, {143, "\x0c" "text"}, {152, "bw"}})
        icc.replace(at, qstrlen(bytes), bytes);
    return icc;
}
} // namespace

void AddForeignMetadata(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    WriteFileBytes(folder + "/old.xmp", OldXmp);
    WriteFileBytes(folder + "/old.icc", minimalIccProfile());
    RunTool("exiftool", {"-q", "-overwrite_original", "-XMP<=" + folder + "/old.xmp", "-ICC_Profile<=" + folder + "/old.icc",
                         "-IPTC:Caption-Abstract=old caption", "-IPTC:Keywords=k1", "-IPTC:Keywords=k2", "-IPTC:Keywords=k3",
                         "-IPTC:City=Paris", "-IPTC:Headline=old headline", "-EXIF:Make=Acme", "-Comment=a comment",
                         "-EXIF:DateTimeOriginal=2020:01:02 03:04:05", "-Photoshop:URL=http://example.com/",
                         "-Photoshop:IPTCDigest=new", path});
    QFile::remove(folder + "/old.xmp");
    QFile::remove(folder + "/old.icc");
}

QStringList LineNames(const QList<LineReport> &reports)
{
    QStringList list;
    for (const LineReport &report : reports)
        list.append(QStringLiteral("%1 %2").arg(report.line).arg(report.name));
    return list;
}

QList<NoteCode> Codes(const LineOutcome &outcome)
{
    QList<NoteCode> codes;
    for (const Note &note : outcome.notes)
        codes.append(note.code);
    return codes;
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

void EngineTest::makeImages(const QStringList &names)
{
    for (const QString &name : names)
        MakeImage(imagePath(name), QFileInfo(name).suffix());
}

void EngineTest::loadData(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + "\r\n";
    const QString path = temp.filePath("data.txt");
    WriteFileBytes(path, bytes);
    ASSERT_EQ(LoadDataFile(path, app.Data).problem.kind(), Problem::Kind::None);
}

void EngineTest::useScheme(QHash<int, QString> slotTexts)
{
    if (!slotTexts.contains(FileNameSlot))
        slotTexts.insert(FileNameSlot, "IPTC_Field1");
    app.Schemes = MakeTable({MakeScheme("Test", slotTexts)});
    app.SelectedScheme = 0;
}

BatchResult EngineTest::run(const BatchOptions &options, const std::function<void(BatchRunner &)> &started)
{
    BatchRunner runner;
    BatchResult result;
    QEventLoop loop;
    QObject::connect(&runner, &BatchRunner::finished, &loop, [&](const BatchResult &finished) {
        result = finished;
        loop.quit();
    });
    if ((result.refusal = runner.start(app, options)))
        return result;
    if (started)
        started(runner);
    QTimer::singleShot(120000, &loop, [&] {
        ADD_FAILURE() << "the run did not end";
        loop.quit();
    });
    loop.exec();
    return result;
}
