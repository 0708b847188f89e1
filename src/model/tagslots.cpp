#include "model/tagslots.h"

QString SlotKey(int slot)
{
    const std::string_view key = slotInfo(slot).key;
    return QString::fromLatin1(key.data(), qsizetype(key.size()));
}

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys)
{
    for (int k = 0; k < TagSlotCount; ++k)
        IptcTagKeys[k] = SlotKey(k + 1);
    IptcTagKeys[TagSlotCount].clear();
}
