#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/formmain.h"

#include <QDir>
#include <QTemporaryDir>

// The README's first batch, click for click: the scheme made in the dialogs is
// the shipped example scheme byte for byte, and it tags every shipped photo.
TEST(EndToEnd, TheReadmesSchemeMadeInTheDialogsIsTheExampleAndTagsThePhotos)
{
    const QString examples = QT_TESTCASE_SOURCEDIR "/../examples";
    QTemporaryDir dir;
    const QString storeFile = dir.filePath("Brindleway.ini");
    const QString out = dir.filePath("tagged");
    QDir().mkpath(out);
    AppState state;
    IniSettingsStore store(storeFile);
    IniSettingsStore choices(dir.filePath("LastChoices.ini"));
    FakeUiServices ui;
    FormMain window(state, store, choices, ui);
    ui.fileAnswers = {examples + "/photos.txt"};
    ui.folderAnswers = {examples + "/images", out};
    Click(window, "CmdBrowseIPTCfile");
    ASSERT_EQ(state.Data.FieldCount, 7);

    // With no scheme yet the editor opens as the manager loads.
    ui.dialogHandlers.push_back([](QDialog &editor) {
        TypeInto(Find<QLineEdit>(editor, "TextParsingName"), "Example");
        const std::pair<int, const char *> readme[] = {{1, "IPTC_Field2"},  {3, "IPTC_Field3"},  {5, "IPTC_Field4"},
                                                       {8, "IPTC_Field5"},  {11, "IPTC_Field6"}, {13, "IPTC_Field7"},
                                                       {24, "IPTC_Field1"}};
        for (const auto &[slot, entry] : readme)
            ChooseEntry(Box(editor, slot - 1), entry);
        Click(editor, "CmdOK");
        return editor.result();
    });
    ui.dialogHandlers.push_back([](QDialog &manager) {
        Click(manager, "CmdOK");
        return manager.result();
    });
    Click(window, "CmdManageParsing");
    ASSERT_TRUE(ui.dialogHandlers.empty());
    EXPECT_EQ(ReadFileBytes(storeFile), ReadFileBytes(examples + "/example-scheme.ini"));

    for (const char *button : {"CmdBrowseImages", "CmdBrowseSave", "CmdBatchTag"})
        Click(window, button);
    WaitUntil([&] { return !window.batchRunning(); });
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join('|').toStdString();
    EXPECT_EQ(QDir(out).entryList({"*.jpg"}).size(), 5);
    const FileTags terrace = ReadTags(out + "/terrace.jpg");
    for (const auto &[tag, value] : {std::pair{"IPTC:Caption-Abstract", "Café terrace on the harbour front"},
                                     {"IPTC:Headline", "Café terrace"}, {"IPTC:City", "St Ives"},
                                     {"IPTC:Country-PrimaryLocationName", "United Kingdom"}, {"IPTC:By-line", "Tom Pascoe"},
                                     {"IPTC:Writer-Editor", ""}})
        EXPECT_EQ(terrace[tag], value) << tag;
    EXPECT_EQ(ReadTags(out + "/harbour.jpg")["IPTC:Keywords"], "harbour;boats;dawn");
}
