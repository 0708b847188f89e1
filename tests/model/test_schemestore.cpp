#include "model/schemestore.h"
#include "model/settingsstore.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {
ParsingScheme schemeNamed(const QString &name)
{
    ParsingScheme scheme;
    scheme.Name = name;
    for (int i = 1; i <= SlotCount; ++i)
        scheme.slot(i) = LeaveBlank;
    return scheme;
}

SchemeTable tableOf(const QList<ParsingScheme> &schemes)
{
    SchemeTable table;
    table.Schemes.append(schemes);
    table.SchemeCount = int(schemes.size());
    return table;
}

const QStringList TrickyValues{
    QStringLiteral("  leading and trailing  "),
    QStringLiteral("a;b,c=d\"e\\f@g%h#i[j]k"),
    QStringLiteral("@at start"),
    QStringLiteral("   "),
    QStringLiteral("Ελληνικά 日本語 café"),
    QString(),
    QStringLiteral("IPTC_Field3"),
    QStringLiteral("[F2][, ][F5]"),
    QStringLiteral("line\nbreak\ttab"),
    QStringLiteral("\"quoted\""),
    QStringLiteral("a,b"),
    QStringLiteral("%U0041"),
};
} // namespace

TEST(SchemeStore, TrickyValuesRoundTripThroughTheIniFileExactly)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Brindleway.ini"));
    SchemeTable saved;
    for (int s = 0; s < 2; ++s) {
        ParsingScheme scheme = schemeNamed(s == 0 ? QStringLiteral(" Agency; \"wire\" = [1] ") : QStringLiteral("Δεύτερο"));
        for (int i = 1; i <= SlotCount; ++i)
            scheme.slot(i) = TrickyValues[(i + s) % TrickyValues.size()];
        saved.Schemes.append(scheme);
    }
    saved.SchemeCount = 2;
    {
        IniSettingsStore store(file);
        ASSERT_TRUE(SaveParsings(saved, store));
    }
    IniSettingsStore reopened(file);
    SchemeTable loaded;
    LoadSchemes(loaded, reopened);
    EXPECT_EQ(loaded, saved);
    // An empty value stays distinct from a missing key.
    EXPECT_EQ(reopened.read(QStringLiteral("Parsing1"), TagKey(5), QStringLiteral("missing")), QString());
    EXPECT_EQ(loaded.Schemes[0], ParsingScheme{});
}

TEST(SchemeStore, LoadingStopsAtTheFirstMissingOrEmptyNameAndFillsMissingSlots)
{
    MemorySettingsStore store;
    store.write(QStringLiteral("Parsing1"), QStringLiteral("Name"), QStringLiteral("First"));
    store.write(QStringLiteral("Parsing1"), TagKey(1), QStringLiteral("IPTC_Field2"));
    store.write(QStringLiteral("Parsing1"), TagKey(24), QString());
    store.write(QStringLiteral("Parsing2"), QStringLiteral("Name"), QStringLiteral("Second"));
    store.write(QStringLiteral("Parsing4"), QStringLiteral("Name"), QStringLiteral("After a gap"));

    SchemeTable table;
    table.Schemes.append(schemeNamed(QStringLiteral("stale")));
    table.SchemeCount = 1;
    LoadSchemes(table, store);
    ASSERT_EQ(table.SchemeCount, 2);
    ASSERT_EQ(table.Schemes.size(), 3);
    EXPECT_EQ(table.Schemes[1].slot(1), QStringLiteral("IPTC_Field2"));
    EXPECT_EQ(table.Schemes[1].slot(2), LeaveBlank);
    EXPECT_EQ(table.Schemes[1].slot(24), QString());
    EXPECT_EQ(table.Schemes[2].Name, QStringLiteral("Second"));

    store.write(QStringLiteral("Parsing2"), QStringLiteral("Name"), QString());
    LoadSchemes(table, store);
    EXPECT_EQ(table.SchemeCount, 1);

    MemorySettingsStore empty;
    LoadSchemes(table, empty);
    EXPECT_EQ(table.SchemeCount, 0);
    EXPECT_EQ(table.Schemes.size(), 1);
}

TEST(SchemeStore, SavingWritesEverySchemeInFullAndLeavesHigherSectionsUnlessRemoved)
{
    MemorySettingsStore store;
    for (int n = 1; n <= 5; ++n)
        store.write(ParsingSection(n), QStringLiteral("Name"), QStringLiteral("old %1").arg(n));

    const SchemeTable three = tableOf({schemeNamed("A"), schemeNamed("B"), schemeNamed("C")});
    ASSERT_TRUE(SaveParsings(three, store));
    EXPECT_EQ(store.valueCount(), 3 * 25 + 2);
    EXPECT_EQ(store.read(ParsingSection(4), QStringLiteral("Name"), {}), QStringLiteral("old 4"));

    // Two schemes deleted since the load: their sections must not come back.
    ASSERT_TRUE(SaveParsings(three, store, 2));
    SchemeTable loaded;
    LoadSchemes(loaded, store);
    EXPECT_EQ(loaded, three);
    EXPECT_FALSE(store.contains(ParsingSection(5), QStringLiteral("Name")));

    MemorySettingsStore untouched;
    EXPECT_TRUE(SaveParsings(SchemeTable{}, untouched));
    EXPECT_EQ(untouched.valueCount(), 0);
}


TEST(SchemeStore, FailedWritesAreReportedNotSwallowed)
{
    MemorySettingsStore memory;
    memory.failWrites = true;
    EXPECT_FALSE(SaveParsings(tableOf({schemeNamed("A")}), memory));

    // A store file whose folder is a plain file can never be created.
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    IniSettingsStore blocked(blocker + QStringLiteral("/Brindleway.ini"));
    EXPECT_FALSE(SaveParsings(tableOf({schemeNamed("A")}), blocked));

    // A read-only file is refused as well, unless we run with root's override.
    const QString readOnly = dir.filePath(QStringLiteral("ro.ini"));
    {
        IniSettingsStore store(readOnly);
        ASSERT_TRUE(SaveParsings(tableOf({schemeNamed("A")}), store));
    }
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadUser);
    IniSettingsStore roStore(readOnly);
    if (geteuid() != 0) {
        EXPECT_FALSE(SaveParsings(tableOf({schemeNamed("B")}), roStore));
    }
}

TEST(SchemeStore, ValuesThatFailedToSaveNeverReachTheFileLater)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("config"));
    const QString file = folder + QStringLiteral("/Brindleway.ini");
    {
        IniSettingsStore store(file);
        // The folder does not exist yet and a plain file stands in its way.
        WriteFileBytes(folder, "blocker");
        EXPECT_FALSE(SaveParsings(tableOf({schemeNamed("Lost")}), store));
        // The user fixes the folder and cancels; the store goes out of use.
        QFile::remove(folder);
        QDir().mkpath(folder);
    }
    EXPECT_FALSE(QFile::exists(file));
}
