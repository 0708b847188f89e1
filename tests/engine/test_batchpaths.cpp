#include "engine/batchpaths.h"
#include "engine/batchtag.h"

#include <gtest/gtest.h>

TEST(BatchPaths, SaveFlagsFollowTheEndingUnlessItNamesAnotherType)
{
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.tif"), ImageType::Tiff), 2048);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.tIf"), ImageType::Tiff), 2048);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.JPG"), ImageType::Jpeg), 128);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.png"), ImageType::Png), 0);
    // Four-letter extensions keep the library's defaults.
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.jpeg"), ImageType::Jpeg), 0);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.tiff"), ImageType::Tiff), 0);
    // 2048 is the JPEG writer's lowest quality; 128 means nothing to PNG.
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.tif"), ImageType::Jpeg), 128);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.tif"), ImageType::Png), 0);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.jpg"), ImageType::Tiff), 2048);
    EXPECT_EQ(SaveFlagsFor(QStringLiteral("/s/a.bmp"), ImageType::Jpeg), 0);
}

TEST(BatchPaths, NamesFromWindowsDataFilesNameSubfolders)
{
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("/img"), QStringLiteral("sub\\a.jpg")), QStringLiteral("/img/sub/a.jpg"));
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("/img/"), QStringLiteral("a.jpg")), QStringLiteral("/img/a.jpg"));
    EXPECT_FALSE(NameRefusal(QStringLiteral("sub\\..\\a.jpg")));
    EXPECT_TRUE(NameRefusal(QStringLiteral("sub\\..\\..\\a.jpg")));
    EXPECT_TRUE(NameRefusal(QStringLiteral("\\a.jpg")));
    EXPECT_TRUE(NameRefusal(QString()));
}

TEST(BatchPaths, AppendedTextGoesBeforeTheLastExtensionOfTheFileName)
{
    BatchOptions options;
    options.saveOption = SaveOption::AppendFileName;
    options.appendText = QStringLiteral("IPTC");
    EXPECT_EQ(OutputName(QStringLiteral("img001.jpg"), options), QStringLiteral("img001IPTC.jpg"));
    EXPECT_EQ(OutputName(QStringLiteral("a.tar.gz"), options), QStringLiteral("a.tarIPTC.gz"));
    EXPECT_EQ(OutputName(QStringLiteral("noext"), options), QStringLiteral("noextIPTC"));
    EXPECT_EQ(OutputName(QStringLiteral(".hidden"), options), QStringLiteral(".hiddenIPTC"));
    EXPECT_EQ(OutputName(QStringLiteral("v1.2\\scan"), options), QStringLiteral("v1.2\\scanIPTC"));
    options.saveOption = SaveOption::Replace;
    EXPECT_EQ(OutputName(QStringLiteral("img001.jpg"), options), QStringLiteral("img001.jpg"));
}
