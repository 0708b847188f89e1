#include "model/exportscheme.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <malloc.h>

namespace {
// What the program holds in memory now.
qint64 allocated()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

const QStringList TrickyValues{"  leading and trailing  ", "a;b,c=d\"e\\f@g%h#i[j]k", "@at start", "   ",
                                "Ελληνικά 日本語 café", QString(), "IPTC_Field3", "[F2][, ][F5]", "line\nbreak\ttab",
                                "\"quoted\"", "a,b", "%U0041", "@Rect(1 2 3 4)", "[F1][;][F2]",
                                QString(QChar(0)) + "12\x01" "1 \x7f", "C:\\new\\"};
} // namespace

TEST(SchemeStore, TrickyValuesRoundTripThroughTheIniFileExactly)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Brindleway.ini"));
    SchemeTable saved;
    for (int s = 0; s < 2; ++s) {
        ParsingScheme scheme = MakeScheme(s == 0 ? QStringLiteral(" Agency; \"wire\" = [1] ") : QStringLiteral("Δεύτερο"));
        for (int i = 1; i <= AllSlotCount; ++i)
            scheme.slot(i) = TrickyValues[(i + s) % TrickyValues.size()];
        saved.Schemes.append(scheme);
    }
    saved.SchemeCount = 2;
    IniSettingsStore store(file);
    ASSERT_TRUE(SaveParsings(saved, store));
    IniSettingsStore reopened(file);
    SchemeTable loaded;
    EXPECT_TRUE(LoadSchemes(loaded, reopened).clean());
    EXPECT_EQ(loaded, saved);
    // An empty value stays distinct from a missing key.
    EXPECT_EQ(reopened.read(QStringLiteral("Parsing1"), TagKey(5), QStringLiteral("missing")), QString());
    EXPECT_EQ(loaded.Schemes[0], ParsingScheme{});

    // Earlier versions wrote through QSettings and knew the 24 slots alone:
    // their files load unchanged, and they read ours, slot for slot.
    for (int n = 1; n <= 2; ++n)
        std::fill(saved.Schemes[n].Slots.begin() + SlotCount, saved.Schemes[n].Slots.end(), LeaveBlank);
    const QString earlier = dir.filePath(QStringLiteral("earlier.ini"));
    QSettings ours(file, QSettings::IniFormat);
    {
        QSettings theirs(earlier, QSettings::IniFormat);
        for (int n = 1; n <= 2; ++n) {
            const auto key = [n](const QString &k) { return ParsingSection(n) + QLatin1Char('/') + k; };
            theirs.setValue(key(QStringLiteral("Name")), saved.Schemes[n].Name);
            EXPECT_EQ(ours.value(key(QStringLiteral("Name"))).toString(), saved.Schemes[n].Name);
            for (int i = 1; i <= SlotCount; ++i) {
                theirs.setValue(key(TagKey(i)), saved.Schemes[n].slot(i));
                EXPECT_EQ(ours.value(key(TagKey(i))).toString(), saved.Schemes[n].slot(i)) << n << ' ' << i;
            }
        }
    }
    EXPECT_TRUE(LoadSchemes(loaded, IniSettingsStore(earlier)).clean());
    EXPECT_EQ(loaded, saved);
}

