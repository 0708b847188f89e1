#pragma once

#include <QDialog>

// A modal dialog on which neither Escape nor Enter presses a button.
class NoDefaultDialog : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
