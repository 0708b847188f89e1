#include "ui/formproblems.h"

#include "ui/uiservices.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidget>
#include <QVBoxLayout>

FormProblems::FormProblems(const QString &summary, const QList<ProblemGroup> &groups, const QString &suggestedFile,
                           UiServices &ui, QWidget *parent)
    : QDialog(parent), summary(summary), groups(groups), suggestedFile(suggestedFile), ui(ui)
{
    setObjectName(QStringLiteral("FormProblems"));
    auto *label = new QLabel(summary, this);
    label->setObjectName(QStringLiteral("LabelSummary"));
    label->setWordWrap(true);
    TreeProblems = new QTreeWidget(this);
    TreeProblems->setObjectName(QStringLiteral("TreeProblems"));
    TreeProblems->setHeaderHidden(true);
    TreeProblems->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const ProblemGroup &group : groups) {
        QTreeWidgetItem *parentItem = nullptr;
        if (!group.heading.isEmpty()) {
            parentItem = new QTreeWidgetItem(TreeProblems, {group.heading});
            parentItem->setData(0, Qt::UserRole, group.code);
            parentItem->setFirstColumnSpanned(true);
        }
        for (const QString &line : group.lines) {
            auto *item = parentItem ? new QTreeWidgetItem(parentItem, {line}) : new QTreeWidgetItem(TreeProblems, {line});
            item->setToolTip(0, line);
        }
    }
    TreeProblems->expandAll();
    CmdCopy = new QPushButton(QStringLiteral("&Copy"), this);
    CmdCopy->setObjectName(QStringLiteral("CmdCopy"));
    CmdSave = new QPushButton(QStringLiteral("&Save as text..."), this);
    CmdSave->setObjectName(QStringLiteral("CmdSave"));
    CmdClose = new QPushButton(QStringLiteral("C&lose"), this);
    CmdClose->setObjectName(QStringLiteral("CmdClose"));
    CmdClose->setDefault(true);

    connect(CmdCopy, &QPushButton::clicked, this, &FormProblems::CmdCopy_Click);
    connect(CmdSave, &QPushButton::clicked, this, &FormProblems::CmdSave_Click);
    connect(CmdClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CmdCopy);
    buttons->addWidget(CmdSave);
    buttons->addStretch();
    buttons->addWidget(CmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(TreeProblems, 1);
    layout->addLayout(buttons);

    setWindowTitle(QStringLiteral("Problem lines"));
    resize(720, 420);
}

QString FormProblems::text() const
{
    QString text = summary + QLatin1Char('\n');
    for (const ProblemGroup &group : groups) {
        const QString indent = group.heading.isEmpty() ? QString() : QStringLiteral("  ");
        if (!group.heading.isEmpty())
            text += group.heading + QLatin1Char('\n');
        for (const QString &line : group.lines)
            text += indent + line + QLatin1Char('\n');
    }
    return text;
}

void FormProblems::CmdCopy_Click()
{
    QGuiApplication::clipboard()->setText(text());
}

void FormProblems::CmdSave_Click()
{
    const std::optional<QString> path = ui.chooseSaveFile(this, {QStringLiteral("Text file (*.txt)")}, suggestedFile);
    if (!path)
        return;
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text().toUtf8()) < 0 || !file.commit())
        ui.message(this, QStringLiteral("Cannot write file %1:\n%2.")
                             .arg(QDir::toNativeSeparators(*path), file.errorString()));
}
