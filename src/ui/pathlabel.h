#pragma once

#include <QLabel>

// A one-line label for a path: text() keeps the whole path, the label shows
// it elided in the middle when narrow, and the tooltip carries it in full.
class PathLabel : public QLabel {
    Q_OBJECT
public:
    explicit PathLabel(const QString &caption, QWidget *parent = nullptr);

    // Shows `path`; an empty path shows nothing and has no tooltip.
    void setPath(const QString &path);

    // What the label shows at its present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textArea() const;
};
