#include "ui/formproblems.h"

#include "ui/uiservices.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

FormProblems::FormProblems(const QString &summary, const QStringList &lines, const QString &suggestedFile,
                           UiServices &ui, QWidget *parent)
    : QDialog(parent), summary(summary), lines(lines), suggestedFile(suggestedFile), ui(ui)
{
    setObjectName(QStringLiteral("FormProblems"));
    auto *label = new QLabel(summary, this);
    label->setObjectName(QStringLiteral("LabelSummary"));
    label->setWordWrap(true);
    TextProblems = new QPlainTextEdit(lines.join(QLatin1Char('\n')), this);
    TextProblems->setObjectName(QStringLiteral("TextProblems"));
    TextProblems->setReadOnly(true);
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
    layout->addWidget(TextProblems, 1);
    layout->addLayout(buttons);

    setWindowTitle(QStringLiteral("Problem lines"));
    resize(720, 420);
}

QString FormProblems::text() const
{
    return summary + QLatin1Char('\n') + lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
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
