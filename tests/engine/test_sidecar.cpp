#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmppacket.h"
#include "engine/metadata/xmpsidecar.h"
#include "engine/run/batchcheck.h"
#include "engine/run/exporttable.h"
#include "engine/worker/imagetags.h"
#include "enginefixture.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

// Camera raw files and HEIF go to a sidecar, by their first bytes or, for
// raw files that are TIFF inside, by their name; a DNG is written in the file.
TEST(SidecarFormats, RawFilesAndHeifAreToldByNameOrSignature)
{
    const QByteArray tiff("II*\0\x08\0\0\0", 8);
    const QByteArray bigEndian("MM\0*\0\0\0\x08", 8);
    const struct {
        const char *name;
        QByteArray head;
        ImageFormat format;
    } cases[]{
        {"IMG_0001.dng", tiff, ImageFormat::Tiff},
        {"scan.tif", tiff, ImageFormat::Tiff},
        {"IMG_0001.NEF", bigEndian, ImageFormat::CameraRaw},
        {"IMG_0001.arw", tiff, ImageFormat::CameraRaw},
        {"renamed.tif", QByteArray("II*\0\x10\0\0\0CR\x02\0", 12), ImageFormat::CameraRaw},
        {"IMG_0001.CR3", QByteArray("\0\0\0\x18" "ftypcrx \0\0\0\x01" "crx isom", 24), ImageFormat::CameraRaw},
        {"DSCF0001.RAF", "FUJIFILMCCD-RAW 0201FF383501", ImageFormat::CameraRaw},
        {"P0001.ORF", QByteArray("IIRO\x08\0\0\0", 8), ImageFormat::CameraRaw},
        {"P0001.RW2", QByteArray("IIU\0\x08\0\0\0", 8), ImageFormat::CameraRaw},
        {"SDIM0001.X3F", "FOVb\x00\x00\x02\x00", ImageFormat::CameraRaw},
        {"PICT0001.MRW", QByteArray("\0MRM\0\0\0\x20", 8), ImageFormat::CameraRaw},
        {"CRW_0001.CRW", QByteArray("II\x1a\0\0\0HEAPCCDR\0\0\x01\0", 18), ImageFormat::CameraRaw},
        {"IMG_0001.HEIC", QByteArray("\0\0\0\x1c" "ftypheic\0\0\0\0" "mif1heicmiaf", 28), ImageFormat::Heif},
        {"photo.avif", QByteArray("\0\0\0\x1c" "ftypavif\0\0\0\0" "avifmif1miaf", 28), ImageFormat::Heif},
        // A phone's own major brand, HEIF only among the compatible ones.
        {"phone.heic", QByteArray("\0\0\0\x1c" "ftypiso8\0\0\0\0" "mp41mif1heic", 28), ImageFormat::Heif},
        {"clip.mp4", QByteArray("\0\0\0\x1c" "ftypisom\0\0\x02\0" "isomiso2mp41", 28), ImageFormat::Unknown},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatOf(c.head, QString::fromLatin1(c.name)), c.format);
        const TagPlace place = TagPlaceOf(c.format);
        EXPECT_EQ(place == TagPlace::Sidecar, c.format == ImageFormat::CameraRaw || c.format == ImageFormat::Heif);
    }
    EXPECT_EQ(TagPlaceOf(ImageFormat::Tiff), TagPlace::IptcAndXmp) << "a DNG keeps its tags inside";
    EXPECT_EQ(SidecarName("IMG_0001.CR3", SidecarNaming::Stem), "IMG_0001.xmp");
    EXPECT_EQ(SidecarName("IMG_0001.CR3", SidecarNaming::FullName), "IMG_0001.CR3.xmp");
    EXPECT_EQ(SidecarName("shoot.2024/IMG", SidecarNaming::Stem), "shoot.2024/IMG.xmp");
}

