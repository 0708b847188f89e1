// Whatever a scheme's slots and the data file hold: every slot evaluates for
// every line and beyond, a tag value is never empty text (no value is
// nullopt), and aggregations read back as they are built.
#include "fuzzcheck.h"
#include "model/datafile.h"
#include "model/parsingscheme.h"
#include "model/slotexpression.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
// Longer inputs find nothing short ones do not, and slow every run down.
constexpr size_t MaxInput = 16 * 1024;
// Lines past these behave as those before them.
constexpr int MaxLinesEvaluated = 32;
} // namespace

// The input is the 24 slot expressions, then the data file's lines, all
// separated by \x01; the lines are separated by \n.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > MaxInput)
        return 0;
    const QStringList parts = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size)).split(QChar(1));
    ParsingScheme scheme;
    for (int slot = 1; slot <= SlotCount && slot <= parts.size(); ++slot)
        scheme.slot(slot) = parts[slot - 1];
    IptcDataFile data;
    data.DataLines = parts.size() > SlotCount ? parts.mid(SlotCount).join(QChar(1)).split(QLatin1Char('\n'))
                                              : QStringList{QString()};
    data.LastDataLine = int(data.DataLines.size()) - 1;
    data.FieldGrid.build(data.DataLines);
    data.FieldCount = data.FieldGrid.columnCount();

    for (int L = -1; L <= std::min(data.LastDataLine, MaxLinesEvaluated) + 1; ++L) {
        for (int slot = 1; slot < FileNameSlot; ++slot) {
            const auto value = EvaluateTagSlot(scheme, slot, L, data);
            Require(!value || !value->isEmpty(), "a tag slot gave empty text instead of no value");
        }
        const QString name = EvaluateFileNameSlot(scheme, L, data);
        if (const auto field = FieldReferenceNumber(scheme.slot(FileNameSlot)))
            Require(name == data.FieldGrid.cell(L, *field), "a field reference gave other text than its cell");
    }
    for (const QString &expression : scheme.Slots) {
        const auto groups = AggregationGroups(expression);
        if (!groups)
            continue;
        QStringList filled = *groups;
        filled.removeAll(QString());
        Require(AggregationGroups(BuildAggregation(*groups)).value_or(QStringList{}) == filled,
                "an aggregation did not read back as built");
        if (filled.size() == groups->size())
            Require(ReadAggregationPieces(expression) == *groups, "the editor read other pieces than the engine");
    }
    return 0;
}
