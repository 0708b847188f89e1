#include "ui/nodefaultdialog.h"

#include <QKeyEvent>
#include <QPushButton>

void NoDefaultDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QPushButton *NoDefaultDialog::plainButton(const QString &caption, const QString &objectName)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}
