#include "enginefixture.h"

#include "model/tagslots.h"

// Tags written in both save modes.

namespace {
// One distinct value per tag slot, some with Windows-1252 letters outside
// ASCII, one as long as IIM allows and longer than a short length field.
QByteArray valueFor(int slot)
{
    switch (slot) {
    case 1:
        return "Caf\xE9 \x96 \x9C" "uvre \x80 \x84quoted\x93";
    case 3:
        return QByteArray(slotInfo(3).maxBytes, 'h');
    case 5:
        return "a;b;c";
    case 7:
        return "20240131";
    case 18:
        return "sup2;sup1";
    case 19:
        return "5";
    case 22:
        return "101530+0100";
    default:
        return QByteArray("v" + QByteArray::number(slot) + " \xC5ngstr\xF6m").left(slotInfo(slot).maxBytes);
    }
}
} // namespace

TEST_F(EngineTest, EveryFieldLandsInItsDatasetWithItsExactBytesInJpegAndTiff)
{
    MakeImage(imagePath(QStringLiteral("photo.jpg")), QStringLiteral("jpg"));
    MakeImage(imagePath(QStringLiteral("scan.tif")), QStringLiteral("tif"));
    QHash<int, QString> slotTexts;
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
    for (const bool lossless : {false, true}) {
    const BatchResult result = run(Lossless(lossless));
    ASSERT_TRUE(result.allTaggedAndSaved()) << (result.failed.isEmpty() ? "" : result.failed[0].reason.toStdString())
                                            << (result.warnings.isEmpty() ? "" : result.warnings[0].reason.toStdString());

    for (const QString &name : {QStringLiteral("photo.jpg"), QStringLiteral("scan.tif")}) {
        SCOPED_TRACE(name.toStdString() + (lossless ? " tags only" : " re-encoded"));
        const IptcDatasets datasets = ReadTags(savePath(name)).iptc;
        for (int slot = 1; slot <= TagSlotCount; ++slot) {
            // Lists come out as one dataset per item, in the value's order.
            const QList<QByteArray> expected = slot == 5 ? QList<QByteArray>{"a", "b", "c"}
                : slot == 18                             ? QList<QByteArray>{"sup2", "sup1"}
                                                         : QList<QByteArray>{valueFor(slot)};
            EXPECT_EQ(datasets.value(slotInfo(slot).dataset), expected) << "slot " << slot;
        }
        EXPECT_EQ(datasets.size(), TagSlotCount + 1) << "the 23 datasets and the record version, no 2:255";
    }
    // Exiv2 rejects a cut IPTC block, so its reading every dataset proves the TIFF block whole.
    const QByteArray exiv2 = RunTool(QStringLiteral("exiv2"), {"-pi", savePath(QStringLiteral("scan.tif"))});
    EXPECT_EQ(exiv2.count("Iptc.Application2."), TagSlotCount + 3 + 1) << exiv2.toStdString();
    }
}
