#include "engine/exiv2writer.h"

#include "model/codepage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

namespace {
// Runs exiftool (or any tool) and returns what it printed; fails the test
// when it cannot run or reports an error.
QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray exiftool(const QStringList &arguments)
{
    return runTool(QStringLiteral("exiftool"), arguments);
}

// Everything ExifTool reads from a file, MWG's reconciled view and its
// warnings included, by "Group:Tag"; lists joined with ";".
using Tags = QMap<QString, QString>;

Tags readTags(const QString &path, bool numeric = false)
{
    QStringList arguments{QStringLiteral("-args"), QStringLiteral("-a"), QStringLiteral("-G1"), QStringLiteral("-sep"),
                          QStringLiteral(";"), QStringLiteral("-use"), QStringLiteral("MWG")};
    if (numeric)
        arguments.append(QStringLiteral("-n"));
    Tags tags;
    const QString out = QString::fromUtf8(exiftool(arguments + QStringList{path}));
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('-')) && equals > 0)
            tags.insert(line.mid(1, equals - 1), line.mid(equals + 1));
    }
    return tags;
}

std::string tag(const Tags &tags, const char *name)
{
    return tags.value(QString::fromLatin1(name)).toStdString();
}

// ExifTool's warnings about a file, one a line; empty when it has none.
std::string warningsOf(const Tags &tags, bool mwgStrict = true)
{
    QStringList warnings;
    for (auto it = tags.begin(); it != tags.end(); ++it) {
        // Exiv2 also keeps a TIFF's IPTC among its Photoshop resources, as
        // Photoshop does; only MWG's strict reading objects to the copy.
        if (it.key().endsWith(QStringLiteral(":Warning"))
            && (mwgStrict || !it.value().startsWith(QStringLiteral("Ignored non-standard IPTC"))))
            warnings.append(it.value());
    }
    return warnings.join(QLatin1Char('\n')).toStdString();
}

// What the writer must not change: every tag outside IPTC, XMP and the
// views derived from them.
QStringList foreignMetadata(const Tags &tags)
{
    static const QStringList changing{QStringLiteral("IPTC:"), QStringLiteral("XMP"), QStringLiteral("System:"),
                                      QStringLiteral("File:"), QStringLiteral("Composite:"), QStringLiteral("MWG:"),
                                      QStringLiteral("ExifTool:"), QStringLiteral("Photoshop:IPTCDigest")};
    QStringList kept;
    for (auto it = tags.begin(); it != tags.end(); ++it) {
        bool skip = false;
        for (const QString &prefix : changing)
            skip = skip || it.key().startsWith(prefix);
        if (!skip)
            kept.append(it.key() + QLatin1Char('=') + it.value());
    }
    return kept;
}

// The entropy-coded image data of a JPEG: from its first SOS marker to the end.
QByteArray jpegImageData(const QByteArray &jpeg)
{
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        if (uchar(jpeg[pos + 1]) == 0xDA)
            return jpeg.mid(pos);
        pos += 2 + ((qsizetype(uchar(jpeg[pos + 2])) << 8) | uchar(jpeg[pos + 3]));
    }
    ADD_FAILURE() << "no SOS marker";
    return {};
}

QByteArray tiffStrips(const QString &path)
{
    const Tags tags = readTags(path, true);
    const QStringList offsets = tags.value(QStringLiteral("IFD0:StripOffsets")).split(QLatin1Char(' '));
    const QStringList counts = tags.value(QStringLiteral("IFD0:StripByteCounts")).split(QLatin1Char(' '));
    EXPECT_EQ(offsets.size(), counts.size());
    const QByteArray file = ReadFileBytes(path);
    QByteArray strips;
    for (qsizetype i = 0; i < offsets.size() && i < counts.size(); ++i)
        strips += file.mid(offsets[i].toLongLong(), counts[i].toLongLong());
    EXPECT_FALSE(strips.isEmpty());
    return strips;
}

