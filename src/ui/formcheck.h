#pragma once

#include <QDialog>

class QCheckBox;
class QTableWidget;
class UiServices;
struct BatchCheck;
struct IptcDataFile;

// A batch as a run would write it: one table row per data line with its
// row in `data`, the data file checked, source, output, problems and field values.
class FormCheck : public QDialog {
    Q_OBJECT
public:
    // `onlyProblems` sets the filter; `suggestedFile` is offered by Save as text.
    FormCheck(const BatchCheck &check, const IptcDataFile &data, bool onlyProblems, const QString &suggestedFile,
              UiServices &ui, QWidget *parent = nullptr);

    // The filter as the user left it.
    bool onlyProblems() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void CheckOnlyProblems_Toggled(bool only);
    void CmdCopy_Click();
    void CmdSave_Click();
    void markProblemRows();
    // Tab-separated lines of the rows the table shows, or of only the selected ones.
    QString rowsAsText(bool selectedOnly, bool withHeader) const;

    UiServices &ui;
    QString suggestedFile;
    bool onlyProblemsAsked;
    QTableWidget *TableCheck = nullptr;
    QCheckBox *CheckOnlyProblems = nullptr;
};

