#include "model/lastchoices.h"

#include "model/settingsstore.h"

namespace {
const QString Section = QStringLiteral("LastChoices");

// Words rather than numbers, so that the file reads without this program.
const QString AppendMode = QStringLiteral("append file name");
const QString ReplaceMode = QStringLiteral("replace");
const QString ReencodeMode = QStringLiteral("re-encode");
const QString TagsOnlyMode = QStringLiteral("tags only");
const QString Yes = QStringLiteral("yes");
const QString No = QStringLiteral("no");

// Reads `key` into `value` when the store holds it.
void readInto(const SettingsStore &store, const QString &key, QString &value)
{
    value = store.read(Section, key, value);
}

// A flag stored as one of two words; any other text leaves it as it was.
void readFlag(const SettingsStore &store, const QString &key, const QString &on, const QString &off, bool &value)
{
    const QString text = store.read(Section, key, QString());
    if (text == on || text == off)
        value = text == on;
}
} // namespace

QString LastChoicesLocation()
{
    return UserStoreFolder() + QStringLiteral("/LastChoices.ini");
}

void LoadLastChoices(const SettingsStore &store, LastChoices &choices)
{
    readInto(store, QStringLiteral("ImageFolder"), choices.imageFolder);
    readInto(store, QStringLiteral("DataFile"), choices.dataFile);
    readInto(store, QStringLiteral("Encoding"), choices.encoding);
    readInto(store, QStringLiteral("Scheme"), choices.scheme);
    readInto(store, QStringLiteral("SaveFolder"), choices.saveFolder);
    readFlag(store, QStringLiteral("SaveMode"), AppendMode, ReplaceMode, choices.appendFileName);
    readInto(store, QStringLiteral("AppendText"), choices.appendText);
    readFlag(store, QStringLiteral("WriteMode"), ReencodeMode, TagsOnlyMode, choices.reencode);
    readFlag(store, QStringLiteral("SkipExisting"), Yes, No, choices.skipExisting);
    const QString geometry = store.read(Section, QStringLiteral("WindowGeometry"), QString());
    if (!geometry.isEmpty())
        choices.windowGeometry = QByteArray::fromBase64(geometry.toLatin1());
    readFlag(store, QStringLiteral("CheckShowsOnlyProblems"), Yes, No, choices.checkOnlyProblems);
}

bool SaveLastChoices(const LastChoices &choices, SettingsStore &store)
{
    const std::pair<const char *, QString> values[] = {
        {"ImageFolder", choices.imageFolder},
        {"DataFile", choices.dataFile},
        {"Encoding", choices.encoding},
        {"Scheme", choices.scheme},
        {"SaveFolder", choices.saveFolder},
        {"SaveMode", choices.appendFileName ? AppendMode : ReplaceMode},
        {"AppendText", choices.appendText},
        {"WriteMode", choices.reencode ? ReencodeMode : TagsOnlyMode},
        {"SkipExisting", choices.skipExisting ? Yes : No},
        {"WindowGeometry", QString::fromLatin1(choices.windowGeometry.toBase64())},
        {"CheckShowsOnlyProblems", choices.checkOnlyProblems ? Yes : No},
    };
    for (const auto &[key, value] : values)
        store.write(Section, QLatin1String(key), value);
    // The file is this program's alone: a line edited by hand is simply replaced.
    return store.sync([](const QStringList &) { return true; });
}