// A small profile of one tag that ExifTool reads without complaint.
QByteArray minimalIccProfile()
{
    QByteArray icc(156, '\0');
    icc[3] = char(icc.size());
    icc.replace(4, 4, "bwtt");
    icc[8] = 2;
    icc[9] = 0x10;
    icc.replace(12, 4, "mntr");
    icc.replace(16, 4, "RGB ");
    icc.replace(20, 4, "XYZ ");
    icc.replace(36, 4, "acsp");
    icc[131] = 1; // one tag: a copyright text at 144, 12 bytes long
    icc.replace(132, 4, "cprt");
    icc[139] = char(144);
    icc[143] = 12;
    icc.replace(144, 4, "text");
    icc.replace(152, 3, QByteArray("bw\0", 3));
    return icc;
}

const char *const SourceXmp = R"(<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:photoshop="http://ns.adobe.com/photoshop/1.0/"
    xmlns:bw="http://example.com/ns/brindleway-test/1.0/"
    xmp:Rating="3" bw:Note="keep me" photoshop:DateCreated="2001-01-01">
   <dc:description><rdf:Alt><rdf:li xml:lang="x-default">old xmp caption</rdf:li>
     <rdf:li xml:lang="fr-FR">ancienne légende</rdf:li></rdf:Alt></dc:description>
   <dc:subject><rdf:Bag><rdf:li>oldxmp1</rdf:li><rdf:li>oldxmp2</rdf:li></rdf:Bag></dc:subject>
   <dc:creator><rdf:Seq><rdf:li>Old Author</rdf:li></rdf:Seq></dc:creator>
   <dc:rights><rdf:Alt><rdf:li xml:lang="x-default">Old rights</rdf:li></rdf:Alt></dc:rights>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="w"?>)";

TagValue value(int slot, const QString &text)
{
    return {slot, {}, EncodeAnsi(text)};
}

class Exiv2WriterTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }

    // An image made by ImageMagick that carries IPTC, EXIF, XMP with a
    // custom namespace, an ICC profile, a comment and Photoshop resources,
    // with a current IPTC digest.
    QString makeTaggedSource(const QString &name, const QStringList &convertOptions = {})
    {
        const QString file = path(name);
        runTool(QStringLiteral("convert"),
                QStringList{QStringLiteral("-size"), QStringLiteral("96x64"), QStringLiteral("gradient:red-blue")}
                    + convertOptions + QStringList{file});
        WriteFileBytes(path(QStringLiteral("source.xmp")), SourceXmp);
        WriteFileBytes(path(QStringLiteral("source.icc")), minimalIccProfile());
        exiftool({QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                  QStringLiteral("-XMP<=") + path(QStringLiteral("source.xmp")), file});
        exiftool({QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                  QStringLiteral("-IPTC:Caption-Abstract=old iim caption"), QStringLiteral("-IPTC:Keywords=old1"),
                  QStringLiteral("-IPTC:Keywords=old2"), QStringLiteral("-IPTC:City=Paris"),
                  QStringLiteral("-IPTC:Headline=old headline"), QStringLiteral("-EXIF:Make=Acme"),
                  QStringLiteral("-EXIF:Model=Cam 1"), QStringLiteral("-EXIF:DateTimeOriginal=2020:01:02 03:04:05"),
                  QStringLiteral("-ICC_Profile<=") + path(QStringLiteral("source.icc")),
                  QStringLiteral("-Comment=a comment"), QStringLiteral("-Photoshop:URL=http://example.com/"),
                  QStringLiteral("-Photoshop:IPTCDigest=new"), file});
        const Tags tags = readTags(file);
        EXPECT_EQ(warningsOf(tags), "");
        EXPECT_NE(tag(tags, "Photoshop:IPTCDigest"), "");
        return file;
    }

    QTemporaryDir dir;
};

const QString Caption = QStringLiteral("Café – crème brûlée for €5, “quoted”");
const QString Keywords = QStringLiteral("zebra;apple;Mañana");
const QString Creator = QStringLiteral("Zoë Ångström");
const QString Copyright = QStringLiteral("© 2024 Agence Ÿ");

