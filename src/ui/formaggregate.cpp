#include "ui/formaggregate.h"

#include "model/appstate.h"
#include "ui/slotcombobox.h"

#include "ui/tabchain.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FormAggregate::FormAggregate(AppState &state, QWidget *parent)
    : NoDefaultDialog(parent), state(state)
{
    setObjectName(QStringLiteral("FormAggregate"));

    for (int k = 0; k < MaxAggregateParts; ++k) {
        Combo1[k] = new SlotComboBox(this);
        Combo1[k]->setObjectName(QStringLiteral("Combo1_%1").arg(k));
    }
    LabelAggregate = new QLabel(this);
    LabelAggregate->setObjectName(QStringLiteral("LabelAggregate"));
    LabelAggregate->setTextFormat(Qt::PlainText);
    LabelSurplus = new QLabel(this);
    LabelSurplus->setObjectName(QStringLiteral("LabelSurplus"));
    LabelSurplus->setTextFormat(Qt::PlainText);
    LabelSurplus->setWordWrap(true);
    LabelSurplus->hide();
    CommandCancel = plainButton(QStringLiteral("&Cancel"), QStringLiteral("CommandCancel"));
    CommandOK = plainButton(QStringLiteral("&OK"), QStringLiteral("CommandOK"));

    for (int k = 0; k < MaxAggregateParts; ++k) {
        connect(Combo1[k], &QComboBox::activated, this, [this, k] { Combo1_Click(k); });
        connect(Combo1[k], &QComboBox::editTextChanged, this, [this, k] { Combo1_Change(k); });
    }
    connect(CommandCancel, &QPushButton::clicked, this, &FormAggregate::CommandCancel_Click);
    connect(CommandOK, &QPushButton::clicked, this, &FormAggregate::CommandOK_Click);

    auto *layout = new QVBoxLayout(this);
    for (QComboBox *combo : Combo1)
        layout->addWidget(combo);
    layout->addWidget(LabelAggregate);
    layout->addWidget(LabelSurplus);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CommandCancel);
    buttons->addWidget(CommandOK);
    buttons->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(360);

    QList<QWidget *> tabChain(Combo1.begin(), Combo1.end());
    SetTabChain(tabChain << CommandCancel << CommandOK);

    setWindowTitle(QStringLiteral("Text and field aggregation"));

    Form_Load();
    Combo1[0]->setFocus();
}

void FormAggregate::Form_Load()
{
    AggregatePartsTable &parts = state.AggregateParts;
    const QString incoming = parts[7];
    for (int k = 0; k < MaxAggregateParts; ++k)
        parts[k].clear();
    LabelAggregate->clear();

    loading = true;
    const QStringList fieldTexts = FieldEntryTexts(state.Data);
    const QStringList fieldTips = FieldEntryTexts(state.Data, true);
    for (SlotComboBox *combo : Combo1) {
        combo->clear();
        combo->clearEditText();
        combo->addFieldEntries(fieldTexts, fieldTips);
        combo->setCurrentIndex(-1);
        combo->clearEditText();
    }
    loading = false;

    const QStringList pieces = ReadAggregationPieces(incoming);
    if (pieces.isEmpty())
        return;
    surplus = pieces.mid(MaxAggregateParts);
    for (int k = 0; k < pieces.size() && k < MaxAggregateParts; ++k)
        Combo1[k]->setExpression(BoxTextFromPiece(pieces[k]));
    if (!surplus.isEmpty()) {
        LabelSurplus->setText(QStringLiteral("This expression has %1 more groups than the boxes can show. "
                                             "They are kept after the seventh piece.")
                                  .arg(surplus.size()));
        LabelSurplus->show();
    }
    // Until the user changes a piece, OK hands back exactly what came in,
    // even text that the read-back could not take apart.
    parts[7] = incoming;
    LabelAggregate->setText(incoming);
}

void FormAggregate::Combo1_Click(int Index)
{
    if (loading)
        return;
    AggregatePartsTable &parts = state.AggregateParts;
    parts[Index] = PieceFromBoxText(Combo1[Index]->expression());
    QStringList pieces(parts.begin(), parts.begin() + MaxAggregateParts);
    const QString expression = BuildAggregation(pieces + surplus);
    parts[7] = expression;
    LabelAggregate->setText(expression);
}

void FormAggregate::Combo1_Change(int Index)
{
    Combo1_Click(Index);
}

void FormAggregate::CommandOK_Click()
{
    accept();
}

void FormAggregate::CommandCancel_Click()
{
    for (QString &part : state.AggregateParts)
        part.clear();
    QDialog::reject();
}
