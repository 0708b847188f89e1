#include "ui/formcheck.h"

#include "engine/run/batchcheck.h"
#include "engine/run/notetext.h"
#include "engine/worker/thumbnail.h"
#include "model/datafile.h"
#include "model/tagslots.h"
#include "model/xmpfields.h"
#include "ui/uiservices.h"

#include <QAction>
#include <QBuffer>
#include <QBrush>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace {
enum Column { RowColumn, LineColumn, FileColumn, OutputColumn, ProblemsColumn, TagsColumn, FirstValueColumn };

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

// Shown at half a thumbnail's side, so that a row stays a row.
constexpr int ShownSide = ThumbnailSide / 2;

// A worker's thumbnail, decoded here: bytes of the workers' own making, and
// no more than a thumbnail's size is decoded whatever they claim.
QIcon thumbnailIcon(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return {};
    reader.setScaledSize(size.scaled(ShownSide, ShownSide, Qt::KeepAspectRatio).expandedTo({1, 1}));
    const QImage image = reader.read();
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

QString summaryText(const BatchCheck &check)
{
    const qsizetype problems = check.problemLines();
    return QStringLiteral("%1 data line(s) checked: %2. Nothing was written.")
        .arg(check.lines.size())
        .arg(problems == 0 ? QStringLiteral("no problems found") : QStringLiteral("%1 with problems").arg(problems));
}

// The theme's base tinted towards red: light under a light theme, dark under
// a dark one, so the theme's own text keeps its contrast on it.
QColor problemBackground(const QColor &base)
{
    constexpr float share = 0.2f;
    const QColor alert(220, 50, 47);
    const auto mix = [](float from, float to) { return from * (1 - share) + to * share; };
    return QColor::fromRgbF(mix(base.redF(), alert.redF()), mix(base.greenF(), alert.greenF()),
                            mix(base.blueF(), alert.blueF()));
}

// A cell as one field of a tab-separated line.
QString field(const QTableWidgetItem *item)
{
    QString text = item ? item->text() : QString();
    for (QChar &c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return text;
}
} // namespace

FormCheck::FormCheck(const BatchCheck &check, const IptcDataFile &data, bool onlyProblems,
                     const QString &suggestedFile, UiServices &ui, QWidget *parent)
    : QDialog(parent), ui(ui), suggestedFile(suggestedFile), onlyProblemsAsked(onlyProblems)
{
    setObjectName(QStringLiteral("FormCheck"));
    auto *summary = new QLabel(summaryText(check), this);
    summary->setObjectName(QStringLiteral("LabelCheckSummary"));
    summary->setWordWrap(true);
    CheckOnlyProblems = new QCheckBox(QStringLiteral("Show only lines with &problems"), this);
    CheckOnlyProblems->setObjectName(QStringLiteral("CheckOnlyProblems"));
    CheckOnlyProblems->setEnabled(check.problemLines() > 0);

    // A column for every field that some line gives a value.
    std::set<int> usedSlots;
    for (const CheckedLine &line : check.lines) {
        for (const TagValue &value : line.plan.values)
            usedSlots.insert(value.slot);
    }
    QStringList headers{QStringLiteral("Row"), QStringLiteral("Line"), QStringLiteral("File"),
                        QStringLiteral("Output"), QStringLiteral("Problems"), QStringLiteral("Tags go")};
    QList<int> slotColumns(AllSlotCount + 1, -1);
    for (const int slot : usedSlots) {
        slotColumns[slot] = int(headers.size());
        headers << SlotLabel(slot);
    }

    TableCheck = new QTableWidget(int(check.lines.size()), int(headers.size()), this);
    TableCheck->setObjectName(QStringLiteral("TableCheck"));
    TableCheck->setHorizontalHeaderLabels(headers);
    TableCheck->verticalHeader()->setVisible(false);
    TableCheck->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableCheck->setWordWrap(false);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (int r = 0; r < check.lines.size(); ++r) {
        const CheckedLine &line = check.lines.at(r);
        const LinePlan &plan = line.plan;
        TableCheck->setItem(r, RowColumn, number(data.row(plan.line)));
        TableCheck->setItem(r, LineColumn, number(plan.line));
        TableCheck->setItem(r, FileColumn, cell(plan.name, QDir::toNativeSeparators(plan.source)));
        if (const QIcon picture = thumbnailIcon(line.thumbnail); !picture.isNull()) {
            TableCheck->item(r, FileColumn)->setIcon(picture);
            TableCheck->setIconSize({ShownSide, ShownSide});
            TableCheck->verticalHeader()->setDefaultSectionSize(ShownSide + 4);
        }
        QStringList problems;
        for (const Note &note : line.notes)
            problems << NoteText(note, Tense::Future);
        TableCheck->setItem(r, OutputColumn, cell(plan.output, QDir::toNativeSeparators(plan.outputPath)));
        TableCheck->setItem(r, ProblemsColumn, cell(problems.join(QStringLiteral("; ")), problems.join(QLatin1Char('\n'))));
        TableCheck->setItem(r, TagsColumn, cell(line.place ? TagPlaceText(*line.place) : QString()));
        for (const TagValue &value : plan.values)
            TableCheck->setItem(r, slotColumns[value.slot], cell(value.text));
        if (line.notes.isEmpty())
            continue;
        TableCheck->item(r, RowColumn)->setIcon(warning);
        for (int c = 0; c < TableCheck->columnCount(); ++c) {
            if (!TableCheck->item(r, c))
                TableCheck->setItem(r, c, cell({}));
        }
    }
    markProblemRows();
    TableCheck->resizeColumnsToContents();
    // A 2,000-byte caption must not push the other columns out of sight.
    const int widest = fontMetrics().averageCharWidth() * 48;
    for (int c = 0; c < TableCheck->columnCount(); ++c)
        TableCheck->setColumnWidth(c, std::min(TableCheck->columnWidth(c), widest));
    // Rows up to 999999 show whole beside the warning icon, whatever the first rows' numbers.
    const int margin = TableCheck->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, TableCheck) * 2 + 2;
    const int sixDigits = TableCheck->fontMetrics().horizontalAdvance(QStringLiteral("999999")) + margin;
    const int icon = TableCheck->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, TableCheck) + margin;
    TableCheck->setColumnWidth(RowColumn, std::max(TableCheck->columnWidth(RowColumn), sixDigits + icon));
    TableCheck->setColumnWidth(LineColumn, std::max(TableCheck->columnWidth(LineColumn), sixDigits));

    auto *copyRows = new QAction(this);
    copyRows->setShortcut(QKeySequence::Copy);
    copyRows->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    TableCheck->addAction(copyRows);
    auto *copy = new QPushButton(QStringLiteral("&Copy"), this);
    copy->setObjectName(QStringLiteral("CmdCopy"));
    copy->setToolTip(QStringLiteral("Copy the selected rows, or every row shown when none is selected, "
                                    "as tab-separated text (%1)")
                         .arg(QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText)));
    auto *save = new QPushButton(QStringLiteral("&Save as text..."), this);
    save->setObjectName(QStringLiteral("CmdSave"));
    save->setToolTip(QStringLiteral("Save the rows shown, with a header line, as a tab-separated text file"));
    auto *close = new QPushButton(QStringLiteral("C&lose"), this);
    close->setObjectName(QStringLiteral("CmdClose"));
    close->setDefault(true);

    connect(CheckOnlyProblems, &QCheckBox::toggled, this, &FormCheck::CheckOnlyProblems_Toggled);
    connect(copyRows, &QAction::triggered, this, &FormCheck::CmdCopy_Click);
    connect(copy, &QPushButton::clicked, this, &FormCheck::CmdCopy_Click);
    connect(save, &QPushButton::clicked, this, &FormCheck::CmdSave_Click);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(CheckOnlyProblems);
    bottom->addStretch();
    bottom->addWidget(copy);
    bottom->addWidget(save);
    bottom->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(TableCheck, 1);
    layout->addLayout(bottom);

    setWindowTitle(QStringLiteral("Check before writing"));
    resize(900, 480);
    CheckOnlyProblems->setChecked(onlyProblems && CheckOnlyProblems->isEnabled());
}

