#include "fakeuiservices.h"
#include "ui/formabout.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QPushButton>

namespace {

// Keys by path, each holding values by name with their type and bytes.
class FakeRegistry : public RegistryAccess {
public:
    QMap<QString, QMap<QString, std::pair<quint32, QByteArray>>> keys;
    QStringList opened;
    int openCount = 0;
    int closeCount = 0;

    std::optional<Key> openKey(Key root, const QString &keyName, quint32 access) override
    {
        opened << keyName;
        if (root != HkeyLocalMachine || access != RegistryReadAccess || !keys.contains(keyName))
            return std::nullopt;
        handles.append(keyName);
        ++openCount;
        return Key(handles.size());
    }
    bool queryValue(Key key, const QString &valueName, quint32 &type, QByteArray &data, int capacity) override
    {
        const auto values = keys.value(handles.at(int(key) - 1));
        if (!values.contains(valueName))
            return false;
        type = values[valueName].first;
        data = values[valueName].second.left(capacity);
        return true;
    }
    void closeKey(Key) override { ++closeCount; }

private:
    QStringList handles;
};

TEST(FormAbout, SystemInfoIsFoundThroughTheRegistryOrReportedUnavailable)
{
    const QString msinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    const QString locationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
    const QString located = "C:\\Shared\\MSINFO\\MSINFO32.EXE";
    FakeUiServices ui;
    FakeRegistry registry;
    QStringList fileTests;
    bool filePresent = false;
    FormAbout about(ui, registry, [&](const QString &path) {
        fileTests << path;
        return filePresent;
    });
    const auto press = [&] {
        ui.messages.clear();
        ui.startedPrograms.clear();
        fileTests.clear();
        registry.opened.clear();
        about.findChild<QPushButton *>("cmdSysInfo")->click();
    };

    press();
    EXPECT_EQ(ui.messages, QStringList{SysInfoUnavailableMessage});
    EXPECT_EQ(registry.opened, QStringList({msinfoKey, locationKey}));

    // A PATH value that is no string names no tool; the Location one needs the file.
    registry.keys[msinfoKey]["PATH"] = {4, QByteArray("\x01\x00\x00\x00", 4)};
    registry.keys[locationKey]["MSINFO"] = {1, QByteArray("C:\\Shared\\MSINFO\0", 17)};
    press();
    EXPECT_EQ(fileTests, QStringList{located});
    EXPECT_TRUE(ui.startedPrograms.isEmpty());
    EXPECT_EQ(ui.messages, QStringList{SysInfoUnavailableMessage});
    filePresent = true;
    press();
    EXPECT_EQ(ui.startedPrograms, QStringList{located});
    EXPECT_TRUE(ui.messages.isEmpty());

    // A string PATH value starts the tool at once, without a file test.
    registry.keys[msinfoKey]["PATH"] = {1, QByteArray("C:\\Tools\\msinfo32.exe\0", 22)};
    press();
    EXPECT_EQ(ui.startedPrograms, QStringList{"C:\\Tools\\msinfo32.exe"});
    EXPECT_TRUE(fileTests.isEmpty());
    EXPECT_EQ(registry.opened, QStringList{msinfoKey});
    EXPECT_TRUE(ui.messages.isEmpty());

    ui.startSucceeds = false;
    press();
    EXPECT_EQ(ui.messages, QStringList{SysInfoUnavailableMessage});
    EXPECT_EQ(registry.openCount, registry.closeCount);

    FakeUiServices plainUi;
    NoRegistry none;
    FormAbout plain(plainUi, none);
    plain.StartSysInfo();
    EXPECT_EQ(plainUi.messages, QStringList{SysInfoUnavailableMessage});
}

} // namespace
