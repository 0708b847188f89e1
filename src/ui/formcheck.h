#pragma once

#include <QDialog>

class QCheckBox;
class QTableWidget;
struct BatchCheck;
struct IptcDataFile;

// A batch as a run would write it: one table row per data line with its
// row in `data`, the data file checked, source, output, problems and field values.
class FormCheck : public QDialog {
    Q_OBJECT
public:
    FormCheck(const BatchCheck &check, const IptcDataFile &data, QWidget *parent = nullptr);

private:
    void CheckOnlyProblems_Toggled(bool only);

    QTableWidget *TableCheck;
    QCheckBox *CheckOnlyProblems;
};
