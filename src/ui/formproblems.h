#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;
class UiServices;

// Every problem line of a run, in full, to read, copy or keep as a file.
class FormProblems : public QDialog {
    Q_OBJECT
public:
    // `suggestedFile` is what Save as text offers.
    FormProblems(const QString &summary, const QStringList &lines, const QString &suggestedFile, UiServices &ui,
                 QWidget *parent = nullptr);

private:
    void CmdCopy_Click();
    void CmdSave_Click();
    QString text() const;

    QString summary;
    QStringList lines;
    QString suggestedFile;
    UiServices &ui;
    QPlainTextEdit *TextProblems;
    QPushButton *CmdCopy;
    QPushButton *CmdSave;
    QPushButton *CmdClose;
};
