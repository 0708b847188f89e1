#include "model/schemestore.h"

#include "model/xmpfields.h"

#include <QDir>

#include <algorithm>

namespace {
const QString NameKey = QStringLiteral("Name");
// A report names this many things at most: a store of countless stray lines costs no more to report.
constexpr qsizetype MaxReported = 200;

// n for a section named exactly as ParsingSection(n) names it, else 0.
int schemeNumber(const QString &section)
{
    bool ok = false;
    const int n = section.startsWith(QLatin1String("Parsing")) ? section.sliced(7).toInt(&ok) : 0;
    return ok && n > 0 && ParsingSection(n) == section ? n : 0;
}

bool isSchemeKey(const QString &key)
{
    bool ok = false;
    const int slot = key.startsWith(QLatin1String("Tag")) ? key.sliced(3).toInt(&ok) : 0;
    return key == NameKey || (ok && slot >= 1 && slot <= SlotCount && TagKey(slot) == key) || XmpSlotOfKey(key) > 0;
}

// The XMP slots are stored under their own keys, after the 24 tags, and only
// once they are set: a store of schemes that use none of them keeps the
// lines the previous release wrote.
QString storedKey(int slot)
{
    return isXmpSlot(slot) ? SlotKey(slot) : TagKey(slot);
}
} // namespace

QString ParsingSection(int n)
{
    return QStringLiteral("Parsing") + QString::number(n);
}

QString TagKey(int slot)
{
    return QStringLiteral("Tag") + QString::number(slot);
}

SchemeStoreReport LoadSchemes(SchemeTable &table, const SettingsStore &store)
{
    table.Schemes = {ParsingScheme{}};
    int n = 1;
    for (;; ++n) {
        const QString section = ParsingSection(n);
        const QString name = store.read(section, NameKey, QString());
        if (name.isEmpty())
            break;
        ParsingScheme scheme;
        scheme.Name = name;
        for (int i = 1; i <= AllSlotCount; ++i)
            scheme.slot(i) = store.read(section, storedKey(i), LeaveBlank);
        table.Schemes.append(scheme);
    }
    table.SchemeCount = n - 1;

    SchemeStoreReport report{store.readError(), store.problems()};
    bool more = false;
    const auto add = [&](const QString &item) {
        more = more || report.notUnderstood.size() >= MaxReported;
        if (!more)
            report.notUnderstood << item;
    };
    for (const QString &section : store.sections(table.SchemeCount + MaxReported)) {
        const int number = schemeNumber(section);
        if (number == 0) {
            add(QStringLiteral("[%1] is not a scheme section").arg(PrintableName(section)));
        } else if (number > table.SchemeCount) {
            add(QStringLiteral("[%1] is not loaded: the list of schemes ends before [%2], which is missing or has no Name")
                    .arg(section, ParsingSection(table.SchemeCount + 1)));
        } else {
            for (const QString &key : store.keys(section, AllSlotCount + 1 + MaxReported)) {
                if (!isSchemeKey(key))
                    add(QStringLiteral("%1 in [%2] is not a scheme key").arg(PrintableName(key), section));
            }
        }
        if (more)
            break;
    }
    if (more)
        report.notUnderstood << QStringLiteral("and more than can be listed");
    return report;
}

QString SchemeStoreReportText(const SchemeStoreReport &report, const QString &location, int listed)
{
    const QString store = QDir::toNativeSeparators(location);
    if (!report.readError.isEmpty())
        return QStringLiteral("The parsing scheme store %1 cannot be read: %2.\n"
                              "No scheme is loaded, and schemes are not saved there until it can be read.")
            .arg(store, report.readError);
    QStringList text{
        QStringLiteral("The parsing scheme store %1 holds what this program does not understand:").arg(store)};
    for (const QString &item : report.notUnderstood.mid(0, listed))
        text << item;
    if (report.notUnderstood.size() > listed)
        text << QStringLiteral("... and %1 more.").arg(report.notUnderstood.size() - listed);
    text << QStringLiteral("It stays in the file as it is; a save that would overwrite any of it asks first.");
    return text.join(QLatin1Char('\n'));
}

bool SaveParsings(const SchemeTable &table, SettingsStore &store, int removedCount, const LossConsent &consent)
{
    if (table.SchemeCount == 0 && removedCount == 0)
        return true;
    for (int i = 1; i <= table.SchemeCount; ++i) {
        const QString section = ParsingSection(i);
        const ParsingScheme &scheme = table.Schemes[i];
        store.write(section, NameKey, scheme.Name);
        for (int j = 1; j <= AllSlotCount; ++j) {
            if (j <= SlotCount || scheme.slot(j) != LeaveBlank || store.read(section, storedKey(j), LeaveBlank) != LeaveBlank)
                store.write(section, storedKey(j), scheme.slot(j));
        }
    }
    for (int i = 1; i <= removedCount; ++i)
        store.removeSection(ParsingSection(table.SchemeCount + i));
    return store.sync(consent);
}

int SchemeNamed(const SchemeTable &table, const QString &name)
{
    for (int n = 1; n <= table.SchemeCount; ++n) {
        if (table.Schemes.at(n).Name == name)
            return n;
    }
    return 0;
}

Problem StoreScheme(SchemeTable &table, SettingsStore &store, const ParsingScheme &scheme, bool replace,
                    const LossConsent &consent)
{
    const int named = SchemeNamed(table, scheme.Name);
    if (named > 0 && !replace)
        return {Problem::Kind::FileExists, SchemeNameTakenMessage.arg(scheme.Name)};
    const int at = named > 0 ? named : table.SchemeCount + 1;
    const SchemeTable before = table;
    if (table.Schemes.size() <= at)
        table.Schemes.resize(at + 1);
    table.SchemeCount = std::max(table.SchemeCount, at);
    table.Schemes[at] = scheme;
    if (SaveParsings(table, store, 0, consent))
        return {};
    table = before;
    const QString why = store.lastError();
    return QStringLiteral("the parsing scheme cannot be stored in %1: %2")
        .arg(QDir::toNativeSeparators(store.location()), why.isEmpty() ? QStringLiteral("not allowed") : why);
}