QList<TagValue> lineValues()
{
    return {value(1, Caption), value(5, Keywords), value(7, QStringLiteral("20240315")), value(13, Creator),
            value(20, Copyright), value(21, QStringLiteral("20240401")), value(22, QStringLiteral("142530+0100"))};
}

// What every lossless output of lineValues() must show, whatever its type.
void expectLineTags(const Tags &tags, const Tags &numeric, bool mwgStrict = true)
{
    EXPECT_EQ(tag(tags, "IPTC:Caption-Abstract"), Caption.toStdString());
    EXPECT_EQ(tag(tags, "IPTC:Keywords"), Keywords.toStdString());
    EXPECT_EQ(tag(tags, "IPTC:By-line"), Creator.toStdString());
    EXPECT_EQ(tag(tags, "IPTC:CopyrightNotice"), Copyright.toStdString());
    EXPECT_EQ(tag(numeric, "IPTC:ReleaseDate"), "2024:04:01");
    EXPECT_EQ(tag(tags, "IPTC:City"), "Paris");
    EXPECT_EQ(tag(tags, "IPTC:Headline"), "old headline");

    EXPECT_EQ(tag(tags, "XMP-dc:Subject"), Keywords.toStdString());
    EXPECT_EQ(tag(numeric, "XMP-photoshop:DateCreated"), "2024:03:15 14:25:30+01:00");
    EXPECT_EQ(tag(tags, "XMP-dc:Description-fr-FR"), "ancienne légende");
    EXPECT_EQ(tag(tags, "XMP-xmp:Rating"), "3");
    EXPECT_EQ(tag(tags, "XMP-bw:Note"), "keep me");

    EXPECT_EQ(tag(tags, "MWG:Description"), Caption.toStdString());
    EXPECT_EQ(tag(tags, "MWG:Keywords"), Keywords.toStdString());
    EXPECT_EQ(tag(tags, "MWG:Creator"), Creator.toStdString());
    EXPECT_EQ(tag(tags, "MWG:Copyright"), Copyright.toStdString());
    EXPECT_EQ(warningsOf(tags, mwgStrict), "");
    EXPECT_EQ(tag(tags, "Photoshop:IPTCDigest"), tag(tags, "File:CurrentIPTCDigest"));
}
} // namespace

TEST_F(Exiv2WriterTest, JpegGetsNewTagsAndKeepsImageDataAndForeignMetadata)
{
    const QString source = makeTaggedSource(QStringLiteral("photo.jpg"));
    const QString out = path(QStringLiteral("out.jpg"));
    const LosslessOutcome outcome = WriteTagsLossless(source, out, lineValues());
    ASSERT_EQ(outcome.status, LosslessOutcome::Tagged) << outcome.reason.toStdString();

    const QByteArray before = ReadFileBytes(source);
    const QByteArray after = ReadFileBytes(out);
    EXPECT_EQ(jpegImageData(after), jpegImageData(before));
    EXPECT_LT(qAbs(after.size() - before.size()), 4096);
    const Tags tags = readTags(out);
    expectLineTags(tags, readTags(out, true));
    EXPECT_EQ(foreignMetadata(tags), foreignMetadata(readTags(source)));
    EXPECT_EQ(exiftool({QStringLiteral("-b"), QStringLiteral("-ICC_Profile"), out}), minimalIccProfile());
}

TEST_F(Exiv2WriterTest, TiffGetsNewTagsAndKeepsItsStrips)
{
    for (const QString &compression : {QStringLiteral("None"), QStringLiteral("LZW")}) {
        SCOPED_TRACE(compression.toStdString());
        const QString source = makeTaggedSource(QStringLiteral("photo-%1.tif").arg(compression),
                                                {QStringLiteral("-compress"), compression});
        const QString out = path(QStringLiteral("out-%1.tif").arg(compression));
        const LosslessOutcome outcome = WriteTagsLossless(source, out, lineValues());
        ASSERT_EQ(outcome.status, LosslessOutcome::Tagged) << outcome.reason.toStdString();
        EXPECT_EQ(tiffStrips(out), tiffStrips(source));
        const Tags tags = readTags(out);
        expectLineTags(tags, readTags(out, true), false);
        EXPECT_EQ(tag(tags, "IFD0:Make"), "Acme");
        EXPECT_EQ(tag(tags, "ExifIFD:DateTimeOriginal"), "2020:01:02 03:04:05");
        EXPECT_EQ(exiftool({QStringLiteral("-b"), QStringLiteral("-ICC_Profile"), out}), minimalIccProfile());
    }
}

