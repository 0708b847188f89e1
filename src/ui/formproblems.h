#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QTreeWidget;
class QPushButton;
class UiServices;

// Lines of one kind under their heading; `code` is the kind's NoteCode (as
// int; 0 for lines without notes). Lines without a heading stand alone.
struct ProblemGroup {
    QString heading;
    int code = 0;
    QStringList lines;
};

// Every problem line of a run, in full and grouped by kind, to read, copy
// or keep as a file.
class FormProblems : public QDialog {
    Q_OBJECT
public:
    // `suggestedFile` is what Save as text offers.
    FormProblems(const QString &summary, const QList<ProblemGroup> &groups, const QString &suggestedFile, UiServices &ui,
                 QWidget *parent = nullptr);

private:
    void CmdCopy_Click();
    void CmdSave_Click();
    QString text() const;

    QString summary;
    QList<ProblemGroup> groups;
    QString suggestedFile;
    UiServices &ui;
    QTreeWidget *TreeProblems;
    QPushButton *CmdCopy;
    QPushButton *CmdSave;
    QPushButton *CmdClose;
};
