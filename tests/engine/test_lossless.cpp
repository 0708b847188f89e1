#include "enginefixture.h"

#include "engine/container/gifcontainer.h"
#include "engine/container/jpegsegments.h"
#include "engine/container/pngcontainer.h"
#include "engine/container/psdcontainer.h"
#include "engine/container/tiffcontainer.h"
#include "engine/container/tiffstructure.h"
#include "engine/container/webpcontainer.h"
#include "engine/metadata/iimblock.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/metadata/xmpeditor.h"
#include "engine/metadata/xmppacket.h"
#include "engine/platform/zlibstream.h"
#include "engine/run/batchcheck.h"
#include "engine/run/notetext.h"
#include "model/codepage.h"
#include "model/datafile.h"
#include "model/xmpfields.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringEncoder>

namespace {
// The entropy-coded image data of a JPEG: from its first SOS marker to the end.
QByteArray jpegImageData(const QByteArray &jpeg)
{
    for (qsizetype pos = 2; pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF;) {
        if (uchar(jpeg[pos + 1]) == 0xDA)
            return jpeg.mid(pos);
        pos += 2 + ((qsizetype(uchar(jpeg[pos + 2])) << 8) | uchar(jpeg[pos + 3]));
    }
    ADD_FAILURE() << "no SOS marker";
    return {};
}

QByteArray tiffStrips(const QString &path, const FileTags &read)
{
    const QStringList offsets = read.tags.value("IFD0:StripOffsets").split(QLatin1Char(' '));
    const QStringList counts = read.tags.value("IFD0:StripByteCounts").split(QLatin1Char(' '));
    EXPECT_EQ(offsets.size(), counts.size());
    const QByteArray file = ReadFileBytes(path);
    QByteArray strips;
    for (qsizetype i = 0; i < offsets.size() && i < counts.size(); ++i)
        strips += file.mid(offsets[i].toLongLong(), counts[i].toLongLong());
    EXPECT_FALSE(strips.isEmpty());
    return strips;
}

// One distinct value per tag slot, some with Windows-1252 letters outside
// ASCII, one as long as IIM allows and longer than a short length field.
QByteArray valueFor(int slot)
{
    if (isXmpSlot(slot)) {
        // A form each rule takes, vocabularies by their short codes.
        const XmpShape shape = xmpField(slot).shape;
        const QByteArray free = "x" + QByteArray::number(slot) + " \xC5ngstr\xF6m";
        switch (xmpField(slot).rule) {
        case XmpRule::Url: return "https://example.com/terms";
        case XmpRule::Email: return "desk@example.com";
        case XmpRule::DigitalSourceType: return "digitalCapture";
        case XmpRule::ModelRelease: return "MR-LMR";
        case XmpRule::PropertyRelease: return "PR-NON";
        case XmpRule::DataMining: return "DMI-PROHIBITED-AIMLTRAINING";
        case XmpRule::Free: break;
        }
        return shape == XmpShape::Bag || shape == XmpShape::Seq ? free + ";second" : free;
    }
    static const QHash<int, QByteArray> special{
        {1, "Caf\xE9 \x96 \x9C" "uvre \x80 \x84quoted\x93"}, {3, QByteArray(slotInfo(3).maxBytes, 'h')},
        {5, "zebra;apple;Ma\xf1" "ana"}, {7, "20240131"}, {10, "FRA"}, {18, "sup2;sup1"}, {19, "5"},
        {21, "20240215"}, {22, "101530+0100"}};
    return special.value(slot, QByteArray("v" + QByteArray::number(slot) + " \xC5ngstr\xF6m").left(slotInfo(slot).maxBytes));
}

// A data line for the image `name`: slot i reads field i + 1.
QByteArray lineFor(const char *name, const QHash<int, QByteArray> &values)
{
    QByteArray line = name;
    for (int slot = 1; slot <= AllSlotCount; ++slot)
        line += '\t' + values.value(slot);
    return line;
}

std::string utf8(const QByteArray &ansi) { return DecodeAnsi(ansi).toStdString(); }
} // namespace