bool FormCheck::onlyProblems() const
{
    // A check without problems cannot filter, and must not make the window forget the choice.
    return CheckOnlyProblems->isEnabled() ? CheckOnlyProblems->isChecked() : onlyProblemsAsked;
}

void FormCheck::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && TableCheck)
        markProblemRows();
}

void FormCheck::markProblemRows()
{
    const QBrush background(problemBackground(palette().color(QPalette::Base)));
    const QBrush text = palette().brush(QPalette::Text);
    for (int r = 0; r < TableCheck->rowCount(); ++r) {
        if (TableCheck->item(r, ProblemsColumn)->text().isEmpty())
            continue;
        for (int c = 0; c < TableCheck->columnCount(); ++c) {
            TableCheck->item(r, c)->setBackground(background);
            TableCheck->item(r, c)->setForeground(text);
        }
    }
}

void FormCheck::CheckOnlyProblems_Toggled(bool only)
{
    for (int r = 0; r < TableCheck->rowCount(); ++r)
        TableCheck->setRowHidden(r, only && TableCheck->item(r, ProblemsColumn)->text().isEmpty());
}

QString FormCheck::rowsAsText(bool selectedOnly, bool withHeader) const
{
    const int columns = TableCheck->columnCount();
    QStringList lines;
    if (withHeader) {
        QStringList header;
        for (int c = 0; c < columns; ++c)
            header << field(TableCheck->horizontalHeaderItem(c));
        lines << header.join(QLatin1Char('\t'));
    }
    for (int r = 0; r < TableCheck->rowCount(); ++r) {
        if (TableCheck->isRowHidden(r) || (selectedOnly && !TableCheck->selectionModel()->isRowSelected(r)))
            continue;
        QStringList fields;
        for (int c = 0; c < columns; ++c)
            fields << field(TableCheck->item(r, c));
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void FormCheck::CmdCopy_Click()
{
    const bool selected = !TableCheck->selectionModel()->selectedRows().isEmpty();
    QGuiApplication::clipboard()->setText(rowsAsText(selected, false));
}

void FormCheck::CmdSave_Click()
{
    const std::optional<QString> path =
        ui.chooseSaveFile(this, {QStringLiteral("Tab-separated text file (*.txt)")}, suggestedFile);
    if (!path)
        return;
    // As the export writes its data files, so that a spreadsheet opens it the same way. Cells hold
    // no line breaks, so every "\n" ends a line.
    const QByteArray bytes = "\xEF\xBB\xBF" + rowsAsText(false, true).replace(QLatin1Char('\n'), QStringLiteral("\r\n")).toUtf8();
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) < 0 || !file.commit())
        ui.message(this, QStringLiteral("Cannot write file %1:\n%2.")
                             .arg(QDir::toNativeSeparators(*path), file.errorString()));
}
