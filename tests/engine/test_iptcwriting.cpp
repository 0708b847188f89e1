#include "enginefixture.h"

#include "model/codepage.h"

#include <QFile>

namespace {
// One distinct value per tag slot, some with Windows-1252 letters outside ASCII.
QByteArray valueFor(int slot)
{
    switch (slot) {
    case 1:
        return "Caf\xE9 \x96 \x9C" "uvre \x80 \x84quoted\x93";
    case 5:
        return "a;b;c";
    case 18:
        return "sup2;sup1";
    case 7:
        return "20240131";
    case 19:
        return "5";
    case 22:
        return "101530+0100";
    default:
        return "v" + QByteArray::number(slot) + " \xC5ngstr\xF6m";
    }
}

QList<QByteArray> expectedDatasets(int slot)
{
    if (slot == 5)
        return {"a", "b", "c"};
    if (slot == 18)
        return {"sup2", "sup1"};
    return {valueFor(slot)};
}
} // namespace

TEST_F(EngineTest, EveryFieldLandsInItsDatasetWithItsExactBytesInJpegAndTiff)
{
    MakeImage(imagePath(QStringLiteral("photo.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("scan.tif")), QStringLiteral("tif"));
    QMap<int, QString> slotTexts;
    QByteArray header = "name";
    QList<QByteArray> rows{"photo.jpg", "scan.tif"};
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        slotTexts[slot] = QStringLiteral("IPTC_Field%1").arg(slot + 1);
        header += "\tf" + QByteArray::number(slot);
        for (QByteArray &row : rows)
            row += '\t' + valueFor(slot);
    }
    useScheme(slotTexts);
    loadData({header, rows[0], rows[1]});

    const BatchResult result = run();
    ASSERT_TRUE(result.allTaggedAndSaved()) << (result.failed.isEmpty() ? "" : result.failed[0].reason.toStdString());
    EXPECT_EQ(result.saved, 2);

    for (const QString &name : {QStringLiteral("photo.jpg"), QStringLiteral("scan.tif")}) {
        SCOPED_TRACE(name.toStdString());
        const IptcDatasets datasets = ReadIptcWithExifTool(savePath(name));
        for (int slot = 1; slot <= TagSlotCount; ++slot)
            EXPECT_EQ(datasets.value(slotInfo(slot).dataset), expectedDatasets(slot)) << "slot " << slot;
        EXPECT_FALSE(datasets.contains(255)) << "a key the library did not know";
        EXPECT_EQ(datasets.size(), TagSlotCount + 1) << "the 23 datasets and the record version";
    }

    // Exiv2 refuses a cut IPTC block, so its reading proves the TIFF block whole.
    const QByteArray exiv2 = RunTool(QStringLiteral("exiv2"), {QStringLiteral("-pi"), savePath(QStringLiteral("scan.tif"))});
    EXPECT_TRUE(exiv2.contains("Iptc.Application2.Caption                    String     " + QByteArray::number(valueFor(1).size())
                               + "  " + valueFor(1)))
        << exiv2.toStdString();
    EXPECT_TRUE(exiv2.contains("Iptc.Application2.Program                    String"));
    EXPECT_EQ(exiv2.count("Iptc.Application2."), TagSlotCount + 3 + 1) << "three keywords, two categories, the version";

    // Read as Windows-1252, the caption is the text the data file meant.
    const QByteArray caption = RunTool(QStringLiteral("exiftool"),
                                       {QStringLiteral("-s3"), QStringLiteral("-charset"), QStringLiteral("iptc=cp1252"),
                                        QStringLiteral("-IPTC:Caption-Abstract"), savePath(QStringLiteral("scan.tif"))});
    EXPECT_EQ(QString::fromUtf8(caption).trimmed(), DecodeAnsi(valueFor(1)));
}

TEST_F(EngineTest, ReplacesTheSourcesCaptionAndKeepsItsOtherMetadata)
{
    const QString source = imagePath(QStringLiteral("old.jpg"));
    MakeImage(source, QStringLiteral("jpg"));
    RunTool(QStringLiteral("exiftool"),
            {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-IPTC:Caption-Abstract=old caption"),
             QStringLiteral("-IPTC:Keywords=k1"), QStringLiteral("-IPTC:Keywords=k2"), QStringLiteral("-IPTC:Keywords=k3"),
             QStringLiteral("-IPTC:City=Paris"), QStringLiteral("-IPTC:Headline=old headline"),
             QStringLiteral("-EXIF:Artist=Ann Example"), QStringLiteral("-XMP-dc:Title=Kept title"), source});
    useScheme({{1, QStringLiteral("IPTC_Field2")}, {3, QStringLiteral("IPTC_Field3")}});
    // Field 3 is empty: the source's headline stays.
    loadData({"name\tcaption\theadline", "old.jpg\tnew caption\t"});

    ASSERT_TRUE(run().allTaggedAndSaved());
    const IptcDatasets datasets = ReadIptcWithExifTool(savePath(QStringLiteral("old.jpg")));
    EXPECT_EQ(datasets.value(120), QList<QByteArray>{"new caption"});
    EXPECT_EQ(datasets.value(105), QList<QByteArray>{"old headline"});
    EXPECT_EQ(datasets.value(90), QList<QByteArray>{"Paris"});
    EXPECT_EQ(datasets.value(25), (QList<QByteArray>{"k1", "k2", "k3"}));
    EXPECT_FALSE(datasets.contains(255));

    const QByteArray other = RunTool(QStringLiteral("exiftool"),
                                     {QStringLiteral("-s3"), QStringLiteral("-EXIF:Artist"), QStringLiteral("-XMP-dc:Title"),
                                      savePath(QStringLiteral("old.jpg"))});
    EXPECT_EQ(other, "Ann Example\nKept title\n");
}

TEST_F(EngineTest, SourceWithoutIptcGetsExactlyItsLinesTagsAndLongValuesPassWhole)
{
    MakeImage(imagePath(QStringLiteral("bare.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("huge.jpg")), QStringLiteral("jpg"));
    const QByteArray longCaption(5000, 'x');
    const QByteArray tooLong(MaxIptcValueBytes + 1, 'y');
    useScheme({{1, QStringLiteral("IPTC_Field2")}, {19, QStringLiteral("7")}, {4, QStringLiteral(" ")}});
    loadData({"name\tcaption", "bare.jpg\t" + longCaption, "huge.jpg\t" + tooLong});

    const BatchResult result = run();
    EXPECT_EQ(result.saved, 1);
    const IptcDatasets datasets = ReadIptcWithExifTool(savePath(QStringLiteral("bare.jpg")));
    EXPECT_EQ(datasets.value(120), QList<QByteArray>{longCaption});
    EXPECT_EQ(datasets.value(10), QList<QByteArray>{"7"});
    EXPECT_EQ(datasets.value(40), QList<QByteArray>{" "});
    EXPECT_EQ(datasets.size(), 4);

    // A value IPTC cannot hold is not cut or mangled: the line is not saved, and says why.
    ASSERT_EQ(result.failed.size(), 1);
    EXPECT_EQ(result.failed[0].line, 2);
    EXPECT_TRUE(result.failed[0].reason.contains(QStringLiteral("Caption/Abstract")));
    EXPECT_FALSE(QFile::exists(savePath(QStringLiteral("huge.jpg"))));
}

TEST_F(EngineTest, TypeComesFromTheContentAndFlagsFitTheWriterActuallyUsed)
{
    MakeImage(imagePath(QStringLiteral("jpeg.tif")), QStringLiteral("jpg"), 96, 64);
    MakeImage(imagePath(QStringLiteral("png.tif")), QStringLiteral("png"));
    MakeImage(imagePath(QStringLiteral("plain.TiF")), QStringLiteral("tif"));
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "jpeg.tif", "png.tif", "plain.TiF"});

    const BatchResult result = run();
    EXPECT_EQ(result.saved, 3);
    EXPECT_EQ(FileTypeOf(savePath(QStringLiteral("jpeg.tif"))), QStringLiteral("JPEG"));
    EXPECT_EQ(FileTypeOf(savePath(QStringLiteral("png.tif"))), QStringLiteral("PNG"));
    EXPECT_EQ(FileTypeOf(savePath(QStringLiteral("plain.TiF"))), QStringLiteral("TIFF"));
    // 2048 would mean the JPEG writer's lowest quality; the highest is wanted.
    const QByteArray quality = RunTool(QStringLiteral("identify"),
                                       {QStringLiteral("-format"), QStringLiteral("%Q"), savePath(QStringLiteral("jpeg.tif"))});
    EXPECT_GE(quality.toInt(), 95) << quality.toStdString();
    const QByteArray compression = RunTool(QStringLiteral("exiftool"),
                                           {QStringLiteral("-s3"), QStringLiteral("-Compression"),
                                            savePath(QStringLiteral("plain.TiF"))});
    EXPECT_EQ(compression.trimmed(), "Uncompressed");

    // The PNG holds no IPTC but carries the caption as XMP, so it counts as tagged.
    EXPECT_TRUE(result.savedWithoutTags.isEmpty());
    EXPECT_EQ(RunTool(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-XMP-dc:Description"),
                                                   savePath(QStringLiteral("png.tif"))})
                  .trimmed(),
              "caption");
    EXPECT_TRUE(result.allTaggedAndSaved());
}

TEST_F(EngineTest, PngAndTiffOutputsKeepTheirPixelsExactly)
{
    MakeImage(imagePath(QStringLiteral("a.png")), QStringLiteral("png"));
    MakeImage(imagePath(QStringLiteral("b.tif")), QStringLiteral("tif"));
    useScheme({{1, QStringLiteral("caption")}});
    loadData({"name", "a.png", "b.tif"});
    EXPECT_EQ(run().saved, 2);
    for (const QString &name : {QStringLiteral("a.png"), QStringLiteral("b.tif")}) {
        const QByteArray before = PixelsOf(imagePath(name));
        ASSERT_FALSE(before.isEmpty());
        EXPECT_EQ(PixelsOf(savePath(name)), before) << name.toStdString();
    }
}