TEST(SchemeStore, HandEditedStoresLoadAsWrittenReportWhatIsNotUnderstoodAndSaveWithoutLosingIt)
{
    QByteArray random(600, '\0');
    QRandomGenerator generator(13);
    for (char &byte : random)
        byte = char(generator.bounded(256));
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    const struct {
        const char *name;
        QByteArray bytes;
        QStringList names;
        QList<std::pair<int, QString>> values; // slots of scheme 1
        QString reported;                     // a line of the report; empty when clean
    } cases[] = {
        {"stray quote", "[Parsing1]\nName=A\nTag20=\"(c) Agency\nTag24=IPTC_Field1\n[Parsing2]\nName=B\n\n[Parsing3]\nName=C",
         {"A", "B", "C"}, {{20, "\"(c) Agency"}, {24, "IPTC_Field1"}, {1, LeaveBlank}}, {}},
        {"hand-edited values",
         "[Parsing1]\nName=  Spaced  \nTag1=[F1][;][F2]\nTag2=a,b\nTag3=\"quoted\"\nTag4=@Rect(1 2 3 4)\nTag5=\"a;b\"\n"
         "Tag6=@@x\nTag7=line\\nbreak\nTag8=\nTag9=C:\\photos\n",
         {"  Spaced  "},
         {{1, "[F1][;][F2]"}, {2, "a,b"}, {3, "\"quoted\""}, {4, "@Rect(1 2 3 4)"}, {5, "a;b"}, {6, "@x"},
          {7, "line\nbreak"}, {8, ""}, {9, "C:\\photos"}},
         {}},
        {"XMP slots by their keys", "[Parsing1]\nName=A\nLocationShownCity=IPTC_Field3\nTag25=x\n", {"A"},
         {{XmpSlotOfKey("LocationShownCity"), "IPTC_Field3"}, {FirstXmpSlot, LeaveBlank}, {24, LeaveBlank}},
         "Tag25 in [Parsing1] is not a scheme key"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF[Parsing1]\r\nName=A\r\nTag1=x\r[Parsing2]\r\nName=B\r\n", {"A", "B"}, {{1, "x"}}, {}},
        {"UTF-16", "\xFF\xFE" + QByteArray(utf16(QStringLiteral("[Parsing1]\r\nName=Café ✓\r\nTag2=é\r\n"))),
         {"Café ✓"}, {{2, "é"}}, {}},
        {"random bytes", "[Parsing1]\nName=A\n" + random + "\n[Parsing2]\nName=B\n", {"A", "B"}, {}, "not UTF-8 text"},
        {"skipped sections", "[Parsing1]\nName=A\nTag1=\n[Parsing2]\nName=\n[Parsing3]\nName=C\n[Other]\nk=v\n", {"A"},
         {{1, ""}, {2, LeaveBlank}},
         "[Parsing3] is not loaded: the list of schemes ends before [Parsing2], which is missing or has no Name"},
        {"broken lines", "k=v\n[Parsing1]\nName=A\nName=B\nFoo=1\n[Parsing\nno equals\n", {"B"}, {},
         "line 6 in [Parsing1] is neither a [section] nor a key=value line"},
        // Once 150 bytes of memory a byte, over a gigabyte for this one.
        {"a store of blank lines", "[Parsing1]\nName=A\n" + QByteArray(8 << 20, '\n') + "Tag1=x\n", {"A"}, {{1, "x"}}, {}},
        {"countless short lines", "[Parsing1]\nName=A\n" + QByteArray("a=\n#\n[\n").repeated(100000), {"A"}, {},
         "and more than can be listed"},
    };
    SchemeTable table; // each load replaces all the one before left
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Brindleway.ini"));
        WriteFileBytes(file, c.bytes);
        const qint64 before = allocated();
        auto store = std::make_unique<IniSettingsStore>(file);
        const SchemeStoreReport report = LoadSchemes(table, *store);
        EXPECT_LE(allocated() - before, 4 * c.bytes.size() + (1 << 20)) << "a store holds a small multiple of its file";
        EXPECT_EQ(SchemeNames(table), c.names);
        for (const auto &[slot, value] : c.values)
            EXPECT_EQ(table.Schemes[1].slot(slot), value) << slot;
        EXPECT_EQ(report.clean(), c.reported.isEmpty());
        EXPECT_TRUE(c.reported.isEmpty() || !report.notUnderstood.filter(c.reported).isEmpty());

        // Each save keeps the file before it as .bak, its encoding, and all it did not understand.
        QByteArray previous = c.bytes;
        for (const QString &name : {table.Schemes[1].Name, QStringLiteral("Renamed")}) {
            table.Schemes[1].Name = name;
            ASSERT_TRUE(SaveParsings(table, *store));
            const QByteArray saved = ReadFileBytes(file);
            if (saved != previous) {
                EXPECT_EQ(ReadFileBytes(store->backupLocation()), previous);
            }
            EXPECT_EQ(saved.left(3), c.bytes.left(3));
            previous = saved;
            store = std::make_unique<IniSettingsStore>(file);
            SchemeTable reloaded;
            EXPECT_EQ(LoadSchemes(reloaded, *store).notUnderstood, report.notUnderstood);
            EXPECT_EQ(reloaded, table);
        }
    }
}