// A sidecar carries every value with an XMP home and names the others; one
// that is already there keeps what other programs put in it.
TEST(Sidecar, CarriesTheXmpAndKeepsAnExistingSidecarsProperties)
{
    const QByteArray darktable = R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="XMP Core 4.4.0-Exiv2">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:darktable="http://darktable.sf.net/" xmlns:photoshop="http://ns.adobe.com/photoshop/1.0/"
    xmp:Rating="4" darktable:xmp_version="5" photoshop:DateCreated="2023-05-06T07:08:09+02:00">
   <dc:description><rdf:Alt><rdf:li xml:lang="x-default">old</rdf:li><rdf:li xml:lang="fr-FR">ancienne</rdf:li></rdf:Alt></dc:description>
   <darktable:history><rdf:Seq><rdf:li darktable:operation="exposure" darktable:enabled="1"/></rdf:Seq></darktable:history>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>)";
    const QByteArray unreadable = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF";
    // A document type could declare entities that expand without end.
    const QByteArray declared = "<!DOCTYPE x:xmpmeta [<!ENTITY e 'old'>]>" + darktable.mid(darktable.indexOf("<x:"));
    const QList<TagValue> values{{1, "Café at dawn"}, {5, "harbour;boats"}, {7, "20240131"}, {22, "101530+0100"}, {21, "20240215"}};
    enum Result { Refused, Nothing, Unchanged, Written };
    const struct {
        const char *what;
        const QByteArray *existing;
        QList<TagValue> values;
        QStringList homeless; // the fields the note names
        Result result;
        const char *kept = nullptr; // a tag the sidecar must hold, as "Group:Name=value"
    } cases[]{
        {"a new sidecar", nullptr, values, {"ReleaseDate"}, Written, "XMP-photoshop:DateCreated=2024:01:31 10:15:30+01:00"},
        {"darktable's", &darktable, values, {"ReleaseDate"}, Written, "XMP-xmp:Rating=4"},
        {"a time, with the sidecar's date", &darktable, {{22, "101530+0100"}}, {}, Written,
         "XMP-photoshop:DateCreated=2023:05:06 10:15:30+01:00"},
        {"nothing with an XMP home", nullptr, {{21, "20240215"}, {22, "101530+0100"}}, {"ReleaseDate", "TimeCreated"}, Nothing},
        {"nothing for an existing one", &darktable, {{21, "20240215"}}, {"ReleaseDate"}, Unchanged},
        {"an unreadable one", &unreadable, values, {}, Refused},
        {"one with a document type", &declared, values, {}, Refused},
    };
    QTemporaryDir temp;
    XmpMemory memory;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const SidecarOutcome sidecar = WriteSidecar(c.existing, TagEdit{c.values, true}, memory);
        EXPECT_EQ(sidecar.outcome.status == LineStatus::Failed, c.result == Refused);
        EXPECT_EQ(sidecar.bytes.isEmpty(), c.result == Refused || c.result == Nothing);
        if (c.result == Refused)
            continue;
        const QList<Note> homeless{{NoteCode::FieldsWithoutHome, QStringList{"an XMP sidecar"} + c.homeless}};
        EXPECT_EQ(sidecar.outcome.notes, c.homeless.isEmpty() ? QList<Note>() : homeless);
        if (c.result == Unchanged) {
            EXPECT_EQ(sidecar.bytes, *c.existing);
            continue;
        }
        if (c.result != Written)
            continue;
        // A new sidecar is a whole packet; an existing one keeps its own first and last lines.
        EXPECT_TRUE(sidecar.bytes.startsWith(c.existing ? c.existing->left(60) : "<?xpacket begin=\"\xEF\xBB\xBF\""));
        EXPECT_TRUE(sidecar.bytes.endsWith(c.existing ? c.existing->right(20) : "<?xpacket end=\"w\"?>"));
        const QString path = temp.filePath(QStringLiteral("IMG_0001.xmp"));
        WriteFileBytes(path, sidecar.bytes);
        // An export lists the photo beside it, and reads what the sidecar holds back.
        WriteFileBytes(temp.filePath("IMG_0001.NEF"), QByteArray("MM\0*\0\0\0\x08", 8));
        const ExportListing listing = ExportableImages(temp.path());
        EXPECT_EQ(listing.images, QStringList{"IMG_0001.NEF"});
        EXPECT_TRUE(listing.leftOut.isEmpty()) << "its sidecar is read for it, not left out";
        EXPECT_EQ(ReadImageTagsAt(temp.filePath("IMG_0001.NEF"), true).values[0],
                  c.values.size() > 1 ? "Café at dawn" : c.existing ? "old" : "");
        const FileTags tags = ReadTags(path);
        EXPECT_EQ(tags.warnings, QStringList{});
        const QString kept = QString::fromUtf8(c.kept);
        EXPECT_EQ(tags.tags.value(kept.section('=', 0, 0)), kept.section('=', 1));
        if (c.existing) {
            EXPECT_EQ(tags["XMP-dc:Description-fr-FR"], "ancienne");
            EXPECT_EQ(tags["XMP-darktable:HistoryOperation"], "exposure");
        }
        if (c.values.size() == 1)
            continue;
        EXPECT_EQ(tags["XMP-dc:Description"], "Café at dawn");
        EXPECT_EQ(tags["XMP-dc:Subject"], "harbour;boats");
        const QByteArray exiv2 = RunTool("exiv2", {"-px", path});
        EXPECT_TRUE(exiv2.contains("Café at dawn")) << exiv2.toStdString();
    }
}

