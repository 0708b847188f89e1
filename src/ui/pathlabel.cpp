#include "ui/pathlabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

PathLabel::PathLabel(const QString &caption, QWidget *parent)
    : QLabel(caption, parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void PathLabel::setPath(const QString &path)
{
    setText(path);
    setToolTip(path);
}

QSize PathLabel::sizeHint() const
{
    // Paths can be long; the layout decides the width, not the text.
    const QSize natural = QLabel::sizeHint();
    return {std::min(natural.width(), fontMetrics().averageCharWidth() * 60), natural.height()};
}

QSize PathLabel::minimumSizeHint() const
{
    const QSize natural = QLabel::minimumSizeHint();
    return {fontMetrics().averageCharWidth() * 8, natural.height()};
}

QRect PathLabel::textArea() const
{
    return contentsRect().adjusted(margin() + 2, margin(), -margin() - 2, -margin());
}

QString PathLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textArea().width());
}

void PathLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = textArea();
    const QString shown = shownText();
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, area, int(alignment()) | Qt::TextSingleLine, option.palette, isEnabled(), shown,
                          foregroundRole());
}
