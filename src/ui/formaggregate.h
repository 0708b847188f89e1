#pragma once

#include "model/slotexpression.h"

#include "ui/nodefaultdialog.h"
#include <QStringList>

#include <array>

class QLabel;
class QPushButton;
class SlotComboBox;
struct AppState;

// Composes an aggregation expression from up to seven pieces. Takes the
// slot's expression from AggregateParts[7] and leaves the result there;
// Cancel leaves all eight parts empty.
class FormAggregate : public NoDefaultDialog {
    Q_OBJECT

public:
    explicit FormAggregate(AppState &state, QWidget *parent = nullptr);

private:
    void Form_Load();
    void Combo1_Click(int Index);
    void Combo1_Change(int Index);
    void CommandOK_Click();
    void CommandCancel_Click();

    AppState &state;
    std::array<SlotComboBox *, MaxAggregateParts> Combo1{};
    QLabel *LabelAggregate = nullptr;
    QLabel *LabelSurplus = nullptr;
    QPushButton *CommandCancel = nullptr;
    QPushButton *CommandOK = nullptr;

    bool loading = false;
    // Groups beyond the seventh box: shown as kept and appended unchanged.
    QStringList surplus;
};
