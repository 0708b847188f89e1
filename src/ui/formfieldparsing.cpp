#include "ui/formfieldparsing.h"

#include "model/appstate.h"
#include "model/slotexpression.h"
#include "ui/formaggregate.h"
#include "ui/slotcombobox.h"
#include "ui/uiservices.h"

#include "ui/tabchain.h"
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <utility>

namespace {
QFrame *makeLine(QWidget *parent, int number)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Line%1").arg(number));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

FormFieldParsing::FormFieldParsing(AppState &state, UiServices &ui, QWidget *parent)
    : NoDefaultDialog(parent), state(state), ui(ui)
{
    setObjectName(QStringLiteral("FormFieldParsing"));

    Label24 = new QLabel(QStringLiteral("Parsing scheme &name"), this);
    Label24->setObjectName(QStringLiteral("Label24"));
    TextParsingName = new QLineEdit(DefaultSchemeName, this);
    TextParsingName->setObjectName(QStringLiteral("TextParsingName"));
    Label24->setBuddy(TextParsingName);
    TextParsingName->installEventFilter(this);

    std::array<QLabel *, AllSlotCount> labels{};
    for (int k = 0; k < AllSlotCount; ++k) {
        labels[k] = new QLabel(isXmpSlot(k + 1) ? XmpFieldLabel(k + 1)
                                                : QString::fromUtf8(TagSlots[k].label.data(), qsizetype(TagSlots[k].label.size())),
                               this);
        labels[k]->setObjectName(QStringLiteral("Label%1").arg(k));
        auto *combo = new SlotComboBox(this);
        combo->setObjectName(QStringLiteral("Combo1_%1").arg(k));
        // Wide enough to name a column; the list shows the whole entry.
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(30);
        labels[k]->setBuddy(combo);
        Combo1[k] = combo;
    }
    QFont bold = labels[FileNameSlot - 1]->font();
    bold.setBold(true);
    labels[FileNameSlot - 1]->setFont(bold);

    CmdCancel = plainButton(QStringLiteral("&Cancel"), QStringLiteral("CmdCancel"));
    CmdOK = plainButton(QStringLiteral("&OK"), QStringLiteral("CmdOK"));

    for (int k = 0; k < AllSlotCount; ++k)
        connect(Combo1[k], &QComboBox::activated, this, [this, k] { Combo1_Click(k); });
    connect(CmdOK, &QPushButton::clicked, this, &FormFieldParsing::CmdOK_Click);
    connect(CmdCancel, &QPushButton::clicked, this, &FormFieldParsing::CmdCancel_Click);

    auto *layout = new QVBoxLayout(this);
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(Label24);
    nameRow->addWidget(TextParsingName, 1);
    layout->addLayout(nameRow);

    // Each column runs in slot order, with a line above its first group,
    // between groups and below its last group.
    auto *columns = new QHBoxLayout;
    int lineNumber = 0;
    for (int column = 0; column < 2; ++column) {
        auto *grid = new QGridLayout;
        int row = 0;
        int group = 0;
        for (int k = 0; k < SlotCount; ++k) {
            if (TagSlots[k].column != column)
                continue;
            if (TagSlots[k].group != group) {
                grid->addWidget(makeLine(this, ++lineNumber), row++, 0, 1, 2);
                group = TagSlots[k].group;
            }
            grid->addWidget(labels[k], row, 0);
            grid->addWidget(Combo1[k], row, 1);
            ++row;
        }
        grid->addWidget(makeLine(this, ++lineNumber), row++, 0, 1, 2);
        grid->setRowStretch(row, 1);
        columns->addLayout(grid);
    }
    layout->addLayout(columns);

    // The properties of XMP alone, in two columns of table order, scrolled
    // so that the dialog still fits a laptop screen.
    auto *xmpGroup = new QGroupBox(QStringLiteral("IPTC Core and Extension"));
    xmpGroup->setObjectName(QStringLiteral("XmpGroup"));
    auto *xmpGrid = new QGridLayout(xmpGroup);
    const int half = (XmpFieldCount + 1) / 2;
    for (int k = FirstXmpSlot - 1; k < AllSlotCount; ++k) {
        const int n = k - (FirstXmpSlot - 1);
        xmpGrid->addWidget(labels[k], n % half, 2 * (n / half));
        xmpGrid->addWidget(Combo1[k], n % half, 2 * (n / half) + 1);
    }
    auto *xmpScroll = new QScrollArea(this);
    xmpScroll->setObjectName(QStringLiteral("XmpScroll"));
    xmpScroll->setWidget(xmpGroup);
    xmpScroll->setWidgetResizable(true);
    xmpScroll->setFrameShape(QFrame::NoFrame);
    xmpScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    xmpScroll->setMinimumSize(xmpGroup->minimumSizeHint().width() + xmpScroll->verticalScrollBar()->sizeHint().width(), 320);
    layout->addWidget(xmpScroll, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CmdCancel);
    buttons->addWidget(CmdOK);
    buttons->addStretch();
    layout->addLayout(buttons);

    QList<QWidget *> tabChain(Combo1.begin(), Combo1.begin() + TagSlotCount);
    tabChain << CmdOK << CmdCancel << TextParsingName << Combo1[FileNameSlot - 1];
    SetTabChain(tabChain << QList<QWidget *>(Combo1.begin() + FileNameSlot, Combo1.end()));

    setWindowTitle(QStringLiteral("Field to IPTC tag parsing scheme"));

    Form_Load();
    Combo1[0]->setFocus();
}

void FormFieldParsing::reject()
{
    CmdCancel_Click();
}

void FormFieldParsing::Form_Load()
{
    const ParsingScheme &record = state.Schemes.Schemes[0];
    const bool newScheme = record.Name.isEmpty();
    if (!newScheme)
        TextParsingName->setText(record.Name);

    state.FillingSlotCombos = true;
    const QStringList fieldTexts = FieldEntryTexts(state.Data);
    const QStringList fieldTips = FieldEntryTexts(state.Data, true);
    for (int k = 0; k < AllSlotCount; ++k) {
        SlotComboBox *combo = Combo1[k];
        combo->clear();
        combo->clearEditText();
        if (k != FileNameSlot - 1) {
            combo->addEntry(LeaveBlank, LeaveBlank);
            combo->addEntry(ConstantTextEntry, ConstantTextEntry);
        }
        combo->addFieldEntries(fieldTexts, fieldTips);
        combo->addDialogEntry(AggregationEntry);

        // A new scheme starts from the first entry, but never from
        // "Aggregation": with no fields the file-name box stays empty.
        if (newScheme && combo->count() > 1)
            combo->setCurrentIndex(0);
        else
            combo->setExpression(newScheme ? QString() : record.slot(k + 1));
        shownSlots[k] = newScheme ? combo->expression() : record.slot(k + 1);
    }
    state.FillingSlotCombos = false;
}

void FormFieldParsing::Combo1_Click(int Index)
{
    if (state.FillingSlotCombos)
        return;
    SlotComboBox *combo = Combo1[Index];
    const QString chosen = combo->expression();
    // The placeholder is there to be typed over.
    if (chosen == ConstantTextEntry)
        combo->lineEdit()->selectAll();
    if (chosen != AggregationEntry)
        return;

    state.AggregateParts[7] = shownSlots[Index];
    FormAggregate aggregate(state, this);
    ui.execDialog(aggregate);

    const QString result = state.AggregateParts[7];
    if (result.isEmpty()) {
        combo->setExpression(shownSlots[Index]);
        return;
    }
    combo->setExpression(result);
    shownSlots[Index] = result;
    state.Schemes.Schemes[0].slot(Index + 1) = result;
}

void FormFieldParsing::CmdOK_Click()
{
    // The store's list of schemes ends at the first empty name, so a scheme
    // without one would take every later scheme with it at the next start.
    if (TextParsingName->text().isEmpty()) {
        ui.message(this, EmptySchemeNameMessage);
        TextParsingName->setFocus();
        return;
    }
    ParsingScheme &record = state.Schemes.Schemes[0];
    record.Name = TextParsingName->text();
    for (int i = 1; i <= AllSlotCount; ++i)
        record.slot(i) = Combo1[i - 1]->expression();
    accept();
}

bool FormFieldParsing::eventFilter(QObject *watched, QEvent *event)
{
    // Tab already selects the design-time name for typing over; a click
    // selects it too, unless the click dragged a selection of its own.
    if (watched == TextParsingName) {
        if (event->type() == QEvent::FocusIn)
            selectNameOnRelease = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason
                                  && TextParsingName->text() == DefaultSchemeName;
        if (event->type() == QEvent::MouseButtonRelease && std::exchange(selectNameOnRelease, false)
            && !TextParsingName->hasSelectedText())
            TextParsingName->selectAll();
    }
    return NoDefaultDialog::eventFilter(watched, event);
}

void FormFieldParsing::CmdCancel_Click()
{
    QDialog::reject();
}
