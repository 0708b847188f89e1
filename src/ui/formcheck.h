#pragma once

#include <QDialog>

class QCheckBox;
class QTableWidget;
struct BatchCheck;

// A batch as a run would write it: one table row per data line with its
// rows in the data file, source, output, problems and field values.
class FormCheck : public QDialog {
    Q_OBJECT
public:
    explicit FormCheck(const BatchCheck &check, QWidget *parent = nullptr);

private:
    void CheckOnlyProblems_Toggled(bool only);

    QTableWidget *TableCheck;
    QCheckBox *CheckOnlyProblems;
};
