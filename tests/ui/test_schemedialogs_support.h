#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QWidget>

// Helpers for driving the scheme dialogs the way a user does.

template <class T>
T *Find(QWidget &parent, const QString &name)
{
    T *child = parent.findChild<T *>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
}

inline QComboBox *Box(QWidget &dialog, int k)
{
    return Find<QComboBox>(dialog, QStringLiteral("Combo1_%1").arg(k));
}

inline QStringList Entries(const QComboBox *combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i));
    return entries;
}

// Picks an entry from the box's drop-down list with the mouse.
inline void ChooseEntry(QComboBox *combo, const QString &text)
{
    const int row = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GE(row, 0) << text.toStdString();
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    ASSERT_FALSE(view->isVisible());
}

// Types `text` key by key; characters beyond ASCII arrive as key events
// carrying only their text, as from an input method.
inline void TypeKeys(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Replaces the box's text by typing, then leaves the box as a user would.
inline void TypeInto(QComboBox *combo, const QString &text)
{
    combo->lineEdit()->selectAll();
    QTest::keyClick(combo->lineEdit(), Qt::Key_Delete);
    TypeKeys(combo->lineEdit(), text);
    emit combo->lineEdit()->editingFinished();
}

inline void TypeInto(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    TypeKeys(edit, text);
}

inline void Click(QWidget &dialog, const QString &button)
{
    QPushButton *b = Find<QPushButton>(dialog, button);
    ASSERT_NE(b, nullptr);
    b->click();
}

// The names of the widgets that Tab reaches from `first`, in order.
inline QStringList TabOrder(QWidget &dialog, QWidget *first, int steps)
{
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    first->setFocus();
    QStringList names;
    for (int i = 0; i < steps; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            break;
        QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        names.append(focus ? focus->objectName() : QString());
    }
    return names;
}
