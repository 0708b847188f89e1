#include "ui/wrappedlabel.h"

#include <QResizeEvent>

#include <algorithm>

WrappedLabel::WrappedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

QSize WrappedLabel::minimumSizeHint() const
{
    const QSize natural = QLabel::minimumSizeHint();
    return {natural.width(), std::max(natural.height(), heightForWidth(width()))};
}

void WrappedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    // A new width may need another number of lines; the layout asks again.
    if (event->oldSize().width() != width())
        updateGeometry();
}
