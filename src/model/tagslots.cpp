#include "model/tagslots.h"

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys)
{
    for (int k = 0; k < TagSlotCount; ++k) {
        const std::string_view key = TagSlots[k].key;
        IptcTagKeys[k] = QString::fromLatin1(key.data(), qsizetype(key.size()));
    }
    IptcTagKeys[TagSlotCount].clear();
}
