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
#include <QProcess>
#include <QTemporaryDir>

namespace {
QString IptcTag(const QString &file, const QString &tag)
{
    QProcess tool;
    tool.start(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-IPTC:") + tag, file});
    if (!tool.waitForFinished(60000))
        return QStringLiteral("<exiftool did not finish>");
    // Raw output: blanks around the value are the tag's own.
    return QString::fromUtf8(tool.readAllStandardOutput());
}
} // namespace

TEST(EndToEnd, SchemeMadeInTheManagerTagsTheBatch)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString in = dir.filePath("in");
    const QString out = dir.filePath("out");
    QDir().mkpath(in);
    QDir().mkpath(out);
    for (const char *name : {"a.jpg", "b.jpg"}) {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(image.save(QDir(in).filePath(QString::fromLatin1(name)), "JPEG"));
    }
    WriteFileBytes(dir.filePath("data.txt"), "File\tPlace\tWhat\r\na.jpg\tRome\tForum\r\nb.jpg\tOslo\t\r\n");

    AppState state;
    BatchState batch;
    MemorySettingsStore store;
    FakeUiServices ui;
    FormMain window(state, batch, store, ui);
    ui.folderAnswers = {in, out};
    ui.fileAnswers = {dir.filePath("data.txt")};
    Find<QPushButton>(window, "CmdBrowseImages")->click();
    Find<QPushButton>(window, "CmdBrowseSave")->click();
    Find<QPushButton>(window, "CmdBrowseIPTCfile")->click();
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
    Find<QPushButton>(window, "CmdManageParsing")->click();
    ASSERT_TRUE(ui.dialogHandlers.empty());

    auto *list = Find<QComboBox>(window, "ComboParsing");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentText(), "Trip");
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(store.read(ParsingSection(1), TagKey(3), {}), "[F2][: ][F3]");

    Find<QPushButton>(window, "CmdBatchTag")->click();
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join('|').toStdString();
    const QString a = QDir(out).filePath("a.jpg");
    const QString b = QDir(out).filePath("b.jpg");
    EXPECT_EQ(IptcTag(a, "Caption-Abstract"), "Forum");
    EXPECT_EQ(IptcTag(a, "Headline"), "Rome: Forum");
    EXPECT_EQ(IptcTag(a, "City"), "Rome");
    EXPECT_EQ(IptcTag(a, "Keywords"), " holiday ");
    EXPECT_EQ(IptcTag(b, "City"), "Oslo");
    // An empty field gives no tag.
    EXPECT_EQ(IptcTag(b, "Caption-Abstract"), "");
    EXPECT_EQ(IptcTag(b, "Writer-Editor"), "");
}
