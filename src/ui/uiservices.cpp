#include "ui/uiservices.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

void QtUiServices::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, parent);
    // Paths and names from files are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtUiServices::ask(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, ApplicationTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {
std::optional<QString> chooseFile(QWidget *parent, const QStringList &filters, QFileDialog::FileMode fileMode,
                                  QFileDialog::AcceptMode acceptMode, const QString &path)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(fileMode);
    dialog.setAcceptMode(acceptMode);
    dialog.setNameFilters(filters);
    if (acceptMode == QFileDialog::AcceptSave) {
        dialog.selectFile(path);
        dialog.setDefaultSuffix(QFileInfo(path).suffix());
    } else if (!path.isEmpty()) {
        dialog.setDirectory(path);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}
} // namespace

std::optional<QString> QtUiServices::chooseOpenFile(QWidget *parent, const QStringList &filters,
                                                   const QString &startIn)
{
    return chooseFile(parent, filters, QFileDialog::ExistingFile, QFileDialog::AcceptOpen, startIn);
}

std::optional<QString> QtUiServices::chooseSaveFile(QWidget *parent, const QStringList &filters,
                                                   const QString &suggested)
{
    return chooseFile(parent, filters, QFileDialog::AnyFile, QFileDialog::AcceptSave, suggested);
}

std::optional<QString> QtUiServices::chooseFolder(QWidget *parent, const QString &title, const QString &startIn)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, title, startIn, QFileDialog::ShowDirsOnly);
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