namespace {
// A PNG's chunks other than the XMP one, as type and bytes.
QList<QByteArray> pngChunksBesidesXmp(const QByteArray &png)
{
    QList<QByteArray> chunks;
    qsizetype pos = 8;
    while (pos + 12 <= png.size()) {
        const qsizetype length = (qsizetype(uchar(png[pos])) << 24) | (uchar(png[pos + 1]) << 16)
            | (uchar(png[pos + 2]) << 8) | uchar(png[pos + 3]);
        const QByteArray chunk = png.mid(pos, length + 12);
        if (!(chunk.mid(4, 4) == "iTXt" && chunk.mid(8, 17) == "XML:com.adobe.xmp"))
            chunks.append(chunk);
        pos += length + 12;
    }
    return chunks;
}
} // namespace

TEST_F(Exiv2WriterTest, PngGetsXmpOnlyAndIsCopiedWhenNothingHasAnXmpHome)
{
    const QString source = path(QStringLiteral("flat.png"));
    runTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("32x24"), QStringLiteral("gradient:"),
                                        QStringLiteral("-set"), QStringLiteral("comment"), QStringLiteral("a note"),
                                        source});
    const QString out = path(QStringLiteral("out.png"));
    LosslessOutcome outcome = WriteTagsLossless(source, out, lineValues());
    ASSERT_EQ(outcome.status, LosslessOutcome::TaggedXmpOnly) << outcome.reason.toStdString();
    EXPECT_EQ(pngChunksBesidesXmp(ReadFileBytes(out)), pngChunksBesidesXmp(ReadFileBytes(source)));
    const Tags tags = readTags(out);
    EXPECT_EQ(tag(tags, "XMP-dc:Description"), Caption.toStdString());
    EXPECT_EQ(tag(tags, "XMP-dc:Subject"), Keywords.toStdString());
    EXPECT_EQ(tag(tags, "IPTC:Caption-Abstract"), "");
    EXPECT_EQ(warningsOf(tags), warningsOf(readTags(source))); // ImageMagick puts its texts after the image data

    // Release date and originating program live in IIM alone.
    const QString copy = path(QStringLiteral("copy.png"));
    outcome = WriteTagsLossless(source, copy, {value(21, QStringLiteral("20240401")), value(23, QStringLiteral("x"))});
    EXPECT_EQ(outcome.status, LosslessOutcome::CopiedWithoutTags);
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(source));

    const QString bmp = path(QStringLiteral("flat.bmp"));
    runTool(QStringLiteral("convert"), {source, bmp});
    outcome = WriteTagsLossless(bmp, path(QStringLiteral("out.bmp")), lineValues());
    EXPECT_EQ(outcome.status, LosslessOutcome::CopiedWithoutTags);
    EXPECT_EQ(ReadFileBytes(path(QStringLiteral("out.bmp"))), ReadFileBytes(bmp));
}

