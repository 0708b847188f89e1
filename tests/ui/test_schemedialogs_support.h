#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

// Helpers for driving windows and dialogs the way a user does.

template <class T>
T *Find(QWidget &parent, const QString &name)
{
    T *child = parent.findChild<T *>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
}

inline QComboBox *Box(QWidget &dialog, int k) { return Find<QComboBox>(dialog, QStringLiteral("Combo1_%1").arg(k)); }

inline QStringList Entries(const QAbstractItemModel *model)
{
    QStringList entries;
    for (int i = 0; i < model->rowCount(); ++i)
        entries.append(model->index(i, 0).data().toString());
    return entries;
}
inline QStringList Entries(const QComboBox *combo) { return Entries(combo->model()); }

// Picks an entry from the box's drop-down list with the mouse; a field entry
// that names its column may be given by the field alone ("IPTC_Field3").
inline void ChooseEntry(QComboBox *combo, const QString &text)
{
    int row = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row < 0)
        row = combo->findText(text + " ", Qt::MatchStartsWith | Qt::MatchCaseSensitive);
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
inline void TypeInto(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(edit, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Replaces the box's text by typing, then leaves the box as a user would.
inline void TypeInto(QComboBox *combo, const QString &text)
{
    TypeInto(combo->lineEdit(), text);
    emit combo->lineEdit()->editingFinished();
}

inline void Click(QWidget &dialog, const QString &button)
{
    if (QPushButton *b = Find<QPushButton>(dialog, button))
        b->click();
}

// Turns the wheel over `widget` (up for positive notches); true when the widget took it.
inline bool Wheel(QWidget *widget, int notches)
{
    const QPointF centre = widget->rect().center();
    QWheelEvent wheel(centre, widget->mapToGlobal(centre), {}, {0, 120 * notches}, {}, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
    return wheel.isAccepted();
}
