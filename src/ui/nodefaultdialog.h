#pragma once

#include <QDialog>

class QPushButton;

// A modal dialog on which neither Escape nor Enter presses a button.
class NoDefaultDialog : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent *event) override;

    // A button of this dialog that Enter never presses.
    QPushButton *plainButton(const QString &caption, const QString &objectName);
};