TEST_F(EngineTest, BothPathsWriteEveryFieldAndItsXmpInStepAndKeepForeignMetadata)
{
    MakeImage(imagePath("x.jpg"), "jpg", 96, 64);
    RunTool("convert", {"-size", "96x64", "gradient:red-blue", "-compress", "LZW", imagePath("x.tif")});
    MakeImage(imagePath("d.bmp"), "bmp3");
    makeImages({"c.png", "dates.jpg", "broken.jpg", "utf8.jpg", "x.psd", "x.webp"});
    for (const char *name : {"x.jpg", "x.tif", "dates.jpg", "broken.jpg", "utf8.jpg", "x.psd", "x.webp"}) {
        AddForeignMetadata(imagePath(QString::fromLatin1(name)));
        // Fields of structures the line does not set stay beside those it sets.
        RunTool("exiftool", {"-q", "-overwrite_original", "-XMP-iptcExt:LocationShownLocationId=kept", "-XMP-iptcExt:LocationShownCity=Old",
                             "-XMP-plus:LicensorTelephone1=555", imagePath(QString::fromLatin1(name))});
    }
    // IPTC that declares itself UTF-8 must get UTF-8 text, not Windows-1252 bytes.
    RunTool("exiftool", {"-q", "-overwrite_original", "-charset", "iptc=UTF8", "-IPTC:CodedCharacterSet=UTF8",
                         "-IPTC:City=Zürich", "-Photoshop:IPTCDigest=new", imagePath("utf8.jpg")});
    WriteFileBytes(temp.filePath("broken.xmp"), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF");
    RunTool("exiftool", {"-q", "-m", "-overwrite_original", "-XMP<=" + temp.filePath("broken.xmp"), imagePath("broken.jpg")});

    QHash<int, QString> slotTexts;
    QHash<int, QByteArray> every;
    for (int slot = 1; slot <= AllSlotCount; ++slot) {
        if (!isValueSlot(slot))
            continue;
        slotTexts[slot] = QStringLiteral("IPTC_Field%1").arg(slot + 1);
        every[slot] = valueFor(slot);
    }
    const int sourceType = XmpSlotOfKey("DigitalSourceType");
    useScheme(slotTexts);
    const QHash<int, QByteArray> caption{{1, valueFor(1)}};
    // dates.jpg: a date not in IIM form, no keywords or headline (the source's
    // stay), and texts that look like Exiv2's value prefixes.
    loadData({"name", lineFor("x.jpg", every), lineFor("x.tif", every), lineFor("c.png", caption), lineFor("d.bmp", caption),
              lineFor("dates.jpg", {{1, "lang=\"de\" Hallo"}, {7, "15/03/2024"}, {8, "type=Bag Rome"}, {22, "142530+0100"},
                                    {sourceType, "aiGenerated"}}),
              lineFor("broken.jpg", caption), lineFor("utf8.jpg", caption), lineFor("x.psd", every), lineFor("x.webp", every)});

    QMap<QString, FileTags> sources;
    for (const QString name : {"x.jpg", "x.tif", "x.psd", "x.webp"})
        sources[name] = ReadTags(imagePath(name));
    ASSERT_TRUE(sources["x.jpg"].warnings.isEmpty()) << sources["x.jpg"].warnings.join('\n').toStdString();

    for (const bool lossless : {false, true}) {
        SCOPED_TRACE(lossless ? "lossless" : "re-encoded");
        if (!lossless && !ReencodingAvailable())
            continue;
        app.SavePath = temp.filePath(lossless ? "lossless" : "reencoded");
        QDir().mkpath(app.SavePath);
        const auto out = [&](const QString &name) { return app.SavePath + QLatin1Char('/') + name; };
        const BatchResult result = run(!lossless);
        // Both modes write the same metadata the same way, re-encoding only
        // what it encodes. The PNG carries its tags; a date not in IIM form is
        // written nowhere; a packet that cannot be read is kept as it was while
        // the IPTC is written; WebP names the fields it has no home for.
        EXPECT_EQ(result.saved(), 9);
        const QList<LineReport> warned = result.with(LineStatus::SavedWithWarnings);
        ASSERT_EQ(LineNames(warned), (QStringList{"4 d.bmp", "5 dates.jpg", "6 broken.jpg", "9 x.webp"}));
        const QString webp = NotesText(warned[3].outcome.notes);
        EXPECT_TRUE(webp.contains("ReleaseDate, OriginatingProgram")) << webp.toStdString();
        // A code outside its vocabulary is written nowhere, as the check foresaw.
        EXPECT_TRUE(Codes(warned[1].outcome).contains(NoteCode::ValueOutOfForm));
        EXPECT_TRUE(Codes({LineStatus::Saved, CheckBatch(app, {}).lines.value(4).notes}).contains(NoteCode::ValueOutOfForm));
        // An empty cell leaves the property as the file has it.
        const FileTags unset = ReadTags(out("dates.jpg"));
        EXPECT_EQ(unset["XMP-iptcExt:DigitalSourceType"] + unset["XMP-iptcExt:LocationShownCity"], "Old");

        for (const QString name : {"x.jpg", "x.tif", "x.psd", "x.webp"}) {
            SCOPED_TRACE(name.toStdString());
            const FileTags tags = ReadTags(out(name));
            const bool iptc = name != "x.webp";
            // Lists come out as one dataset per item, in the value's order.
            for (int slot = 1; iptc && slot <= TagSlotCount; ++slot) {
                const QByteArray value = valueFor(slot);
                EXPECT_EQ(tags.iptc.value(slotInfo(slot).dataset),
                          slotInfo(slot).role == SlotRole::List ? value.split(';') : QList<QByteArray>{value})
                    << "slot " << slot;
            }
            EXPECT_EQ(tags.iptc.size(), iptc ? TagSlotCount + 1 : 0) << "the 23 datasets and the record version, no 2:255";
            EXPECT_EQ(tags["IPTC:CodedCharacterSet"], "") << "Windows-1252 bytes are not declared UTF-8";

            for (const auto &[tag, slot] : {std::pair{"MWG:Description", 1}, {"MWG:Keywords", 5}, {"MWG:Creator", 13},
                                            {"MWG:Copyright", 20}, {"XMP-dc:Subject", 5}})
                EXPECT_EQ(tags[tag], utf8(valueFor(slot))) << tag;
            EXPECT_EQ(tags["XMP-photoshop:DateCreated"], "2024:01:31 10:15:30+01:00");
            // ExifTool names each XMP slot by its key, and reads the value
            // in its written form: a vocabulary's code as its full URI.
            static const QHash<QByteArray, QString> groups{
                {"Iptc4xmpCore", "iptcCore"}, {"Iptc4xmpExt", "iptcExt"}, {"xmpRights", "xmpRights"}, {"plus", "plus"}};
            for (int slot = FirstXmpSlot; slot <= AllSlotCount; ++slot) {
                const XmpFieldInfo &field = xmpField(slot);
                QString rule;
                const QString tag = "XMP-" + groups.value(QByteArray(field.prefix.data(), field.prefix.size())) + ':' + SlotKey(slot);
                // ExifTool shows the release statuses without their vocabulary's base.
                const bool release = field.rule == XmpRule::ModelRelease || field.rule == XmpRule::PropertyRelease;
                QString written = *XmpFieldValue(slot, DecodeAnsi(valueFor(slot)), &rule);
                if (release)
                    written.remove("http://ns.useplus.org/ldf/vocab/");
                EXPECT_EQ(tags[tag.toUtf8().constData()], written.toStdString()) << tag.toStdString();
            }
            EXPECT_TRUE(name != "x.jpg" || ReadFileBytes(out(name)).contains(">http://ns.useplus.org/ldf/vocab/MR-LMR<"));
            EXPECT_EQ(tags["XMP-iptcExt:DigitalSourceType"], "http://cv.iptc.org/newscodes/digitalsourcetype/digitalCapture");
            EXPECT_EQ(tags["XMP-iptcExt:LocationShownLocationId"], "kept");
            EXPECT_EQ(tags["XMP-plus:LicensorTelephone1"], "555");
            EXPECT_EQ(tags["XMP-dc:Description-fr-FR"], "ancienne légende");
            EXPECT_EQ(tags["XMP-xmp:Rating"], "3");
            EXPECT_EQ(tags["XMP-bw:Note"], "keep me");
            EXPECT_EQ(tags["IFD0:Make"], "Acme");
            // Regression: the library's TIFF loader read the profile from freed memory.
            for (const char *icc : {"ICC-header:ProfileCMMType", "ICC-header:ProfileClass", "ICC-header:ColorSpaceData"})
                EXPECT_EQ(tags[icc], sources[name][icc]) << icc;
            EXPECT_FALSE(sources[name]["ICC-header:ProfileClass"].empty());
            EXPECT_EQ(tags.warnings, QStringList{});
            EXPECT_EQ(tags["Photoshop:IPTCDigest"], tags["File:CurrentIPTCDigest"]);
            // A re-encoded TIFF is stored as its encoder chose.
            const auto kept = [&](QStringList foreign) {
                static const QRegularExpression layout(QStringLiteral(
                    "^IFD0:(Compression|PageNumber|Strip|RowsPer|Predictor|SampleFormat|SubfileType|.?Resolution)"));
                if (!lossless)
                    foreign.removeIf([](const QString &tag) { return layout.match(tag).hasMatch(); });
                return foreign;
            };
            EXPECT_EQ(kept(tags.foreign()), kept(sources[name].foreign()));
        }

        const FileTags dates = ReadTags(out("dates.jpg"));
        EXPECT_FALSE(dates.iptc.value(55).contains("15/03/2024"));
        EXPECT_EQ(dates["XMP-photoshop:DateCreated"], "2001:01:01") << "XMP dates must be valid";
        EXPECT_EQ(dates.iptc.value(25), QList<QByteArray>({"k1", "k2", "k3"}));
        EXPECT_EQ(dates.iptc.value(105), QList<QByteArray>{"old headline"});
        EXPECT_EQ(dates["XMP-dc:Description"], "lang=\"de\" Hallo");
        EXPECT_EQ(dates["XMP-photoshop:City"], "type=Bag Rome");
        EXPECT_EQ(ReadTags(out("c.png"))["XMP-dc:Description"], utf8(valueFor(1)));

        const FileTags declared = ReadTags(out("utf8.jpg"));
        EXPECT_EQ(declared.iptc.value(120), QList<QByteArray>{DecodeAnsi(valueFor(1)).toUtf8()});
        EXPECT_EQ(declared.iptc.value(90), QList<QByteArray>{"Zürich"});
        EXPECT_EQ(declared.warnings, QStringList{});
        // Exiv2 rejects a cut IPTC block, so its reading every dataset proves the TIFF block whole.
        const QByteArray exiv2 = RunTool("exiv2", {"-pi", out("x.tif")});
        EXPECT_EQ(exiv2.count("Iptc.Application2."), TagSlotCount + 3 + 1) << exiv2.toStdString();
        // Each segment once, the XMP one too, in whatever order the library puts them.
        const auto segments = [](const QString &path) {
            static const QRegularExpression marker(QStringLiteral("\\| 0xff.. (\\w+)"));
            QStringList found;
            for (auto it = marker.globalMatch(QString::fromUtf8(RunTool("exiv2", {"-pS", path}))); it.hasNext();)
                found << it.next().captured(1);
            found.sort();
            return found;
        };
        EXPECT_EQ(segments(out("x.jpg")), segments(imagePath("x.jpg")));
        if (!lossless)
            continue;
        // Only the metadata change: the image data stay byte for byte.
        EXPECT_EQ(jpegImageData(ReadFileBytes(out("x.jpg"))), jpegImageData(ReadFileBytes(imagePath("x.jpg"))));
        EXPECT_EQ(tiffStrips(out("x.tif"), ReadTags(out("x.tif"))), tiffStrips(imagePath("x.tif"), sources["x.tif"]));
        const QByteArray png = ReadFileBytes(imagePath("c.png"));
        const qsizetype idat = png.indexOf("IDAT") - 4;
        EXPECT_TRUE(ReadFileBytes(out("c.png")).contains(png.mid(idat, png.indexOf("IEND") - idat)));
        EXPECT_EQ(ReadFileBytes(out("d.bmp")), ReadFileBytes(imagePath("d.bmp")));
    }
    SKIP_WITHOUT_REENCODING();
}

TEST(XmpDate, OnlyValidIimDatesAndTimesBecomeXmpDates)
{
    EXPECT_EQ(XmpDateFromIim("20240229", "235959-0530"), "2024-02-29T23:59:59-05:30");
    EXPECT_EQ(XmpDateFromIim("20240315", "246000+0000"), "2024-03-15") << "the time alone is dropped";
    EXPECT_EQ(XmpDateFromIim("20230229", "120000+0000"), QString());
}

// Each packet gets the values where the property stands, and nothing else changes.
TEST(XmpEditor, SetsEachPropertyWhereItStandsOrRefusesWhatItCannotRead)
{
    const QString dc = "http://purl.org/dc/elements/1.1/";
    const QString core = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
    const QString ext = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";
    const QList<XmpSetting> settings{{{dc, "dc", "description"}, XmpForm::Alt, {"new"}},
                                     {{dc, "dc", "subject"}, XmpForm::Bag, {"a", "b"}},
                                     {{"http://ns.adobe.com/photoshop/1.0/", "photoshop", "City"}, XmpForm::Text, {"Zürich & <Co> \"q\""}},
                                     {{core, "Iptc4xmpCore", "CreatorContactInfo", "CiAdrCity"}, XmpForm::Text, {"Bern"}},
                                     {{ext, "Iptc4xmpExt", "LocationShown", "City", "Bag"}, XmpForm::Text, {"Oslo & Co"}}};
    const QByteArray rdf = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'";
    const QByteArray end = "</rdf:RDF></x:xmpmeta>";
    const QByteArray padded = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>" + rdf + "><rdf:Description rdf:about=''/>" + end
        + QByteArray(2000, ' ') + "<?xpacket end='w'?>";
    const QString wide = QString::fromUtf8(rdf + "/>" + end.mid(10));
    const struct {
        const char *what;
        QByteArray packet;
        QList<QByteArray> found; // in the edited packet; none when it must be refused
    } cases[]{
        {"attribute form, in place", rdf + "><rdf:Description rdf:about='' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' "
                                           "photoshop:City='Paris'/>" + end,
         {"photoshop:City='Zürich &amp; &lt;Co&gt; &quot;q&quot;'", "<dc:description>"}},
        {"dc bound to another namespace", rdf + " xmlns:dc='http://example.com/'><rdf:Description rdf:about='' dc:x='1'/>" + end,
         {"xmlns:dc1=\"http://purl.org/dc/elements/1.1/\"", "dc:x='1'", "<dc1:subject>"}},
        {"a duplicate in another description", rdf + " xmlns:d='http://purl.org/dc/elements/1.1/'><rdf:Description rdf:about=''>"
                                                     "<d:subject>old</d:subject></rdf:Description><rdf:Description rdf:about=''>"
                                                     "<d:subject><rdf:Seq><rdf:li>old</rdf:li></rdf:Seq></d:subject>"
                                                     "</rdf:Description>" + end,
         {"<d:subject>\n <rdf:Bag>", "</rdf:Description><rdf:Description rdf:about=''></rdf:Description>"}},
        {"an empty default under another rdf prefix", rdf + " xmlns:r='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
                                                           "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:description><rdf:Alt>"
                                                           "<r:li xml:lang='x-default'/></rdf:Alt></dc:description></rdf:Description>" + end,
         {"<r:li xml:lang='x-default'>new</r:li>"}},
        {"an item of another namespace", rdf + "><rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:description><rdf:Alt>"
                                               "<rdf:li xml:lang='x-default'>old</rdf:li><o:li xmlns:o='http://example.com/'/></rdf:Alt>"
                                               "</dc:description></rdf:Description>" + end,
         {"<rdf:li xml:lang='x-default'>new</rdf:li><o:li xmlns:o='http://example.com/'/>"}},
        {"namespaces bound on the property", rdf + "><rdf:Description><e:subject xmlns:e='http://purl.org/dc/elements/1.1/' "
                                                   "xmlns:r='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><r:Seq/></e:subject>"
                                                   "</rdf:Description>" + end,
         {"<e:subject xmlns:e='http://purl.org/dc/elements/1.1/' xmlns:r='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n <r:Bag>"}},
        // A structure's field is set where it stands, whatever form the structure takes; its other fields stay.
        {"structures in attributes", rdf + "><rdf:Description xmlns:c='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/' "
                                          "xmlns:e='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'><c:CreatorContactInfo "
                                          "c:CiAdrCity='Old' c:CiEmailWork='k@x.ch'/><e:LocationShown><rdf:Bag><rdf:li e:CountryName='N'/>"
                                          "</rdf:Bag></e:LocationShown></rdf:Description>" + end,
         {"<c:CreatorContactInfo c:CiAdrCity='Bern' c:CiEmailWork='k@x.ch'/>", "<rdf:li e:CountryName='N' e:City=\"Oslo &amp; Co\"/>"}},
        {"structures as elements", rdf + "><rdf:Description xmlns:c='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/' "
                                        "xmlns:e='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'><c:CreatorContactInfo><rdf:Description>"
                                        "<c:CiTelWork>1</c:CiTelWork></rdf:Description></c:CreatorContactInfo><e:LocationShown><rdf:Bag>"
                                        "<rdf:li rdf:parseType='Resource'><e:City>Old</e:City><e:Sublocation>Dock</e:Sublocation></rdf:li>"
                                        "<rdf:li rdf:parseType='Resource'><e:City>Second</e:City></rdf:li></rdf:Bag></e:LocationShown>"
                                        "</rdf:Description>" + end,
         {"<c:CiTelWork>1</c:CiTelWork>\n<c:CiAdrCity>Bern</c:CiAdrCity></rdf:Description>",
          "<e:City>Oslo &amp; Co</e:City><e:Sublocation>Dock</e:Sublocation>", "<e:City>Second</e:City>"}},
        {"padding taken up", padded, {"<?xpacket end='w'?>"}},
        {"UTF-16", QByteArray(reinterpret_cast<const char *>(wide.utf16()), wide.size() * 2), {"<dc:description>"}},
        {"UTF-16 with a byte-order mark", "\xFE\xFF" + QByteArray(QStringEncoder(QStringConverter::Utf16BE).encode(wide)),
         {"<dc:description>"}},
        {"a document type", "<!DOCTYPE x [<!ENTITY e 'e'>]>" + rdf + "/>" + end.mid(10), {}},
        {"not well-formed", rdf + "><rdf:Description>" + end, {}},
        {"no rdf:RDF", "<x/>", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const XmpEditResult edited = EditXmp(c.packet, settings);
        EXPECT_EQ(edited.unreadable.isEmpty(), !c.found.isEmpty());
        if (c.found.isEmpty())
            continue;
        for (const QByteArray &found : c.found)
            EXPECT_TRUE(edited.packet.contains(found)) << found.toStdString() << "\n" << edited.packet.toStdString();
        QList<XmpName> names;
        for (const XmpSetting &setting : settings)
            names.append(setting.property);
        const XmpRead read = ReadXmp(edited.packet, names);
        for (qsizetype i = 0; i < settings.size(); ++i)
            EXPECT_EQ(read.values[i], settings[i].items);
        EXPECT_EQ(EditXmp(edited.packet, settings).packet, edited.packet) << "a second edit changes nothing";
    }
    EXPECT_EQ(EditXmp(padded, settings).packet.size(), padded.size()) << "edited in place";
}

namespace {
QByteArray dataset(int number, const QByteArray &value) { return "\x1C\x02" + QByteArray(1, char(number)) + BigEndian(value.size(), 2) + value; }
QByteArray resource(int id, const QByteArray &data)
{
    return "8BIM" + BigEndian(id, 2) + QByteArray(2, '\0') + BigEndian(data.size(), 4) + data + QByteArray(data.size() % 2, '\0');
}
QByteArray segment(int marker, const QByteArray &body) { return "\xFF" + QByteArray(1, char(marker)) + BigEndian(body.size() + 2, 2) + body; }
QByteArray app13(const QByteArray &resources) { return segment(0xED, QByteArray("Photoshop 3.0\0", 14) + resources); }
QByteArray withSegments(const QByteArray &jpeg, const QByteArray &segments) { return jpeg.left(2) + segments + jpeg.mid(2); }
} // namespace

// Files as real cameras, agencies and tools leave them, each once a fault of the tag writer.
TEST_F(EngineTest, TagsOnlyUpdatesEveryIptcCopyAndReportsWhatItCannotDo)
{
    makeImages({"base.jpg"});
    const QByteArray jpeg = ReadFileBytes(imagePath("base.jpg"));
    // Two APP13 segments, each with its own IPTC, and a FotoStation trailer holding a third.
    const QByteArray trailer = dataset(110, "three");
    WriteFileBytes(imagePath("copies.jpg"),
                   withSegments(jpeg, app13(resource(0x0404, dataset(110, "one"))) + app13(resource(0x0404, dataset(110, "two") + dataset(115, "kept"))))
                       + trailer + BigEndian(1, 2) + BigEndian(trailer.size() + 10, 4) + BigEndian(0xA1B2C3D4, 4));
    // An ICC segment after the frame header that is no valid profile.
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    const QByteArray icc = segment(0xE2, QByteArray("ICC_PROFILE\0\1\1", 14) + "junk");
    // Beside a real XMP segment, two that wear what the writer masks its own with while the library works.
    const QByteArray lookalikes = segment(0xE2, QByteArray("Brindleway\0\1", 12) + "not ours")
        + segment(0xE1, QByteArray("Brindleway held back its XMP\0", 29) + "not ours");
    const QByteArray xmp = segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    WriteFileBytes(imagePath("icc.jpg"), withSegments(jpeg.left(sof) + jpeg.mid(sof, 19) + icc + jpeg.mid(sof + 19), lookalikes + xmp));
    WriteFileBytes(imagePath("cut.jpg"), jpeg.left(jpeg.size() - 40));
    // Two IPTC records in one block of resources, each with datasets of its own.
    WriteFileBytes(imagePath("twice.jpg"), withSegments(jpeg, app13(resource(0x0404, dataset(80, "old by") + dataset(90, "Paris") + dataset(120, "old cap"))
                                                                     + resource(0x0404, dataset(15, "OLD") + dataset(80, "old by2")
                                                                                            + dataset(90, "Rome") + dataset(120, "old cap2")))));
    makeImages({"res.tif"});
    RunTool("exiftool", {"-q", "-overwrite_original", "-Photoshop:CopyrightFlag=True", "-XMP-rdf:About=uuid:42",
                         "-XMP-dc:Title=t", imagePath("res.tif")});
    makeImages({"p.png"});
    RunTool("convert", {imagePath("base.jpg"), "TIFF64:" + imagePath("big.tif")});
    // Chunks, blocks and resources that run past the end cannot be written around.
    makeImages({"w.webp", "g.gif", "p.psd"});
    for (const auto &[name, keep] : {std::pair{"w.webp", -10}, {"g.gif", -5}, {"p.psd", 40}}) {
        const QByteArray whole = ReadFileBytes(imagePath(name));
        WriteFileBytes(imagePath(QStringLiteral("cut.") + QFileInfo(name).suffix()), whole.left(keep < 0 ? whole.size() + keep : keep));
    }
    // XMP is a WebP's only home for tags: a packet that cannot be read leaves the line nowhere to go.
    QFile::copy(imagePath("w.webp"), imagePath("xmp.webp"));
    WriteFileBytes(temp.filePath("broken.xmp"), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF");
    RunTool("exiftool", {"-q", "-m", "-overwrite_original", "-XMP<=" + temp.filePath("broken.xmp"), imagePath("xmp.webp")});

    useScheme({{1, "IPTC_Field2"}, {13, "IPTC_Field2"}, {15, "IPTC_Field2"}, {17, "IPTC_Field2"}, {21, "20240215"}});
    loadData({"name\tvalue", "copies.jpg\tnew", "icc.jpg\tnew", "cut.jpg\tnew", "res.tif\tnew", "p.png\tnew", "big.tif\tnew",
              "cut.webp\tnew", "cut.gif\tnew", "cut.psd\tnew", "xmp.webp\tnew", "twice.jpg\tnew"});
    const BatchResult result = run();
    EXPECT_EQ(result.saved(), 7);
    const QList<LineReport> warnings = result.with(LineStatus::SavedWithWarnings);
    EXPECT_EQ(LineNames(warnings), (QStringList{"3 cut.jpg"}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(NotesText(warnings[0].outcome.notes).contains("damaged"));
    const QList<LineReport> failures = result.with(LineStatus::Failed);
    ASSERT_EQ(LineNames(failures), (QStringList{"7 cut.webp", "8 cut.gif", "9 cut.psd", "10 xmp.webp"}));
    for (const LineReport &failed : failures) {
        const bool cut = failed.name.startsWith("cut");
        const QString reason = NotesText(failed.outcome.notes);
        EXPECT_TRUE(reason.contains(cut ? "the file is damaged: " : "XMP packet cannot be read")) << reason.toStdString();
        EXPECT_EQ(reason.contains("past the end"), cut);
        EXPECT_FALSE(QFileInfo::exists(savePath(failed.name)));
    }
    EXPECT_EQ(ReadTags(savePath("big.tif"))["IPTC:Caption-Abstract"], "new") << "a BigTIFF gets its tags too";

    // No reader may find an old credit anywhere; a dataset only a later copy had survives.
    const QByteArray credits = RunTool("exiftool", {"-a", "-s3", "-IPTC:Credit", "-IPTC:Source", savePath("copies.jpg")});
    EXPECT_EQ(credits.count("new"), 2) << "the APP13 copy and the trailer's: " << credits.toStdString();
    EXPECT_TRUE(credits.contains("kept") && !credits.contains("one") && !credits.contains("two") && !credits.contains("three"));
    EXPECT_TRUE(ReadFileBytes(savePath("icc.jpg")).contains(icc)) << "the ICC segment is kept byte for byte";
    EXPECT_TRUE(ReadFileBytes(savePath("icc.jpg")).contains(lookalikes));
    EXPECT_EQ(ReadTags(savePath("icc.jpg")).iptc.value(120), QList<QByteArray>{"new"});
    const QByteArray twice = RunTool("exiftool", {"-a", "-s3", "-IPTC:all", savePath("twice.jpg")});
    EXPECT_TRUE(!twice.contains("old") && !twice.contains("OLD") && twice.count("Paris") == 1 && twice.count("Rome") == 1) << twice.toStdString();

    // A TIFF with Photoshop resources gets the standard IPTC tag, typed LONG, and no IPTC copy in the resources.
    const FileTags tiff = ReadTags(savePath("res.tif"));
    EXPECT_EQ(tiff.warnings, QStringList{});
    EXPECT_EQ(tiff["XMP-rdf:About"], "uuid:42");
    const QByteArray validate = RunTool("exiftool", {"-validate", "-warning", "-a", savePath("res.tif")});
    EXPECT_FALSE(validate.contains("IPTC")) << validate.toStdString();
    EXPECT_EQ(RunTool("exiftool", {"-s3", "-IFD0:IPTC-NAA#", "-v0", savePath("res.tif")}).isEmpty(), false);

    // PNG carries the IPTC too, so fields without an XMP home are not lost.
    const QByteArray png = RunTool("exiftool", {"-s3", "-IPTC:ReleaseDate", "-IPTC:Caption-Abstract", savePath("p.png")});
    EXPECT_EQ(png, "2024:02:15\nnew\n");
}

namespace {
QByteArray le(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
    return out;
}
// A little-endian TIFF directory entry.
QByteArray entry(int tag, int type, quint32 count, quint32 value) { return le(tag, 2) + le(type, 2) + le(count, 4) + le(value, 4); }
quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}
QByteArray chunk(const QByteArray &type, const QByteArray &data, bool goodCrc = true)
{
    return BigEndian(data.size(), 4) + type + data + BigEndian(crc32(type + data) ^ (goodCrc ? 0 : 1), 4);
}
quint32 be32(const QByteArray &bytes, qsizetype at)
{
    return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16) | (quint8(bytes[at + 2]) << 8) | quint8(bytes[at + 3]);
}
// The payloads of a JPEG's APP13 segments, joined.
QByteArray photoshopPayload(const QByteArray &jpeg)
{
    QByteArray payload;
    for (qsizetype pos = 2; pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) != 0xDA;) {
        const qsizetype length = (qsizetype(uchar(jpeg[pos + 2])) << 8) | uchar(jpeg[pos + 3]);
        if (uchar(jpeg[pos + 1]) == 0xED)
            payload += jpeg.mid(pos + 4 + 14, length - 2 - 14);
        pos += 2 + length;
    }
    return payload;
}
// A phone's picture: `jpeg` with an MPF segment, then `between`, and a
// second picture after it that the MPF header finds by its offset.
QByteArray withSecondPicture(const QByteArray &jpeg, const QByteArray &second, const QByteArray &between = {})
{
    const auto mpf = [&](quint32 firstSize, quint32 secondAt) {
        return segment(0xE2, QByteArray("MPF\0II*\0\x08\0\0\0", 12) + le(3, 2) + entry(0xB000, 7, 4, 0x30303130)
                                 + entry(0xB001, 4, 1, 2) + entry(0xB002, 7, 32, 50) + le(0, 4) + le(0x030000, 4)
                                 + le(firstSize, 4) + le(0, 4) + le(0, 4) + le(0x010002, 4) + le(second.size(), 4)
                                 + le(secondAt, 4) + le(0, 4));
    };
    const qsizetype first = 2 + mpf(0, 0).size() + between.size() + jpeg.size() - 2;
    return withSegments(jpeg, mpf(quint32(first), quint32(first - 2 - 8)) + between) + second;
}
} // namespace

// Each container writer copies every byte it does not own, including what
// a library rewriting the whole file lost or damaged.
TEST_F(EngineTest, EachContainerKeepsEveryByteItDoesNotOwn)
{
    makeImages({"base.jpg", "base.png", "second.jpg"});
    const QByteArray head("II*\0\x08\0\0\0", 8); // little-endian, first directory at 8
    const QByteArray jpeg = ReadFileBytes(imagePath("base.jpg"));
    // Fifteen pages, which the library kept four of.
    QStringList pages{"-size", "16x8"};
    for (int i = 0; i < 15; ++i)
        pages << QStringLiteral("xc:rgb(%1,0,0)").arg(i * 16);
    RunTool("convert", pages + QStringList{"-compress", "LZW", imagePath("pages.tif")});
    // An ICC chunk whose checksum is wrong, which the library re-compressed
    // with another image's bytes, and an eXIf chunk, which it turned into text.
    const QByteArray png = ReadFileBytes(imagePath("base.png"));
    const QByteArray iccp = chunk("iCCP", QByteArray("icc\0\0", 5) + "not a profile", false);
    const QByteArray exif = chunk("eXIf", head + le(1, 2) + entry(0x0112, 3, 1, 6) + le(0, 4));
    const qsizetype idat = png.indexOf("IDAT") - 4;
    WriteFileBytes(imagePath("chunks.png"), png.left(idat) + iccp + exif + png.mid(idat));
    // Compressed text that inflates to more than a file's budget: comments, which are never inflated,
    // and profiles of ours, which are refused rather than read in part.
    const QByteArray zeros = Deflate(QByteArray(30 << 20, '\0'));
    const QByteArray comments = chunk("zTXt", QByteArray("Comment\0\0", 9) + zeros).repeated(3);
    WriteFileBytes(imagePath("comments.png"), png.left(idat) + comments + png.mid(idat));
    const QByteArray profile = chunk("zTXt", QByteArray("Raw profile type iptc\0\0", 23) + zeros);
    WriteFileBytes(imagePath("profiles.png"), png.left(idat) + profile.repeated(3) + png.mid(idat));
    // One Photoshop resource running across two APP13 segments, beside IPTC
    // whose Digital Creation Time has no zone: it must stay as stored.
    const QByteArray big = QByteArray(70000, 'p') + "end";
    const QByteArray payload = resource(0x0bb7, big) + resource(0x0404, dataset(63, "102926") + dataset(120, "old"));
    const QByteArray signature("Photoshop 3.0\0", 14);
    WriteFileBytes(imagePath("chained.jpg"), withSegments(jpeg, segment(0xED, signature + payload.left(65000))
                                                                    + segment(0xED, signature + payload.mid(65000))));
    // A Canon maker note that finds its original decision data by an absolute
    // offset into what follows the image, behind a Nikon-style maker note's
    // worth of EXIF that must stay byte for byte.
    const QByteArray odd = QByteArray(4, '\xFF') + le(3, 4) + le(20, 4) + QByteArray(20, 'a') + le(20, 4) + QByteArray(20, 'b') + le(4, 4);
    const auto canonExif = [&](quint32 oddAt) {
        return segment(0xE1, QByteArray("Exif\0\0", 6) + head + le(2, 2) + entry(0x010F, 2, 6, 38)
                                 + entry(0x8769, 4, 1, 44) + le(0, 4) + QByteArray("Canon\0", 6) + le(1, 2)
                                 + entry(0x927C, 7, 18, 62) + le(0, 4) + le(1, 2) + entry(0x0083, 4, 1, oddAt) + le(0, 4));
    };
    const qsizetype oddAt = 2 + canonExif(0).size() + jpeg.size() - 2;
    WriteFileBytes(imagePath("canon.jpg"), withSegments(jpeg, canonExif(quint32(oddAt))) + odd);
    // A phone's second picture, found by an offset from the MPF header, with
    // an XMP segment between the two that grows.
    const QByteArray second = ReadFileBytes(imagePath("second.jpg"));
    const QByteArray xmp = segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    WriteFileBytes(imagePath("phone.jpg"), withSecondPicture(jpeg, second, xmp));
    // Packets as other writers leave them: only the caption may change, in
    // one packet, the same bytes for a copy read after the others.
    const QByteArray rdf = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
    const QByteArray ns = " xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
                          " xmlns:xapMM='http://ns.adobe.com/xap/1.0/mm/' xmlns:bw='http://example.com/bw/'";
    const QByteArray caption = "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>old</rdf:li>"
                               "<rdf:li xml:lang='fr-FR'>ancienne</rdf:li></rdf:Alt></dc:description>";
    const QByteArray empties = "<bw:Names><rdf:Alt/></bw:Names><photoshop:Instructions/>";
    const auto packet = [&](const QByteArray &about, const QByteArray &attributes, const QByteArray &body) {
        return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>" + rdf + "<rdf:Description rdf:about='" + about + "'" + ns
            + attributes + ">" + body + "</rdf:Description></rdf:RDF></x:xmpmeta>" + QByteArray(300, ' ') + "<?xpacket end='w'?>";
    };
    const auto extended = [&](const QByteArray &body, QByteArray *guid) {
        const QByteArray packet = rdf + "<rdf:Description rdf:about=''" + ns + ">" + body + "</rdf:Description></rdf:RDF></x:xmpmeta>";
        *guid = QCryptographicHash::hash(packet, QCryptographicHash::Md5).toHex().toUpper();
        return segment(0xE1, QByteArray("http://ns.adobe.com/xmp/extension/\0", 35) + *guid + BigEndian(packet.size(), 4)
                                 + BigEndian(0, 4) + packet);
    };
    const QByteArray xmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
    QByteArray guid;
    const QByteArray extension = extended(caption + "<bw:Note>in the extension</bw:Note>", &guid);
    const QList<std::pair<QString, QByteArray>> packets{
        {"attributes.jpg", segment(0xE1, xmpSignature + packet("", " photoshop:City='Paris' photoshop:Headline='old'", caption))},
        {"prefixes.jpg", segment(0xE1, xmpSignature + packet("uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b",
                                                            " xapMM:InstanceID='xmp.iid:42' xmlns:e='http://purl.org/dc/elements/1.1/'",
                                                            "<!-- kept --><?keep me?><e:description>twice</e:description>"
                                                                + caption + empties))},
        {"header.jpg", segment(0xE1, QByteArray("XMP\0://ns.adobe.com/xap/1.0/\0", 29)
                                         + packet("", "", "<photoshop:City>Paris</photoshop:City>" + caption))},
        {"extended.jpg", segment(0xE1, xmpSignature + packet("", " xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='" + guid + "'",
                                                            "<photoshop:City>Paris</photoshop:City>")) + extension},
        {"stale.jpg", segment(0xE1, xmpSignature + packet("", " xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='"
                                                                 + QByteArray(32, 'A') + "'", caption))},
    };
    for (const auto &[name, segments] : packets) {
        WriteFileBytes(imagePath(name), withSegments(jpeg, segments));
        WriteFileBytes(imagePath("again-" + name), withSegments(jpeg, segments));
    }

    // WebP: a simple lossy file and a lossless one with alpha, which become
    // extended; an animation with EXIF, an ICC profile, XMP and bytes after its RIFF.
    const QStringList frames{"-delay", "10", "-size", "16x8", "xc:red", "xc:blue", "-loop", "0"};
    RunTool("convert", {"-size", "48x32", "gradient:orange-navy", imagePath("lossy.webp")});
    RunTool("convert", {"-size", "48x32", "gradient:orange-none", "-define", "webp:lossless=true", imagePath("alpha.webp")});
    RunTool("convert", frames + QStringList{imagePath("anim.webp")});
    // GIF: an animation with its loop extension, and a file
    // with XMP and ICC extensions that calls itself 87a, as old tools left them.
    RunTool("convert", frames + QStringList{imagePath("loop.gif")});
    RunTool("convert", {"-size", "16x8", "xc:red", "GIF87:" + imagePath("old.gif")});
    // Photoshop documents with a layer, one with EXIF, ICC and resources of its own.
    MakeImage(imagePath("layers.psd"), "psd");
    MakeImage(imagePath("big.psb"), "psb");
    // ImageMagick leaves a stray chunk after its animation's RIFF, which ExifTool then takes in.
    const QByteArray animation = ReadFileBytes(imagePath("anim.webp"));
    WriteFileBytes(imagePath("anim.webp"), animation.left(8 + qFromLittleEndian<quint32>(animation.constData() + 4)));
    for (const char *name : {"anim.webp", "old.gif", "layers.psd"})
        AddForeignMetadata(imagePath(name));
    WriteFileBytes(imagePath("old.gif"), "GIF87a" + ReadFileBytes(imagePath("old.gif")).mid(6));
    WriteFileBytes(imagePath("anim.webp"), ReadFileBytes(imagePath("anim.webp")) + "after the RIFF");
    // A DNG as ExifTool makes one from a TIFF, with a maker note and Adobe's
    // private data, then a raw SubIFD whose CFA data no reader may lose.
    RunTool("convert", {"-size", "32x16", "gradient:red-blue", "-compress", "None", "TIFF:" + imagePath("raw.dng")});
    WriteFileBytes(temp.filePath("makernote"), le(1, 2) + entry(0x0010, 4, 1, 0x80000001) + le(0, 4));
    WriteFileBytes(temp.filePath("private"), QByteArray("Adobe\0MakN\0\0\0\x04II\0\0\0\0abcd", 22));
    RunTool("exiftool", {"-q", "-overwrite_original", "-DNGVersion=1 4 0 0", "-UniqueCameraModel=Test", "-Make=Canon",
                         "-ExifIFD:ExposureTime=0.01", "-MakerNotes<=" + temp.filePath("makernote"),
                         "-DNGPrivateData<=" + temp.filePath("private"), imagePath("raw.dng")});
    QByteArray dng = ReadFileBytes(imagePath("raw.dng"));
    dng.append(dng.size() & 1, '\0');
    const quint32 sub = quint32(dng.size());
    const QByteArray cfa(32 * 16 * 2, '\x5a');
    dng += le(12, 2) + entry(254, 4, 1, 0) + entry(256, 3, 1, 32) + entry(257, 3, 1, 16) + entry(258, 3, 1, 16)
        + entry(259, 3, 1, 1) + entry(262, 3, 1, 32803) + entry(273, 4, 1, sub + 150) + entry(277, 3, 1, 1)
        + entry(278, 3, 1, 16) + entry(279, 4, 1, cfa.size()) + entry(33421, 3, 2, 0x00020002)
        + entry(33422, 1, 4, 0x02010100) + le(0, 4) + cfa;
    WriteFileBytes(imagePath("raw.dng"), WithAddedTiffEntries(dng, {{{TiffTag::SubIfds, 4, 1, le(sub, 4)}}}));
    const QStringList formats{"lossy.webp", "alpha.webp", "anim.webp", "loop.gif", "old.gif", "layers.psd", "big.psb", "raw.dng"};

    useScheme({{1, "IPTC_Field2"}});
    loadData(QList<QByteArray>{"name\tcaption", "pages.tif\tnew", "chunks.png\tnew", "chained.jpg\tnew", "canon.jpg\tnew",
                               "phone.jpg\tnew", "comments.png\tnew", "profiles.png\tnew"}
             + [&] {
                   QList<QByteArray> lines;
                   for (const QString &name : formats)
                       lines << name.toUtf8() + "\tnew";
                   for (const auto &[name, segments] : packets)
                       lines << name.toUtf8() + "\tnew";
                   for (const auto &[name, segments] : packets)
                       lines << "again-" + name.toUtf8() + "\tnew";
                   return lines;
               }());
    const BatchResult result = run();
    EXPECT_EQ(result.saved(), 6 + formats.size() + 2 * packets.size());
    const QList<LineReport> failed = result.with(LineStatus::Failed);
    ASSERT_EQ(LineNames(failed), QStringList{"7 profiles.png"});
    EXPECT_EQ(Codes(failed[0].outcome), QList<NoteCode>{NoteCode::MetadataUnwritable});
    EXPECT_EQ(CheckBatch(app, {}).lines.value(6).notes, failed[0].outcome.notes) << "the check foresees it";
    EXPECT_TRUE(ReadFileBytes(savePath("comments.png")).contains(comments));
    const QList<LineReport> warned = result.with(LineStatus::SavedWithWarnings);
    ASSERT_EQ(LineNames(warned), (QStringList{"2 chunks.png", "20 stale.jpg", "25 again-stale.jpg"}));
    EXPECT_EQ(Codes(warned[1].outcome), QList<NoteCode>{NoteCode::MetadataLost}) << "the main packet no longer names a missing extension";
    for (const auto &[name, segments] : packets) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray out = ReadFileBytes(savePath(name));
        EXPECT_EQ(ReadFileBytes(savePath("again-" + name)), out);
        EXPECT_EQ(out.count(xmpSignature) + out.count(QByteArray("XMP\0://", 7)), 1) << "one packet";
        const FileTags was = ReadTags(imagePath(name));
        const FileTags now = ReadTags(savePath(name));
        EXPECT_EQ(now["XMP-dc:Description"], "new");
        EXPECT_EQ(now.warnings, QStringList{});
        const auto others = [](const FileTags &tags) {
            QStringList xmp;
            for (auto it = tags.tags.begin(); it != tags.tags.end(); ++it) {
                if (it.key().startsWith("XMP-") && it.key() != "XMP-dc:Description" && it.key() != "XMP-xmpNote:HasExtendedXMP")
                    xmp << it.key() + '=' + it.value();
            }
            return xmp;
        };
        EXPECT_EQ(others(now), others(was));
        EXPECT_EQ(now["XMP-dc:Description-fr-FR"], "ancienne");
        EXPECT_EQ(out.contains(empties), name == "prefixes.jpg") << "empty properties stay";
        EXPECT_EQ(out.contains("http://ns.adobe.com/xmp/extension/"), name == "extended.jpg");
    }
    EXPECT_EQ(ReadTags(savePath("extended.jpg"))["XMP-bw:Note"], "in the extension");
    EXPECT_EQ(ReadTags(savePath("prefixes.jpg"))["XMP-xmpMM:InstanceID"], "xmp.iid:42");
    const QString reason = NotesText(warned[0].outcome.notes);
    EXPECT_TRUE(reason.contains("checksum of its iCCP chunk")) << reason.toStdString();

    const QByteArray tiff = ReadFileBytes(imagePath("pages.tif"));
    const QByteArray tagged = ReadFileBytes(savePath("pages.tif"));
    EXPECT_EQ(tagged.left(4) + tagged.mid(8, tiff.size() - 8), tiff.left(4) + tiff.mid(8)) << "only the header's pointer changes";
    EXPECT_EQ(RunTool("identify", {savePath("pages.tif")}).count('\n'), 15);
    for (const QString name : {"pages.tif", "chunks.png", "chained.jpg", "canon.jpg", "phone.jpg"}) {
        SCOPED_TRACE(name.toStdString());
        const FileTags tags = ReadTags(savePath(name));
        EXPECT_EQ(tags["IPTC:Caption-Abstract"], "new");
        EXPECT_EQ(tags["XMP-dc:Description"], "new");
        EXPECT_EQ(tags.warnings, name == "chunks.png" ? tags.warnings : QStringList{});
    }
    const QByteArray chunks = ReadFileBytes(savePath("chunks.png"));
    EXPECT_TRUE(chunks.contains(iccp) && chunks.contains(exif));
    EXPECT_EQ(ReadTags(savePath("chunks.png"))["IFD0:Orientation"], "6");
    const QByteArray chained = photoshopPayload(ReadFileBytes(savePath("chained.jpg")));
    EXPECT_TRUE(chained.startsWith(resource(0x0bb7, big))) << "the resource that ran across segments is whole";
    EXPECT_EQ(ReadTags(savePath("chained.jpg")).iptc.value(63), QList<QByteArray>{"102926"});
    const QByteArray canon = ReadFileBytes(savePath("canon.jpg"));
    EXPECT_EQ(RunTool("exiftool", {"-s3", "-OriginalDecisionDataOffset", savePath("canon.jpg")}).trimmed(),
              QByteArray::number(canon.indexOf(odd)));
    EXPECT_FALSE(RunTool("exiftool", {"-validate", "-warning", "-a", savePath("canon.jpg")}).contains("decision data"));
    EXPECT_EQ(RunTool("exiftool", {"-b", "-MPImage2:PreviewImage", savePath("phone.jpg")}), second) << "the second picture is found";

    // The XMP everywhere, the IPTC where the format has a home for it; every
    // frame, pixel and foreign tag as it was, and nothing a validator minds.
    for (const QString &name : formats) {
        SCOPED_TRACE(name.toStdString());
        const FileTags was = ReadTags(imagePath(name));
        const FileTags now = ReadTags(savePath(name));
        const bool iptc = name.endsWith("psd") || name.endsWith("psb") || name.endsWith("dng");
        EXPECT_EQ(now["XMP-dc:Description"], "new");
        EXPECT_EQ(now["IPTC:Caption-Abstract"], iptc ? "new" : "");
        if (name.startsWith("layers") || name.startsWith("big")) {
            EXPECT_EQ(now["Photoshop:IPTCDigest"], now["File:CurrentIPTCDigest"]) << "a current digest, added where there was none";
        }
        EXPECT_EQ(now.warnings, QStringList{});
        const auto validate = [](const QString &path) { return RunTool("exiftool", {"-s3", "-validate", "-warning", "-a", path}); };
        EXPECT_EQ(validate(savePath(name)), validate(imagePath(name)));
        // ExifTool minds only the bytes after the animation's RIFF, in both.
        EXPECT_EQ(validate(imagePath(name)) == "OK\n", name != "anim.webp");
        // The XMP flag and the version extensions need are checked below.
        const auto foreign = [](const FileTags &tags) {
            static const QRegularExpression owned(QStringLiteral("^(RIFF:WebP_Flags|GIF:GIFVersion)="));
            QStringList kept = tags.foreign();
            kept.removeIf([](const QString &tag) { return owned.match(tag).hasMatch(); });
            return kept;
        };
        EXPECT_EQ(foreign(now), foreign(was));
        // ImageMagick hands a DNG to a raw converter; its TIFF reader reads the preview.
        const QString as = name.endsWith("dng") ? QStringLiteral("tiff:") : QString();
        const QByteArray frameCount = RunTool("identify", {as + imagePath(name)});
        ASSERT_EQ(RunTool("identify", {as + savePath(name)}).count('\n'), frameCount.count('\n'));
        for (int frame = 0; frame < frameCount.count('\n'); ++frame) {
            int differ = 0;
            RunTool("compare", {"-metric", "AE", QStringLiteral("%1%2[%3]").arg(as, imagePath(name)).arg(frame),
                                QStringLiteral("%1%2[%3]").arg(as, savePath(name)).arg(frame), "null:"}, &differ);
            EXPECT_EQ(differ, 0) << "frame " << frame;
        }
        // libwebp's own reader is stricter than ExifTool about the VP8X chunk
        // (and refuses the bytes after the animation's RIFF, in both).
        if (name.endsWith("webp")) {
            int was = 0, now = 0;
            RunTool("webpmux", {"-info", imagePath(name)}, &was);
            const QByteArray info = RunTool("webpmux", {"-info", savePath(name)}, &now);
            EXPECT_EQ(info.contains("XMP metadata"), now == 0);
            EXPECT_EQ(now, was);
        }
        // Exiv2 reads these three; it has no GIF metadata and no PSB.
        if (name.endsWith("webp") || name.endsWith("psd") || name.endsWith("dng")) {
            const QByteArray exiv2 = RunTool("exiv2", {"-pa", savePath(name)});
            EXPECT_TRUE(exiv2.contains("Xmp.dc.description") && exiv2.contains("lang=\"x-default\" new")) << exiv2.toStdString();
            EXPECT_EQ(exiv2.contains("Iptc.Application2.Caption"), iptc);
        }
    }
    EXPECT_EQ(ReadTags(savePath("lossy.webp"))["RIFF:WebP_Flags"], "4") << "a VP8X chunk that says XMP";
    EXPECT_EQ(ReadTags(savePath("alpha.webp"))["RIFF:WebP_Flags"], "20") << "and alpha, as the lossless data says";
    EXPECT_TRUE(ReadFileBytes(savePath("anim.webp")).endsWith("after the RIFF"));
    const QByteArray loop = ReadFileBytes(savePath("loop.gif"));
    const qsizetype xmpAt = loop.indexOf("XMP DataXMP");
    EXPECT_LT(loop.indexOf("NETSCAPE2.0"), xmpAt);
    EXPECT_EQ(loop.mid(loop.indexOf(QByteArray("\x02\x01\0\0", 4), xmpAt) + 4, 1), "\x2C") << "XMP right ahead of the first image";
    EXPECT_EQ(ReadTags(savePath("old.gif"))["GIF:GIFVersion"], "89a");
    EXPECT_EQ(ReadFileBytes(savePath("old.gif")).indexOf("XMP DataXMP"), ReadFileBytes(imagePath("old.gif")).indexOf("XMP DataXMP"))
        << "the XMP replaced where it was";
    // The layers and image data follow the resources byte for byte.
    for (const QString name : {"layers.psd", "big.psb"}) {
        const QByteArray psd = ReadFileBytes(imagePath(name));
        const qsizetype resources = 30 + be32(psd, 26);
        EXPECT_TRUE(ReadFileBytes(savePath(name)).endsWith(psd.mid(resources + 4 + be32(psd, resources)))) << name.toStdString();
    }
    const QByteArray raw = ReadFileBytes(imagePath("raw.dng"));
    const QByteArray rawTagged = ReadFileBytes(savePath("raw.dng"));
    EXPECT_EQ(rawTagged.left(4) + rawTagged.mid(8, raw.size() - 8), raw.left(4) + raw.mid(8)) << "only the header's pointer changes";
    EXPECT_EQ(ReadTags(savePath("raw.dng"))["SubIFD:CFAPattern2"], "0 1 1 2");
}

TEST_F(EngineTest, ReencodingKeepsPagesColoursAndSamplesOrSaysWhyNot)
{
    SKIP_WITHOUT_REENCODING();
    struct Case {
        const char *name;
        QStringList make;     // ImageMagick's arguments ahead of the file
        const char *refusal;  // part of the line's reason when it must fail
        const char *keptTag;  // a tag that must read as in the source
        const char *as = "";  // ImageMagick's format, where the ending names another
    };
    const QStringList ramp{"-size", "32x24", "gradient:red-blue"};
    const QList<Case> cases{
        {"cmyk.jpg", ramp + QStringList{"-colorspace", "CMYK"}, "CMYK image into RGB", nullptr},
        {"cmyk.tif", ramp + QStringList{"-colorspace", "CMYK"}, nullptr, "IFD0:PhotometricInterpretation"},
        {"lab.tif", ramp + QStringList{"-colorspace", "Lab"}, "Lab with 3", nullptr},
        {"pages.tif", {"-size", "32x24", "xc:red", "xc:green", "xc:blue"}, nullptr, "IFD0:BitsPerSample"},
        {"deep.png", {"-size", "32x24", "gradient:black-white", "-depth", "16", "-colorspace", "Gray"}, nullptr,
         "PNG:Gamma"},
        {"veiled.png", {"-size", "32x24", "gradient:black-none", "-colorspace", "Gray"}, "PNG as 8-bit RGBA", nullptr},
        {"full.jpg", {"-size", "64x48", "plasma:fractal", "-sampling-factor", "1x1"}, nullptr, "File:YCbCrSubSampling"},
        // The type comes from the content, whatever the ending or its case says.
        {"jpeg.tif", ramp, nullptr, "File:FileType", "jpg:"},
        {"png.tif", ramp, nullptr, "File:FileType", "png:"},
        {"plain.TiF", ramp + QStringList{"-compress", "None"}, nullptr, "IFD0:Compression"},
        {"hdr.jpg", ramp, nullptr, "MPF0:NumberOfImages"}, // given a gain map below
    };
    QList<QByteArray> data{"name"};
    for (const Case &c : cases) {
        RunTool("convert", c.make + QStringList{c.as + imagePath(c.name)});
        data << QByteArray(c.name) + "\tcaption";
    }
    RunTool("exiftool", {"-q", "-overwrite_original", "-PNG:Gamma=1.0", imagePath("deep.png")});
    MakeImage(imagePath("gain.jpg"), "jpg", 16, 12);
    const QByteArray gainMap = ReadFileBytes(imagePath("gain.jpg"));
    WriteFileBytes(imagePath("hdr.jpg"), withSecondPicture(ReadFileBytes(imagePath("hdr.jpg")), gainMap));
    loadData(data);
    useScheme({{1, "IPTC_Field2"}});
    const BatchResult result = run(true);

    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        const QString source = imagePath(c.name);
        const QString output = savePath(c.name);
        const QList<LineReport> failures = result.with(LineStatus::Failed);
        const auto failed = std::find_if(failures.begin(), failures.end(), [&](const LineReport &r) { return r.line == i + 1; });
        const QString reason = failed == failures.end() ? QString() : NotesText(failed->outcome.notes);
        if (c.refusal) {
            ASSERT_NE(failed, failures.end());
            EXPECT_TRUE(reason.contains(QLatin1String(c.refusal))) << reason.toStdString();
            EXPECT_FALSE(QFileInfo::exists(output));
            continue;
        }
        ASSERT_EQ(failed, failures.end()) << reason.toStdString();
        const FileTags was = ReadTags(source);
        const FileTags now = ReadTags(output);
        EXPECT_EQ(now[c.keptTag], was[c.keptTag]);
        EXPECT_EQ(now["IPTC:Caption-Abstract"], "caption");
        EXPECT_EQ(now["XMP-dc:Description"], "caption");
        const QByteArray pages = RunTool("identify", {source});
        ASSERT_EQ(RunTool("identify", {output}).count('\n'), pages.count('\n'));
        if (c.name == QLatin1String("hdr.jpg")) {
            EXPECT_EQ(RunTool("exiftool", {"-b", "-MPImage2:PreviewImage", output}), gainMap) << "the gain map is found";
        }
        if (was["File:FileType"] == "JPEG") {
            // 95 and up: the JPEG writer's highest quality, not its lowest.
            EXPECT_GE(RunTool("identify", {"-format", "%Q", output}).toInt(), 95);
            continue;
        }
        for (int page = 0; page < pages.count('\n'); ++page) {
            int differ = 0;
            RunTool("compare", {"-metric", "AE", QStringLiteral("%1[%2]").arg(source).arg(page),
                                QStringLiteral("%1[%2]").arg(output).arg(page), "null:"}, &differ);
            EXPECT_EQ(differ, 0) << "page " << page << " has other sample values";
        }
    }
}

