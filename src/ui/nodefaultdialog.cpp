#include "ui/nodefaultdialog.h"

#include <QKeyEvent>

void NoDefaultDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
