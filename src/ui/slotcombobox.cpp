#include "ui/slotcombobox.h"

#include "model/datafile.h"
#include "model/slotexpression.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QWheelEvent>

namespace {
constexpr int ExpressionRole = Qt::UserRole;
constexpr int DialogEntryRole = Qt::UserRole + 1;

// One line of at most `limit` characters, cut with an ellipsis.
QString shortened(const QString &text, qsizetype limit)
{
    QString line = text.simplified();
    if (line.size() <= limit)
        return line;
    line.truncate(limit - 1);
    if (line.back().isHighSurrogate())
        line.chop(1);
    return line.trimmed() + QChar(0x2026);
}
} // namespace

QStringList FieldEntryTexts(const IptcDataFile &data, bool whole)
{
    // A tooltip shows a caption of a few lines whole; one of 2,000 bytes would fill the screen.
    constexpr qsizetype TipLimit = 300;
    QStringList texts;
    for (int i = 1; i <= data.FieldCount; ++i) {
        const QString expression = FieldReferencePrefix + QString::number(i);
        QString text = expression;
        const QString name = shortened(data.FieldGrid.headerCell(i).toString(), whole ? TipLimit : 28);
        if (!name.isEmpty() && name != expression)
            text += QStringLiteral(" — ") + name;
        const QString sample = shortened(data.FieldGrid.cell(1, i).toString(), whole ? TipLimit : 22);
        if (!sample.isEmpty())
            text += QStringLiteral(" (“") + sample + QStringLiteral("”)");
        texts.append(text);
    }
    return texts;
}

SlotComboBox::SlotComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
    // Leaving the box with text that equals an entry would otherwise count as
    // choosing that entry.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    // The default wheel focus would let a passing wheel take the box over.
    setFocusPolicy(Qt::StrongFocus);
    // A chosen entry replaces whatever had been typed over it, and shows
    // from its start, where the field it stands for is named.
    connect(this, &QComboBox::activated, this, [this](int row) {
        setEditText(itemText(row));
        lineEdit()->setCursorPosition(0);
    });
    connect(this, &QComboBox::currentIndexChanged, this, [this] { lineEdit()->setCursorPosition(0); });
    // The box is narrower than most entries; its tooltip shows what it holds in full.
    connect(this, &QComboBox::editTextChanged, this, [this](const QString &text) {
        const QString tip = itemData(findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive), Qt::ToolTipRole).toString();
        setToolTip(tip.isEmpty() ? text : tip);
    });
}

void SlotComboBox::addEntry(const QString &text, const QString &expression)
{
    addItem(text, expression);
}

void SlotComboBox::addDialogEntry(const QString &text)
{
    addItem(text, text);
    setItemData(count() - 1, true, DialogEntryRole);
}

void SlotComboBox::addFieldEntries(const QStringList &texts, const QStringList &tips)
{
    for (qsizetype i = 0; i < texts.size(); ++i) {
        addItem(texts[i], FieldReferencePrefix + QString::number(i + 1));
        setItemData(count() - 1, tips.value(i), Qt::ToolTipRole);
    }
}

QString SlotComboBox::expression() const
{
    const QString text = currentText();
    const int row = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    const QVariant stored = itemData(row, ExpressionRole);
    return stored.isValid() ? stored.toString() : text;
}

void SlotComboBox::setExpression(const QString &expression)
{
    // The wheel and the arrow keys then step on from the entry shown.
    const int row = findData(expression, ExpressionRole);
    setCurrentIndex(row);
    setEditText(row < 0 ? expression : itemText(row));
    lineEdit()->setCursorPosition(0);
}

void SlotComboBox::showPopup()
{
    // Entries that name a column are wider than the box; the list shows them whole.
    QAbstractItemView *list = view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width()
                          + 2 * list->frameWidth());
    QComboBox::showPopup();
}

void SlotComboBox::focusInEvent(QFocusEvent *event)
{
    QComboBox::focusInEvent(event);
    // Text selected for typing over still shows from its start.
    QLineEdit *edit = lineEdit();
    const qsizetype length = edit->text().size();
    if (length > 0 && edit->selectedText().size() == length)
        edit->setSelection(int(length), -int(length));
}

void SlotComboBox::wheelEvent(QWheelEvent *event)
{
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta != 0 && stepsOntoDialogEntry(delta < 0 ? 1 : -1)) {
        event->accept();
        return;
    }
    QComboBox::wheelEvent(event);
}

void SlotComboBox::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const int step = key == Qt::Key_Down || key == Qt::Key_PageDown ? 1
                     : key == Qt::Key_Up || key == Qt::Key_PageUp  ? -1
                                                                    : 0;
    const bool plain = !(event->modifiers() & (Qt::AltModifier | Qt::ControlModifier));
    if (plain && step != 0 && stepsOntoDialogEntry(step)) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

bool SlotComboBox::stepsOntoDialogEntry(int step) const
{
    return itemData(currentIndex() + step, DialogEntryRole).toBool();
}