// Windows-1252 data, written byte for byte and undeclared, is checked by the every-field test.
TEST_F(EngineTest, UnicodeDataFilesGiveUtf8IptcDeclaredAs190InBothModes)
{
    // A UTF-8 name must find its file: Linux names are bytes.
    const QStringList names{"Łódź 1.jpg", "b.tif", "c.png"};
    makeImages(names);
    // Latin-1 bytes without 1:90, as old files hold them: they must read the same afterwards.
    RunTool("exiftool", {"-q", "-overwrite_original", "-charset", "iptc=Latin", "-IPTC:City=Zürich", imagePath(names[0])});
    const QString wide = "Łódź — Αθήνα, 東京: it’s";
    const QString text = "name\r\n" + names.join("\t" + wide + "\r\n") + "\t" + wide + "\r\n";
    const auto utf16 = [&](QStringConverter::Encoding encoding) {
        return QByteArray(QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(text));
    };
    useScheme({{1, "IPTC_Field2"}});
    for (const auto &[encoding, bytes] : {std::pair{"utf-8", text.toUtf8()}, {"utf-8-bom", "\xEF\xBB\xBF" + text.toUtf8()},
                                          {"utf-16le", utf16(QStringConverter::Utf16LE)},
                                          {"utf-16be", utf16(QStringConverter::Utf16BE)}}) {
        WriteFileBytes(temp.filePath("data.txt"), bytes);
        ASSERT_EQ(LoadDataFile(temp.filePath("data.txt"), app.Data).problem.kind(), Problem::Kind::None);
        for (const bool lossless : {true, false}) {
            SCOPED_TRACE(std::string(encoding) + (lossless ? ", tags only" : ", re-encoded"));
            if (!lossless && !ReencodingAvailable())
                continue;
            app.SavePath = temp.filePath(QStringLiteral("%1-%2").arg(encoding).arg(lossless));
            QDir().mkpath(app.SavePath);
            EXPECT_TRUE(run(!lossless).allTaggedAndSaved());
            for (const QString &name : names) {
                SCOPED_TRACE(name.toStdString());
                const FileTags tags = ReadTags(app.SavePath + QLatin1Char('/') + name);
                EXPECT_EQ(tags.iptc.value(120), QList<QByteArray>{wide.toUtf8()});
                EXPECT_EQ(tags["IPTC:CodedCharacterSet"], "\x1b%G");
                EXPECT_EQ(tags["XMP-dc:Description"], wide.toStdString());
            }
            EXPECT_EQ(ReadTags(app.SavePath + "/" + names[0])["IPTC:City"], "Zürich");
        }
    }
    SKIP_WITHOUT_REENCODING();
}

