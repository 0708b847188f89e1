#include "fakeuiservices.h"
#include "ui/formabout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMap>
#include <QPushButton>

namespace {

// Keys by path, each holding values by name with their type and bytes.
class FakeRegistry : public RegistryAccess {
public:
    struct Value {
        quint32 type;
        QByteArray data;
    };
    QMap<QString, QMap<QString, Value>> keys;
    QStringList opened;
    QList<quint32> accessMasks;
    int openCount = 0;
    int closeCount = 0;

    std::optional<Key> openKey(Key root, const QString &keyName, quint32 access) override
    {
        opened << keyName;
        accessMasks << access;
        if (root != HkeyLocalMachine || !keys.contains(keyName))
            return std::nullopt;
        ++openCount;
        handles.append(keyName);
        return Key(handles.size());
    }

    bool queryValue(Key key, const QString &valueName, quint32 &type, QByteArray &data, int capacity) override
    {
        const auto values = keys.value(handles.at(int(key) - 1));
        if (!values.contains(valueName))
            return false;
        type = values[valueName].type;
        data = values[valueName].data.left(capacity);
        return true;
    }

    void closeKey(Key) override { ++closeCount; }

private:
    QStringList handles;
};

const QString MsinfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString LocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

struct AboutFixture {
    FakeUiServices ui;
    FakeRegistry registry;
    QStringList fileTests;
    bool filePresent = false;
    FormAbout about{ui, registry, [this](const QString &path) {
                        fileTests << path;
                        return filePresent;
                    }};

    void pressSysInfo() { about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"))->click(); }
};

TEST(FormAbout, ShowsTitleVersionAndCaptions)
{
    AboutFixture f;
    EXPECT_EQ(f.about.windowTitle(), QStringLiteral("About Brindleway"));
    const auto text = [&](const char *name) { return f.about.findChild<QLabel *>(QLatin1String(name))->text(); };
    EXPECT_EQ(text("lblTitle"), QStringLiteral("Brindleway"));
    EXPECT_EQ(text("lblVersion"), QStringLiteral("Version 1.0.3"));
    EXPECT_EQ(text("lblDescription"), QStringLiteral("App Description"));
    EXPECT_EQ(text("lblDisclaimer"), QStringLiteral("Warning: ..."));
    EXPECT_EQ(f.about.findChild<QPushButton *>(QStringLiteral("cmdOK"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(f.about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"))->text(), QStringLiteral("&System Info..."));
    EXPECT_FALSE(f.about.findChild<QLabel *>(QStringLiteral("picIcon"))->pixmap().isNull());
}

TEST(FormAbout, SysInfoUnavailableWithoutRegistryValues)
{
    AboutFixture f;
    f.about.show();
    f.pressSysInfo();
    EXPECT_EQ(f.ui.messages, QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
    EXPECT_TRUE(f.ui.startedPrograms.isEmpty());
    EXPECT_TRUE(f.about.isVisible());
    EXPECT_EQ(f.registry.opened, QStringList({MsinfoKey, LocationKey}));
    EXPECT_EQ(f.registry.accessMasks, QList<quint32>({0x2003F, 0x2003F}));

    // The real platform has no registry at all: the same message.
    FakeUiServices ui;
    NoRegistry none;
    FormAbout plain(ui, none);
    plain.StartSysInfo();
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
}

TEST(FormAbout, PathValueStartsTheToolWithoutAFileTest)
{
    AboutFixture f;
    f.registry.keys[MsinfoKey][QStringLiteral("PATH")] = {1, QByteArray("C:\\Tools\\msinfo32.exe\0", 22)};
    f.registry.keys[LocationKey][QStringLiteral("MSINFO")] = {1, "D:\\Elsewhere"};
    f.pressSysInfo();
    EXPECT_EQ(f.ui.startedPrograms, QStringList{QStringLiteral("C:\\Tools\\msinfo32.exe")});
    EXPECT_TRUE(f.ui.messages.isEmpty());
    EXPECT_TRUE(f.fileTests.isEmpty());
    EXPECT_EQ(f.registry.opened, QStringList{MsinfoKey});
    EXPECT_EQ(f.registry.openCount, f.registry.closeCount);

    // A tool that will not start ends in the message too.
    f.ui.startSucceeds = false;
    f.pressSysInfo();
    EXPECT_EQ(f.ui.messages, QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
}

TEST(FormAbout, LocationValueStartsTheToolOnlyWhenItExists)
{
    AboutFixture f;
    f.registry.keys[MsinfoKey]; // key present, value missing
    f.registry.keys[LocationKey][QStringLiteral("MSINFO")] = {1, QByteArray("C:\\Shared\\MSINFO\0", 17)};
    f.pressSysInfo();
    EXPECT_EQ(f.fileTests, QStringList{QStringLiteral("C:\\Shared\\MSINFO\\MSINFO32.EXE")});
    EXPECT_TRUE(f.ui.startedPrograms.isEmpty());
    EXPECT_EQ(f.ui.messages, QStringList{QStringLiteral("System Information Is Unavailable At This Time")});

    f.filePresent = true;
    f.pressSysInfo();
    EXPECT_EQ(f.ui.startedPrograms, QStringList{QStringLiteral("C:\\Shared\\MSINFO\\MSINFO32.EXE")});
    EXPECT_EQ(f.ui.messages.size(), 1);
    EXPECT_EQ(f.registry.openCount, f.registry.closeCount);
}

TEST(FormAbout, GetKeyValueReadsStringValuesOnly)
{
    AboutFixture f;
    f.registry.keys[MsinfoKey][QStringLiteral("PATH")] = {1, QByteArray("abc\0", 4)};
    f.registry.keys[MsinfoKey][QStringLiteral("Bare")] = {1, "no terminator"};
    f.registry.keys[MsinfoKey][QStringLiteral("Number")] = {4, QByteArray("\x01\x00\x00\x00", 4)};
    f.registry.keys[MsinfoKey][QStringLiteral("Long")] = {1, QByteArray(2000, 'a')};
    QString value = QStringLiteral("stale");

    EXPECT_TRUE(f.about.GetKeyValue(HkeyLocalMachine, MsinfoKey, QStringLiteral("PATH"), value));
    EXPECT_EQ(value, QStringLiteral("abc"));
    EXPECT_TRUE(f.about.GetKeyValue(HkeyLocalMachine, MsinfoKey, QStringLiteral("Bare"), value));
    EXPECT_EQ(value, QStringLiteral("no terminator"));
    EXPECT_TRUE(f.about.GetKeyValue(HkeyLocalMachine, MsinfoKey, QStringLiteral("Long"), value));
    EXPECT_EQ(value.size(), 1024);

    EXPECT_FALSE(f.about.GetKeyValue(HkeyLocalMachine, MsinfoKey, QStringLiteral("Number"), value));
    EXPECT_EQ(value, QString());
    value = QStringLiteral("stale");
    EXPECT_FALSE(f.about.GetKeyValue(HkeyLocalMachine, MsinfoKey, QStringLiteral("Missing"), value));
    EXPECT_EQ(value, QString());
    value = QStringLiteral("stale");
    EXPECT_FALSE(f.about.GetKeyValue(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Nothing"), QStringLiteral("PATH"), value));
    EXPECT_EQ(value, QString());
    // Every key that was opened was closed, the failed reads included.
    EXPECT_EQ(f.registry.openCount, 5);
    EXPECT_EQ(f.registry.closeCount, 5);
}

} // namespace
