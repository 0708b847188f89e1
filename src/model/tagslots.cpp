#include "model/tagslots.h"

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys)
{
    for (int k = 0; k < TagSlotCount; ++k)
        IptcTagKeys[k] = QString::fromLatin1(slotInfo(k + 1).key.data(), qsizetype(slotInfo(k + 1).key.size()));
    IptcTagKeys[TagSlotCount].clear();
}