// Every walk reads through the bounded reader: a file cut at any byte gives
// parts that lie inside what is left, and a whole layout only for the whole file.
TEST_F(EngineTest, AFileCutAnywhereIsWalkedInsideWhatIsLeft)
{
    makeImages({"cut.jpg", "cut.png", "cut.gif", "cut.webp", "cut.psd", "cut.tif"});
    const auto inside = [](qsizetype start, qsizetype end, qsizetype size) { return start >= 0 && start <= end && end <= size; };
    for (const QString name : {"cut.jpg", "cut.png", "cut.gif", "cut.webp", "cut.psd", "cut.tif"}) {
        const QByteArray file = ReadFileBytes(imagePath(name));
        ASSERT_GT(file.size(), 32) << qPrintable(name);
        for (qsizetype size = 0; size <= file.size(); ++size) {
            const QByteArrayView cut = QByteArrayView(file).first(size);
            const auto where = [&] { return QStringLiteral("%1 cut at %2").arg(name).arg(size).toStdString(); };
            for (const JpegSegment &s : JpegSegments(cut).segments)
                EXPECT_TRUE(inside(s.start, s.end, size) && s.body <= s.end) << where();
            const PngLayout png = PngChunks(cut);
            for (const PngChunk &c : png.chunks)
                EXPECT_TRUE(inside(c.start, c.end, size) && c.data + c.size <= c.end) << where();
            for (const GifBlock &b : GifBlocks(cut).blocks)
                EXPECT_TRUE(inside(b.start, b.end, size)) << where();
            for (const WebpChunk &c : WebpChunks(cut).chunks)
                EXPECT_TRUE(inside(c.start, c.end, size) && c.data + c.size <= c.end) << where();
            const PsdLayout psd = PsdSections(cut);
            EXPECT_TRUE(inside(psd.resources, psd.resourcesEnd, size) || !psd.damage.isEmpty()) << where();
            const TiffStructure tiff(cut);
            for (const qsizetype ifd : tiff.directories()) {
                for (const TiffEntry &e : tiff.entries(ifd))
                    EXPECT_TRUE(inside(e.value, e.value + e.size, size)) << where();
            }
            EXPECT_TRUE(size == file.size() || !name.endsWith(".png") || !png.whole) << where();
        }
    }
    // The blocks inside: a dataset or resource cut short is none.
    const QByteArray iim = dataset(120, "caption") + dataset(25, "key");
    const QByteArray resources = resource(0x0404, iim) + resource(0x0425, QByteArray(16, 'd'));
    for (qsizetype size = 0; size < resources.size(); ++size) {
        const qsizetype datasets = ParseIim(QByteArrayView(iim).first(std::min(size, iim.size()))).size();
        EXPECT_EQ(datasets, size >= iim.size() ? 2 : size >= dataset(120, "caption").size() ? 1 : 0) << size;
        bool whole = true;
        const QList<PhotoshopResource> parsed = ParsePhotoshopResources(QByteArrayView(resources).first(size), &whole);
        EXPECT_EQ(parsed.size(), size >= resource(0x0404, iim).size() ? 1 : 0) << size;
        EXPECT_EQ(whole, size == 0 || size == resource(0x0404, iim).size()) << size;
    }
}
