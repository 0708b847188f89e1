#include "enginefixture.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>

namespace {
QByteArray exiftoolTag(const QString &path, const QString &tag)
{
    return RunTool(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-sep"), QStringLiteral(";"),
                                                QStringLiteral("-use"), QStringLiteral("MWG"), tag, path})
        .trimmed();
}

BatchOptions lossless()
{
    BatchOptions options;
    options.lossless = true;
    return options;
}

const char *const OldXmp = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:Rating="4">
<dc:description><rdf:Alt><rdf:li xml:lang="x-default">old xmp caption</rdf:li></rdf:Alt></dc:description>
<dc:subject><rdf:Bag><rdf:li>old</rdf:li></rdf:Bag></dc:subject>
</rdf:Description></rdf:RDF></x:xmpmeta>)";
} // namespace

TEST_F(EngineTest, LosslessRunKeepsImageDataAndCountsEveryLine)
{
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"), 96, 64);
    MakeImage(imagePath(QStringLiteral("b.tif")), QStringLiteral("tif"));
    MakeImage(imagePath(QStringLiteral("c.png")), QStringLiteral("png"));
    MakeImage(imagePath(QStringLiteral("d.bmp")), QStringLiteral("bmp"));
    WriteFileBytes(imagePath(QStringLiteral("notes.jpg")), "not an image");
    useScheme({{1, QStringLiteral("IPTC_Field2")}, {5, QStringLiteral("IPTC_Field3")}});
    loadData({"name\tcaption\tkeywords", "a.jpg\tCaf\xe9 \x80\tz;a;m", "b.tif\tTIFF caption\tk", "c.png\tPNG caption\tp",
              "d.bmp\tBMP caption\tb", "gone.jpg\tx\ty", "notes.jpg\tx\ty"});

    RecordingProgress progress;
    int yields = 0;
    const BatchResult result = BatchTag(state, app, lossless(), &progress, [&] {
        ++yields;
        return true;
    });
    EXPECT_EQ(result.lines, 6);
    EXPECT_EQ(result.saved, 4);
    EXPECT_EQ(yields, 4);
    EXPECT_EQ(progress.calls.last(), QStringLiteral("hide"));
    ASSERT_EQ(result.skipped.size(), 2);
    EXPECT_EQ(result.skipped[0].line, 5);
    EXPECT_EQ(result.skipped[1].line, 6);
    EXPECT_TRUE(result.failed.isEmpty());
    ASSERT_EQ(result.savedWithoutTags.size(), 1);
    EXPECT_EQ(result.savedWithoutTags[0].fileName, QStringLiteral("d.bmp"));

    for (const QString &name : {QStringLiteral("a.jpg"), QStringLiteral("b.tif"), QStringLiteral("c.png")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(PixelsOf(savePath(name)), PixelsOf(imagePath(name)));
        EXPECT_LT(qAbs(QFileInfo(savePath(name)).size() - QFileInfo(imagePath(name)).size()), 64 * 1024);
    }
    const IptcDatasets jpeg = ReadIptcWithExifTool(savePath(QStringLiteral("a.jpg")));
    EXPECT_EQ(jpeg.value(120), QList<QByteArray>{"Caf\xe9 \x80"});
    EXPECT_EQ(jpeg.value(25), (QList<QByteArray>{"z", "a", "m"}));
    EXPECT_EQ(ReadIptcWithExifTool(savePath(QStringLiteral("b.tif"))).value(120), QList<QByteArray>{"TIFF caption"});
    EXPECT_EQ(exiftoolTag(savePath(QStringLiteral("c.png")), QStringLiteral("-XMP-dc:Description")), "PNG caption");
    EXPECT_EQ(ReadFileBytes(savePath(QStringLiteral("d.bmp"))), ReadFileBytes(imagePath(QStringLiteral("d.bmp"))));
    // Nothing but the outputs: no temporary file is left behind.
    EXPECT_EQ(QDir(savePath()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.tif"), QStringLiteral("c.png"),
                           QStringLiteral("d.bmp")}));

    BatchOptions append = lossless();
    append.saveOption = SaveOption::AppendFileName;
    append.appendText = QStringLiteral("IPTC");
    EXPECT_EQ(run(append).saved, 4);
    EXPECT_TRUE(QFile::exists(savePath(QStringLiteral("aIPTC.jpg"))));
}

TEST_F(EngineTest, LosslessRunRefusesWhatTheOtherPathRefuses)
{
    MakeImage(imagePath(QStringLiteral("a.jpg")), QStringLiteral("jpg"));
    useScheme({{1, QStringLiteral("IPTC_Field2")}});
    loadData({"name\tcaption", "a.jpg\t" + QByteArray(MaxIptcValueBytes + 1, 'x'), "../escape.jpg\tx"});
    WriteFileBytes(savePath(QStringLiteral("a.jpg")), "earlier output");

    const BatchResult result = run(lossless());
    ASSERT_EQ(result.failed.size(), 1);
    EXPECT_EQ(result.failed[0].line, 1);
    EXPECT_EQ(ReadFileBytes(savePath(QStringLiteral("a.jpg"))), "earlier output");
    ASSERT_EQ(result.skipped.size(), 1);
    EXPECT_EQ(result.skipped[0].line, 2);

    app.SavePath = app.ImagePath;
    EXPECT_EQ(run(lossless()).refusal, SamePathMessage);
}

TEST_F(EngineTest, BothPathsBringTheSourcesXmpInStep)
{
    for (const bool keepImageData : {false, true}) {
        for (const QString &format : {QStringLiteral("jpg"), QStringLiteral("tif")}) {
            SCOPED_TRACE((format + (keepImageData ? QStringLiteral(" lossless") : QString())).toStdString());
            const QString name = QStringLiteral("x.") + format;
            MakeImage(imagePath(name), format, 64, 48);
            WriteFileBytes(temp.filePath(QStringLiteral("old.xmp")), OldXmp);
            RunTool(QStringLiteral("exiftool"),
                    {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                     QStringLiteral("-XMP<=") + temp.filePath(QStringLiteral("old.xmp")),
                     QStringLiteral("-IPTC:Caption-Abstract=old xmp caption"), imagePath(name)});
            useScheme({{1, QStringLiteral("IPTC_Field2")}, {5, QStringLiteral("IPTC_Field3")},
                       {13, QStringLiteral("IPTC_Field4")}, {20, QStringLiteral("IPTC_Field5")}});
            loadData({"name\tcaption\tkeywords\tby\tcopyright", name.toLatin1() + "\tNEW caption \xe9\tz;a\tZo\xeb\t\xa9 Agency"});
            BatchOptions options;
            options.lossless = keepImageData;
            ASSERT_EQ(run(options).saved, 1);

            const QString out = savePath(name);
            EXPECT_EQ(exiftoolTag(out, QStringLiteral("-MWG:Description")), "NEW caption é");
            EXPECT_EQ(exiftoolTag(out, QStringLiteral("-MWG:Keywords")), "z;a");
            EXPECT_EQ(exiftoolTag(out, QStringLiteral("-MWG:Creator")), "Zoë");
            EXPECT_EQ(exiftoolTag(out, QStringLiteral("-MWG:Copyright")), "© Agency");
            EXPECT_EQ(exiftoolTag(out, QStringLiteral("-XMP-xmp:Rating")), "4");
            EXPECT_EQ(RunTool(QStringLiteral("exiftool"), {QStringLiteral("-a"), QStringLiteral("-warning"), out}).trimmed(),
                      "");
        }
    }
}
