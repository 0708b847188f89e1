// Whatever bytes the store file holds: load, save with one scheme more, load
// again gives the same schemes and values (and perhaps schemes after a gap
// the new one closed), and every section the save did not write reads as before.
#include "fuzzcheck.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
// Longer inputs find nothing short ones do not, and slow every run down.
constexpr size_t MaxInput = 16 * 1024;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > MaxInput)
        return 0;
    static const QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Brindleway.ini"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile out(file);
        Require(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size(),
                "cannot write the input");
    }

    const IniSettingsStore before(file);
    IniSettingsStore store(file);
    SchemeTable table;
    LoadSchemes(table, store);
    // The input's own text as one more scheme tries the writer's quoting on it.
    ParsingScheme extra;
    extra.Name = QStringLiteral("n") + QString::fromUtf8(bytes.left(40));
    for (int i = 1; i <= SlotCount; ++i)
        extra.slot(i) = QString::fromUtf8(bytes.mid(i * 7, 12));
    table.Schemes.append(extra);
    ++table.SchemeCount;
    Require(SaveParsings(table, store, 0, [](const QStringList &) { return true; }), "the save failed");

    const IniSettingsStore after(file);
    SchemeTable reloaded;
    LoadSchemes(reloaded, after);
    // Sections beyond a gap that the new scheme closed load as well now.
    Require(reloaded.SchemeCount >= table.SchemeCount, "a scheme was lost through a save");
    reloaded.Schemes.resize(table.SchemeCount + 1);
    reloaded.SchemeCount = table.SchemeCount;
    Require(reloaded == table, "a scheme changed through a save");
    for (const QString &section : before.sections()) {
        bool written = false;
        for (int n = 1; n <= table.SchemeCount; ++n)
            written = written || section == ParsingSection(n);
        for (const QString &key : before.keys(section)) {
            if (!written)
                Require(before.read(section, key, {}) == after.read(section, key, {}), "an unwritten value changed");
        }
    }
    return 0;
}
