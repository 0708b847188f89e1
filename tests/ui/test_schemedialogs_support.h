#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QWidget>

// Helpers for driving windows and dialogs the way a user does.

// The IPTC tag as ExifTool reads it, raw: blanks around the value are the tag's own.
inline QString Iptc(const QString &file, const QString &tag = "Caption-Abstract")
{
    QProcess tool;
    tool.start("exiftool", {"-b", "-IPTC:" + tag, file});
    if (!tool.waitForFinished(60000))
        return "<exiftool did not finish>";
    return QString::fromUtf8(tool.readAllStandardOutput());
}

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
    QPushButton *b = Find<QPushButton>(dialog, button);
    ASSERT_NE(b, nullptr);
    b->click();
}

// Enter in a half-typed box must not press a button and close the dialog.
inline void ExpectNoDefaultButton(QWidget &dialog)
{
    for (QPushButton *button : dialog.findChildren<QPushButton *>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
}
