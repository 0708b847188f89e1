#include "ui/uiservices.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

void QtUiServices::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtUiServices::ask(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, ApplicationTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {
std::optional<QString> chooseFile(QWidget *parent, const QStringList &filters, QFileDialog::FileMode fileMode,
                                  QFileDialog::AcceptMode acceptMode)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(fileMode);
    dialog.setAcceptMode(acceptMode);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}
} // namespace

std::optional<QString> QtUiServices::chooseOpenFile(QWidget *parent, const QStringList &filters)
{
    return chooseFile(parent, filters, QFileDialog::ExistingFile, QFileDialog::AcceptOpen);
}

std::optional<QString> QtUiServices::chooseSaveFile(QWidget *parent, const QStringList &filters)
{
    return chooseFile(parent, filters, QFileDialog::AnyFile, QFileDialog::AcceptSave);
}

std::optional<QString> QtUiServices::chooseFolder(QWidget *parent, const QString &title)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

int QtUiServices::execDialog(QDialog &dialog)
{
    return dialog.exec();
}

bool QtUiServices::startProgram(const QString &program)
{
    return QProcess::startDetached(program, {});
}