TEST_F(Exiv2WriterTest, DatesThatAreNotIimFormStayOutOfXmp)
{
    const QString source = makeTaggedSource(QStringLiteral("dates.jpg"));
    const QString out = path(QStringLiteral("out.jpg"));
    const LosslessOutcome outcome = WriteTagsLossless(
        source, out, {value(7, QStringLiteral("15/03/2024")), value(22, QStringLiteral("142530+0100"))});
    ASSERT_EQ(outcome.status, LosslessOutcome::Tagged) << outcome.reason.toStdString();
    const Tags tags = readTags(out, true);
    EXPECT_EQ(tag(tags, "IPTC:DateCreated"), "15/03/2024");
    EXPECT_EQ(tag(tags, "XMP-photoshop:DateCreated"), "2001:01:01");

    EXPECT_EQ(XmpDateFromIim("20240229", "235959-0530"), QStringLiteral("2024-02-29T23:59:59-05:30"));
    EXPECT_EQ(XmpDateFromIim("20240315", {}), QStringLiteral("2024-03-15"));
    EXPECT_EQ(XmpDateFromIim("20240315", "2pm"), QStringLiteral("2024-03-15"));
    EXPECT_EQ(XmpDateFromIim("20240315", "246000+0000"), QStringLiteral("2024-03-15"));
    EXPECT_EQ(XmpDateFromIim("20230229", "120000+0000"), QString());
    EXPECT_EQ(XmpDateFromIim("2024-03-15", {}), QString());
    EXPECT_EQ(XmpDateFromIim("2024031", {}), QString());
}

TEST_F(Exiv2WriterTest, XmpPacketUpdate)
{
    // No XMP yet: a packet of just the properties written.
    XmpUpdate update = UpdateXmpPacket({}, {value(3, QStringLiteral("Headline é")), value(21, QStringLiteral("x"))});
    ASSERT_TRUE(update.changed);
    EXPECT_TRUE(update.packet.contains(QStringLiteral("Headline é").toUtf8()));
    EXPECT_FALSE(update.packet.contains("ReleaseDate"));

    // Text that looks like an Exiv2 value prefix stays text.
    update = UpdateXmpPacket({}, {value(1, QStringLiteral("lang=\"de\" Hallo")), value(8, QStringLiteral("type=Bag Rome"))});
    EXPECT_TRUE(update.packet.contains("x-default")) << update.packet.toStdString();
    EXPECT_TRUE(update.packet.contains("x-default\">lang=\"de\" Hallo")) << update.packet.toStdString();
    EXPECT_TRUE(update.packet.contains("type=Bag Rome")) << update.packet.toStdString();

    // Nothing with an XMP home: the packet is handed back untouched.
    update = UpdateXmpPacket(SourceXmp, {value(21, QStringLiteral("20240401"))});
    EXPECT_FALSE(update.changed);
    EXPECT_EQ(update.packet, QByteArray(SourceXmp));

    update = UpdateXmpPacket("<x:xmpmeta><broken", {value(1, QStringLiteral("c"))});
    EXPECT_FALSE(update.error.isEmpty());

    // A broken packet fails the line rather than being thrown away.
    const QString source = makeTaggedSource(QStringLiteral("broken.jpg"));
    WriteFileBytes(path(QStringLiteral("broken.xmp")), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF");
    exiftool({QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-m"),
              QStringLiteral("-XMP<=") + path(QStringLiteral("broken.xmp")), source});
    const LosslessOutcome outcome = WriteTagsLossless(source, path(QStringLiteral("out.jpg")), {value(1, QStringLiteral("c"))});
    EXPECT_EQ(outcome.status, LosslessOutcome::Failed);
}

TEST_F(Exiv2WriterTest, RegressionUtf8DeclaredIptcGetsUtf8Text)
{
    const QString source = makeTaggedSource(QStringLiteral("utf8.jpg"));
    exiftool({QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-charset"),
              QStringLiteral("iptc=UTF8"), QStringLiteral("-IPTC:CodedCharacterSet=UTF8"),
              QStringLiteral("-IPTC:City=Zürich"), QStringLiteral("-Photoshop:IPTCDigest=new"), source});
    const QString out = path(QStringLiteral("out.jpg"));
    ASSERT_EQ(WriteTagsLossless(source, out, {value(1, Caption)}).status, LosslessOutcome::Tagged);
    const Tags tags = readTags(out);
    EXPECT_EQ(tag(tags, "IPTC:Caption-Abstract"), Caption.toStdString());
    EXPECT_EQ(tag(tags, "IPTC:City"), "Zürich");
    EXPECT_EQ(warningsOf(tags), "");
}
