#pragma once

#include <QComboBox>
#include <QStringList>

struct IptcDataFile;

// The text of each field entry, IPTC_Field1 to IPTC_Field<FieldCount>: the
// field's header text and its value on the first data line beside it, where
// the data file has them; shortened to fit a box, or `whole` for a tooltip.
QStringList FieldEntryTexts(const IptcDataFile &data, bool whole = false);

// An editable box that holds an expression. Typed text is kept exactly; an
// entry may show more than the expression it stands for, and its tooltip all
// of it; and the wheel only changes a box that has the focus, so scrolling a
// dialog leaves it alone.
class SlotComboBox : public QComboBox {
public:
    explicit SlotComboBox(QWidget *parent = nullptr);

    // Adds an entry that shows `text` and stands for `expression`.
    void addEntry(const QString &text, const QString &expression);
    // Adds an entry that opens a dialog: it is reached from the list only,
    // never by stepping onto it with the wheel or the arrow keys.
    void addDialogEntry(const QString &text);
    // Adds IPTC_Field1, IPTC_Field2, ... showing `texts` with `tips` as
    // tooltips (see FieldEntryTexts).
    void addFieldEntries(const QStringList &texts, const QStringList &tips);

    // The entry's expression while the box shows an entry, else the text as typed.
    QString expression() const;
    // Shows the entry that stands for `expression`, or else the text itself.
    void setExpression(const QString &expression);

    void showPopup() override;

protected:
    void focusInEvent(QFocusEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool stepsOntoDialogEntry(int step) const;
};
