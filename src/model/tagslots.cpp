#include "model/tagslots.h"

#include "model/xmpfields.h"

QString SlotKey(int slot)
{
    const std::string_view key = isXmpSlot(slot) ? xmpField(slot).key : slotInfo(slot).key;
    return QString::fromLatin1(key.data(), qsizetype(key.size()));
}

QString SlotLabel(int slot)
{
    const std::string_view label = isXmpSlot(slot) ? xmpField(slot).label : slotInfo(slot).label;
    return QString::fromUtf8(label.data(), qsizetype(label.size()));
}

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys)
{
    for (int k = 0; k < TagSlotCount; ++k)
        IptcTagKeys[k] = SlotKey(k + 1);
    IptcTagKeys[TagSlotCount].clear();
}