TEST(SchemeStore, ASaveAsksBeforeOverwritingWhatWasNeverLoaded)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Brindleway.ini"));
    const QByteArray before = "[Parsing1]\nName=A\n[Parsing2]\nName=\nTag1=kept\n[Parsing3]\nName=Hidden\n";
    WriteFileBytes(file, before);
    IniSettingsStore store(file);
    SchemeTable table;
    LoadSchemes(table, store);
    const SchemeTable three = MakeTable({MakeScheme("A"), MakeScheme("B"), MakeScheme("C")});
    QStringList asked;
    for (const bool allow : {false, true}) {
        EXPECT_EQ(SaveParsings(three, store, 0, [&](const QStringList &losses) { asked = losses; return allow; }), allow);
        EXPECT_EQ(asked, QStringList({"[Parsing2] Tag1 (line 5): never loaded", "[Parsing3] Name (line 7): never loaded"}));
        EXPECT_EQ(ReadFileBytes(file) == before, !allow);
    }
    // Once written, they are ours: the next save asks nothing.
    EXPECT_TRUE(SaveParsings(MakeTable({MakeScheme("A")}), store, 2));
    LoadSchemes(table, IniSettingsStore(file));
    EXPECT_EQ(table, MakeTable({MakeScheme("A")}));
    // Broken UTF-16 is read with its characters replaced, which a save asks about too.
    WriteFileBytes(file, "\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE)(u"[Parsing1]\nName=A"_qs) + QByteArray("\x00\xD8", 2));
    IniSettingsStore broken(file);
    EXPECT_FALSE(LoadSchemes(table, broken).notUnderstood.filter("broken characters").isEmpty());
    EXPECT_FALSE(SaveParsings(table, broken, 0, [&](const QStringList &losses) { asked = losses; return false; }));
    EXPECT_FALSE(asked.filter("broken UTF-16 characters").isEmpty());
}

// A folder or a dangling link where the file belongs cannot be read, a plain
// file where its folder belongs cannot be written: each save fails, and the
// values it held never reach the file later, not even once the way is clear.
TEST(SchemeStore, AStoreThatCannotBeReadOrWrittenLoadsNothingAndIsNeverOverwritten)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("folder.ini");
    QDir().mkpath(folder);
    const QString dangling = dir.filePath("link.ini");
    QFile::link(dir.filePath("gone"), dangling);
    const QString blocked = dir.filePath("config/Brindleway.ini");
    WriteFileBytes(dir.filePath("config"), "blocker");
    for (const QString &file : {blocked, folder, dangling}) {
        IniSettingsStore store(file);
        SchemeTable table;
        EXPECT_EQ(LoadSchemes(table, store).readError.isEmpty(), file == blocked);
        EXPECT_EQ(table.SchemeCount, 0);
        EXPECT_FALSE(SaveParsings(MakeTable({MakeScheme("A")}), store));
        EXPECT_FALSE(store.lastError().isEmpty());
        QFile::remove(dir.filePath("config"));
        QDir().mkpath(dir.filePath("config"));
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QFileInfo(dangling).isSymLink() && !QFileInfo::exists(dangling));
    EXPECT_FALSE(QFile::exists(blocked));
}

// An export stores the scheme that reads its data file back, under a name no other scheme has.
TEST(SchemeStore, AnExportedSchemeReadsEachColumnAndIsStoredUnderAFreeName)
{
    EXPECT_EQ(ExportedScheme("X", {FileNameSlot, 1, 5, 22, AllSlotCount}),
              MakeScheme("X", {{FileNameSlot, "IPTC_Field1"}, {1, "IPTC_Field2"}, {5, "IPTC_Field3"}, {22, "IPTC_Field4"},
                               {AllSlotCount, "IPTC_Field5"}}));
    const struct {
        QStringList names;
        QString free;
    } cases[] = {{{}, "Exported"}, {{"exported", "Exported 1"}, "Exported"},
                 {{"Exported", "Exported 2", "Exported 4"}, "Exported 3"}};
    for (const auto &c : cases) {
        QList<ParsingScheme> schemes;
        for (const QString &name : c.names)
            schemes.append(MakeScheme(name));
        EXPECT_EQ(FreeExportedName(MakeTable(schemes)), c.free);
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Brindleway.ini"));
    IniSettingsStore store(file);
    SchemeTable table = MakeTable({MakeScheme("A")});
    const ParsingScheme first = ExportedScheme(FreeExportedName(table), {FileNameSlot, 2});
    const ParsingScheme again = ExportedScheme(first.Name, {FileNameSlot, 3});
    EXPECT_FALSE(StoreScheme(table, store, first, false));
    EXPECT_EQ(StoreScheme(table, store, again, false).kind(), Problem::Kind::FileExists);
    EXPECT_FALSE(StoreScheme(table, store, again, true));
    SchemeTable loaded;
    LoadSchemes(loaded, IniSettingsStore(file));
    EXPECT_EQ(loaded, MakeTable({MakeScheme("A"), again}));
    EXPECT_EQ(table, loaded);

    // A store that cannot be written leaves the table as it was.
    WriteFileBytes(dir.filePath("config"), "blocker");
    IniSettingsStore blocked(dir.filePath("config/Brindleway.ini"));
    const Problem refused = StoreScheme(table, blocked, ExportedScheme("B", {FileNameSlot}), false);
    EXPECT_EQ(refused.kind(), Problem::Kind::Stated);
    EXPECT_EQ(table, loaded);
}
