#pragma once

#include <QLabel>

// A label that wraps its text and claims the height its lines need at its
// present width: a main window's layout does not ask a label's height for
// its width, and would cut the last lines off.
class WrappedLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrappedLabel(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
};