// A data file's names find their files loosely unless asked otherwise, the
// outputs take the names found, and a raw file is copied as it is with its
// sidecar beside it, built on the one it has: the check and the run agree.
TEST_F(EngineTest, NamesFindTheirFilesAndRawFilesGetTheirSidecarsBesideThem)
{
    makeImages({"IMG_0001.JPG", "shot.jpg"});
    const QByteArray nef = QByteArray("MM\0*\0\0\0\x08", 8) + QByteArray(600, 'r');
    const QByteArray heic = QByteArray("\0\0\0\x1c" "ftypheic\0\0\0\0" "mif1heicmiaf", 28) + QByteArray(300, 'h');
    for (const char *name : {"IMG_0001.NEF", "IMG_0002.NEF", "IMG_0003.NEF", "IMG_0004.NEF", "IMG_0002.HEIC.NEF"})
        WriteFileBytes(imagePath(name), nef);
    WriteFileBytes(imagePath("IMG_0003.xmp"), "this is no XMP <");
    WriteFileBytes(imagePath("IMG_0002.HEIC"), heic);
    // A Canon raw file by its signature, named like a sidecar.
    const QByteArray cr2 = QByteArray("II*\0\x10\0\0\0CR\x02\0", 12) + QByteArray(600, 'c');
    WriteFileBytes(imagePath("x.xmp"), cr2);
    // Stored decomposed, as macOS stores names; the data file holds it composed.
    const QString decomposed = QString::fromUtf8("Cafe\xcc\x81.jpg");
    MakeImage(imagePath(decomposed), "jpg");
    WriteFileBytes(imagePath("IMG_0002.XMP"), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                                              "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'/>"
                                              "</rdf:RDF></x:xmpmeta>");
    useScheme({{1, "IPTC_Field2"}, {21, "IPTC_Field3"}});
    loadData({"File\tCaption\tRelease", "img_0001\tfirst\t", "IMG_0001.jpg\tjpeg\t", "SHOT\tshot\t", "IMG_0002.NEF\traw\t20240101",
              "IMG_0002.HEIC\tphone\t", "IMG_0003.NEF\tbroken\t", "IMG_0004.NEF\t\t", "x.xmp\tnamed so\t",
              "Caf\xc3\xa9.jpg\tcomposed\t", "IMG_0002.HEIC.NEF\tclash\t"});
    const struct {
        NameMatching matching;
        SidecarNaming naming;
        QList<QList<NoteCode>> codes; // each line's
        QStringList saved;
    } cases[] = {
        // A raw file and a HEIF image of one stem, or a raw file named like its own sidecar: no sidecar
        // replaces another photo's, or a copy; the one that would is named in full, and says so.
        {NameMatching::Loose, SidecarNaming::Stem,
         {{NoteCode::AmbiguousName}, {}, {}, {NoteCode::FieldsWithoutHome}, {NoteCode::SidecarNamedInFull},
          {NoteCode::MetadataUnwritable}, {}, {NoteCode::SidecarNamedInFull}, {}, {NoteCode::SidecarNameTaken}},
         {decomposed, "IMG_0001.JPG", "IMG_0002.HEIC", "IMG_0002.HEIC.xmp", "IMG_0002.NEF", "IMG_0002.xmp", "IMG_0004.NEF",
          "IMG_0004.xmp", "shot.jpg", "x.xmp", "x.xmp.xmp"}},
        {NameMatching::Exact, SidecarNaming::FullName,
         {{NoteCode::SourceMissing}, {NoteCode::SourceMissing}, {NoteCode::SourceMissing}, {NoteCode::FieldsWithoutHome}, {},
          {NoteCode::MetadataUnwritable}, {}, {}, {NoteCode::SourceMissing}, {}},
         {"IMG_0002.HEIC", "IMG_0002.HEIC.NEF", "IMG_0002.HEIC.NEF.xmp", "IMG_0002.HEIC.xmp", "IMG_0002.NEF", "IMG_0002.NEF.xmp", "IMG_0004.NEF", "IMG_0004.NEF.xmp", "x.xmp",
          "x.xmp.xmp"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.matching == NameMatching::Exact ? "exact" : "loose");
        QDir(savePath()).removeRecursively();
        QDir().mkpath(savePath());
        // A line that sets nothing writes no sidecar and leaves one already there alone.
        const QString stale = savePath(c.naming == SidecarNaming::Stem ? "IMG_0004.xmp" : "IMG_0004.NEF.xmp");
        WriteFileBytes(stale, "stale");
        BatchOptions options;
        options.matching = c.matching;
        options.sidecarNaming = c.naming;
        const BatchCheck check = CheckBatch(app, options);
        const BatchResult result = run(options);
        ASSERT_EQ(result.reports.size(), c.codes.size());
        for (qsizetype i = 0; i < c.codes.size(); ++i) {
            EXPECT_EQ(Codes(result.reports[i].outcome), c.codes[i]) << "line " << i + 1;
            EXPECT_EQ(Codes({LineStatus::Saved, check.lines[i].notes}), c.codes[i]) << "line " << i + 1;
        }
        EXPECT_EQ(FolderEntries(savePath()), c.saved);
        EXPECT_EQ(ReadFileBytes(savePath("IMG_0002.NEF")), nef) << "the raw file itself is untouched";
        EXPECT_EQ(ReadFileBytes(savePath("IMG_0002.HEIC")), heic);
        EXPECT_EQ(ReadFileBytes(savePath("x.xmp")), cr2);
        EXPECT_EQ(ReadTags(savePath("x.xmp.xmp"))["XMP-dc:Description"], "named so");
        EXPECT_EQ(ReadTags(savePath("IMG_0002.HEIC.xmp"))["XMP-dc:Description"], "phone");
        EXPECT_EQ(ReadFileBytes(stale), "stale");
        const QString sidecar = savePath(c.naming == SidecarNaming::Stem ? "IMG_0002.xmp" : "IMG_0002.NEF.xmp");
        const FileTags tags = ReadTags(sidecar);
        EXPECT_EQ(tags["XMP-xmp:Rating"], "3") << "the sidecar it had is the base";
        EXPECT_EQ(tags["XMP-dc:Description"], "raw");
        EXPECT_TRUE(RunTool("exiv2", {"-px", sidecar}).contains("Xmp.dc.description")) << "exiv2 reads it too";
    }
    const BatchCheck check = CheckBatch(app, {});
    EXPECT_EQ(check.lines[0].notes.value(0).details, (QStringList{"IMG_0001.JPG", "IMG_0001.NEF"}));
    EXPECT_TRUE(check.lines[4].notes.contains(Note{NoteCode::SidecarNamedInFull, {"IMG_0002.HEIC.xmp", "IMG_0002.NEF"}}));
    EXPECT_EQ(check.lines[9].notes.value(0), (Note{NoteCode::SidecarNameTaken, {"6"}})) << "the row whose sidecar has the name";
    // An export names each file it leaves out, and why; the sidecars it reads for their photos are not left out.
    WriteFileBytes(imagePath(".brindleway-Ab3xY9.part"), nef);
    QList<std::pair<QString, NoteCode>> leftOut;
    for (const LeftOutFile &file : ExportableImages(imagePath()).leftOut)
        leftOut.append({file.name, file.why.code});
    EXPECT_EQ(leftOut, (QList<std::pair<QString, NoteCode>>{{".brindleway-Ab3xY9.part", NoteCode::TemporaryName},
                                                            {"IMG_0001.NEF", NoteCode::ReadFailed},
                                                            {"IMG_0002.HEIC.NEF", NoteCode::ReadFailed},
                                                            {"IMG_0004.NEF", NoteCode::ReadFailed},
                                                            {"x.xmp", NoteCode::ReadFailed}}));
}
