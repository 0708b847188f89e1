#pragma once

#include "model/xmpfields.h"

#include "ui/nodefaultdialog.h"
#include <QString>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class SlotComboBox;
class UiServices;
struct AppState;

// Edits the working record Schemes[0]: its name and the expressions of its
// 24 slots and of the XMP slots. OK writes them back; an aggregation result is written at once.
class FormFieldParsing : public NoDefaultDialog {
    Q_OBJECT

public:
    FormFieldParsing(AppState &state, UiServices &ui, QWidget *parent = nullptr);

    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Combo1_Click(int Index);
    void CmdOK_Click();
    void CmdCancel_Click();

    AppState &state;
    UiServices &ui;
    QLabel *Label24 = nullptr;
    QLineEdit *TextParsingName = nullptr;
    std::array<SlotComboBox *, AllSlotCount> Combo1{};
    QPushButton *CmdCancel = nullptr;
    QPushButton *CmdOK = nullptr;

    // What each box stood for when the dialog loaded or last took an
    // aggregation; a new scheme's record still holds an earlier scheme's slots.
    std::array<QString, AllSlotCount> shownSlots;
    // The name box was entered by a click while it held the design-time name.
    bool selectNameOnRelease = false;
};

inline const QString DefaultSchemeName = QStringLiteral("Enter parsing scheme name");
inline const QString ConstantTextEntry = QStringLiteral("Constant text");
inline const QString AggregationEntry = QStringLiteral("Aggregation");
inline const QString EmptySchemeNameMessage =
    QStringLiteral("Please enter a name for the parsing scheme.\n"
                   "A scheme without a name cannot be stored.");
