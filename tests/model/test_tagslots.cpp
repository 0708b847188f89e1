#include "model/tagslots.h"

#include <gtest/gtest.h>

#include <set>

TEST(TagSlots, KeysAndDatasetsAreDistinctAndOnlyTheFileNameSlotHasNone)
{
    IptcTagKeyTable keys;
    InitIptcTagKeys(keys);
    std::set<QString> seenKeys;
    std::set<int> seenDatasets;
    for (int k = 0; k < TagSlotCount; ++k) {
        EXPECT_FALSE(keys[k].isEmpty());
        EXPECT_TRUE(seenKeys.insert(keys[k]).second) << keys[k].toStdString();
        EXPECT_TRUE(seenDatasets.insert(TagSlots[k].dataset).second);
        EXPECT_GT(TagSlots[k].dataset, 0);
    }
    EXPECT_TRUE(keys[23].isEmpty());
    EXPECT_EQ(slotInfo(FileNameSlot).label, "FILE NAME");
}
