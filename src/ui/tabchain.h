#pragma once

#include <QList>
#include <QWidget>

// Makes Tab walk `widgets` in the order given.
inline void SetTabChain(const QList<QWidget *> &widgets)
{
    for (qsizetype i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}
