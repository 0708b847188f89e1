#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/settingsstore.h"
#include "ui/formaggregate.h"
#include "ui/formfieldparsing.h"
#include "ui/formfieldparsingmanage.h"

#include <QListWidget>

TEST(SchemeDialogFocus, TabFollowsTheDesignedOrderAndNoButtonIsDefault)
{
    AppState state;
    state.Data.FieldCount = 2;
    state.Schemes.Schemes.append(ParsingScheme{"A", {}});
    state.Schemes.SchemeCount = 1;
    MemorySettingsStore store;
    FakeUiServices ui;

    {
        FormFieldParsingManage manager(state, store, ui);
        EXPECT_EQ(TabOrder(manager, Find<QListWidget>(manager, "List1"), 6),
                  QStringList({"CmdAddSheme", "CmdEditScheme", "CmdDeleteSheme", "CmdCancel", "CmdOK", "List1"}));
        for (QPushButton *button : manager.findChildren<QPushButton *>())
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
        manager.hide();
    }
    {
        FormFieldParsing editor(state, ui);
        QStringList expected;
        for (int k = 1; k < 23; ++k)
            expected.append(QStringLiteral("Combo1_%1").arg(k));
        expected << "CmdOK" << "CmdCancel" << "TextParsingName" << "Combo1_23" << "Combo1_0";
        EXPECT_EQ(TabOrder(editor, Box(editor, 0), int(expected.size())), expected);
        for (QPushButton *button : editor.findChildren<QPushButton *>())
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
        editor.hide();
    }
    {
        FormAggregate aggregate(state);
        EXPECT_EQ(TabOrder(aggregate, Box(aggregate, 0), 9),
                  QStringList({"Combo1_1", "Combo1_2", "Combo1_3", "Combo1_4", "Combo1_5", "Combo1_6",
                               "CommandCancel", "CommandOK", "Combo1_0"}));
        for (QPushButton *button : aggregate.findChildren<QPushButton *>())
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
        aggregate.hide();
    }
}
