#include "ui/appicon.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace {
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);

    const QColor teal(0x2f, 0x6f, 0x7e);
    const QColor amber(0xf2, 0xa5, 0x41);
    painter.setBrush(teal);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(10, 12, 38, 30), 3, 3);
    painter.setBrush(teal);
    painter.drawPolygon(QPolygonF({{14, 38}, {24, 25}, {31, 33}, {36, 28}, {44, 38}}));
    painter.setBrush(amber);
    painter.drawEllipse(QPointF(39, 20), 3, 3);
    painter.drawPolygon(QPolygonF({{32, 40}, {47, 40}, {56, 48}, {47, 56}, {32, 56}}));
    painter.setBrush(teal);
    painter.drawEllipse(QPointF(37.5, 48), 2.5, 2.5);
    return pixmap;
}
} // namespace

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(drawIcon(size));
    return icon;
}
