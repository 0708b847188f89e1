#include "ui/formcheck.h"

#include "engine/batchcheck.h"
#include "model/datafile.h"
#include "model/tagslots.h"

#include <QBrush>
#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace {
enum Column { RowColumn, LineColumn, FileColumn, OutputColumn, ProblemsColumn, FirstValueColumn };

QTableWidgetItem *cell(const QString &text, const QString &tip = {})
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setToolTip(tip.isEmpty() ? text : tip);
    return item;
}

QTableWidgetItem *number(int value)
{
    auto *item = cell(QString::number(value));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString summaryText(const BatchCheck &check)
{
    const qsizetype problems = check.problemLines();
    return QStringLiteral("%1 data line(s) checked: %2. Nothing was written.")
        .arg(check.lines.size())
        .arg(problems == 0 ? QStringLiteral("no problems found") : QStringLiteral("%1 with problems").arg(problems));
}
} // namespace

FormCheck::FormCheck(const BatchCheck &check, const IptcDataFile &data, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormCheck"));
    auto *summary = new QLabel(summaryText(check), this);
    summary->setObjectName(QStringLiteral("LabelCheckSummary"));
    CheckOnlyProblems = new QCheckBox(QStringLiteral("Show only lines with problems"), this);
    CheckOnlyProblems->setObjectName(QStringLiteral("CheckOnlyProblems"));
    CheckOnlyProblems->setEnabled(check.problemLines() > 0);

    // A column for every field that some line gives a value.
    std::set<int> usedSlots;
    for (const CheckedLine &line : check.lines) {
        for (const TagValue &value : line.plan.values)
            usedSlots.insert(value.slot);
    }
    QStringList headers{QStringLiteral("Row"), QStringLiteral("Line"), QStringLiteral("File"),
                        QStringLiteral("Output"), QStringLiteral("Problems")};
    QList<int> slotColumns(TagSlotCount + 1, -1);
    for (const int slot : usedSlots) {
        slotColumns[slot] = int(headers.size());
        headers << QString::fromLatin1(slotInfo(slot).label.data(), qsizetype(slotInfo(slot).label.size()));
    }

    TableCheck = new QTableWidget(int(check.lines.size()), int(headers.size()), this);
    TableCheck->setObjectName(QStringLiteral("TableCheck"));
    TableCheck->setHorizontalHeaderLabels(headers);
    TableCheck->verticalHeader()->setVisible(false);
    TableCheck->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableCheck->setWordWrap(false);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const QBrush problemBrush(QColor(255, 226, 222));
    for (int r = 0; r < check.lines.size(); ++r) {
        const CheckedLine &line = check.lines.at(r);
        const LinePlan &plan = line.plan;
        TableCheck->setItem(r, RowColumn, number(data.row(plan.line)));
        TableCheck->setItem(r, LineColumn, number(plan.line));
        TableCheck->setItem(r, FileColumn, cell(plan.name, QDir::toNativeSeparators(plan.source)));
        TableCheck->setItem(r, OutputColumn, cell(plan.output.name, QDir::toNativeSeparators(plan.output.path)));
        TableCheck->setItem(r, ProblemsColumn, cell(line.problems.join(QStringLiteral("; ")),
                                                    line.problems.join(QLatin1Char('\n'))));
        for (const TagValue &value : plan.values)
            TableCheck->setItem(r, slotColumns[value.slot], cell(value.text));
        if (line.problems.isEmpty())
            continue;
        TableCheck->item(r, RowColumn)->setIcon(warning);
        for (int c = 0; c < TableCheck->columnCount(); ++c) {
            if (!TableCheck->item(r, c))
                TableCheck->setItem(r, c, cell({}));
            TableCheck->item(r, c)->setBackground(problemBrush);
        }
    }
    TableCheck->resizeColumnsToContents();
    // A 2,000-byte caption must not push the other columns out of sight.
    const int widest = fontMetrics().averageCharWidth() * 48;
    for (int c = 0; c < TableCheck->columnCount(); ++c)
        TableCheck->setColumnWidth(c, std::min(TableCheck->columnWidth(c), widest));

    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("CmdClose"));
    close->setDefault(true);

    connect(CheckOnlyProblems, &QCheckBox::toggled, this, &FormCheck::CheckOnlyProblems_Toggled);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(CheckOnlyProblems);
    bottom->addStretch();
    bottom->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(TableCheck, 1);
    layout->addLayout(bottom);

    setWindowTitle(QStringLiteral("Check before writing"));
    resize(900, 480);
}

void FormCheck::CheckOnlyProblems_Toggled(bool only)
{
    for (int r = 0; r < TableCheck->rowCount(); ++r)
        TableCheck->setRowHidden(r, only && TableCheck->item(r, ProblemsColumn)->text().isEmpty());
}
