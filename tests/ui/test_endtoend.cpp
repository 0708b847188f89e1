#include "test_schemedialogs_support.h"

#include "engine/batchtag.h"
#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/formmain.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

TEST(EndToEnd, SchemeMadeInTheManagerTagsTheBatch)
{
    QTemporaryDir dir;
    const QString in = dir.filePath("in");
    const QString out = dir.filePath("out");
    QDir().mkpath(in);
    QDir().mkpath(out);
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (const char *name : {"/a.jpg", "/b.jpg"})
        ASSERT_TRUE(image.save(in + name, "JPEG"));
    WriteFileBytes(dir.filePath("data.txt"), "File\tPlace\tWhat\r\na.jpg\tRome\tForum\r\nb.jpg\tOslo\t\r\n");

    AppState state;
    BatchState batch;
    MemorySettingsStore store;
    FakeUiServices ui;
    FormMain window(state, batch, store, ui);
    ui.folderAnswers = {in, out};
    ui.fileAnswers = {dir.filePath("data.txt")};
    for (const char *button : {"CmdBrowseImages", "CmdBrowseSave", "CmdBrowseIPTCfile"})
        Click(window, button);
    ASSERT_EQ(state.Data.FieldCount, 3);

    // First use: the editor opens as the manager loads; then the manager's OK.
    ui.dialogHandlers.push_back([](QDialog &editor) {
        TypeInto(Find<QLineEdit>(editor, "TextParsingName"), "Trip");
        ChooseEntry(Box(editor, 0), "IPTC_Field3");
        TypeInto(Box(editor, 4), " holiday ");
        ChooseEntry(Box(editor, 7), "IPTC_Field2");
        ChooseEntry(Box(editor, 2), "Aggregation");
        Click(editor, "CmdOK");
        return editor.result();
    });
    ui.dialogHandlers.push_back([](QDialog &aggregate) {
        ChooseEntry(Box(aggregate, 0), "IPTC_Field2");
        TypeInto(Box(aggregate, 1), ": ");
        ChooseEntry(Box(aggregate, 2), "IPTC_Field3");
        Click(aggregate, "CommandOK");
        return aggregate.result();
    });
    ui.dialogHandlers.push_back([](QDialog &manager) {
        EXPECT_EQ(manager.objectName(), "FormFieldParsingManage");
        Click(manager, "CmdOK");
        return manager.result();
    });
    Click(window, "CmdManageParsing");
    ASSERT_TRUE(ui.dialogHandlers.empty());

    auto *list = Find<QComboBox>(window, "ComboParsing");
    EXPECT_EQ(Entries(list), QStringList{"Trip"});
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(store.read(ParsingSection(1), TagKey(3), {}), "[F2][: ][F3]");

    Click(window, "CmdBatchTag");
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join('|').toStdString();
    const QString a = QDir(out).filePath("a.jpg");
    const QString b = QDir(out).filePath("b.jpg");
    EXPECT_EQ(Iptc(a), "Forum");
    EXPECT_EQ(Iptc(a, "Headline"), "Rome: Forum");
    EXPECT_EQ(Iptc(a, "City"), "Rome");
    EXPECT_EQ(Iptc(a, "Keywords"), " holiday ");
    EXPECT_EQ(Iptc(b, "City"), "Oslo");
    // An empty field gives no tag.
    EXPECT_EQ(Iptc(b, "Caption-Abstract"), "");
    EXPECT_EQ(Iptc(b, "Writer-Editor"), "");
}
