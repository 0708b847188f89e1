#include "ui/formabout.h"

#include "ui/appicon.h"
#include "ui/uiservices.h"

#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QFrame *separatorLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

FormAbout::FormAbout(UiServices &ui, RegistryAccess &registry, FileExistsTest fileExists, QWidget *parent)
    : QDialog(parent),
      ui(ui),
      registry(registry),
      fileExists(fileExists ? std::move(fileExists) : [](const QString &path) { return QFileInfo(path).isFile(); }),
      picIcon(new QLabel(this)),
      lblTitle(new QLabel(this)),
      lblVersion(new QLabel(this)),
      lblDescription(new QLabel(QStringLiteral("App Description"), this)),
      lblDisclaimer(new QLabel(QStringLiteral("Warning: ..."), this)),
      cmdOK(new QPushButton(QStringLiteral("&OK"), this)),
      cmdSysInfo(new QPushButton(QStringLiteral("&System Info..."), this))
{
    setObjectName(QStringLiteral("FormAbout"));
    picIcon->setObjectName(QStringLiteral("picIcon"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));

    picIcon->setPixmap(ApplicationIcon().pixmap(48, 48));
    lblTitle->setText(ApplicationTitle);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblVersion->setText(QStringLiteral("Version " BRINDLEWAY_VERSION));
    lblDisclaimer->setWordWrap(true);
    cmdOK->setDefault(true);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &FormAbout::StartSysInfo);

    auto *texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addWidget(lblDescription);
    texts->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(separatorLine(this));
    layout->addLayout(bottom);
    layout->addWidget(separatorLine(this));

    setWindowTitle(QStringLiteral("About ") + ApplicationTitle);
}

void FormAbout::StartSysInfo()
{
    const std::optional<QString> tool = findSysInfo();
    if (!tool || !ui.startProgram(*tool))
        ui.message(this, SysInfoUnavailableMessage);
}

std::optional<QString> FormAbout::findSysInfo()
{
    QString path;
    if (GetKeyValue(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                    QStringLiteral("PATH"), path))
        return path;
    QString location;
    if (!GetKeyValue(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                     QStringLiteral("MSINFO"), location))
        return std::nullopt;
    path = location + QStringLiteral("\\MSINFO32.EXE");
    if (!fileExists(path))
        return std::nullopt;
    return path;
}

bool FormAbout::GetKeyValue(RegistryAccess::Key KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                            QString &KeyVal)
{
    KeyVal.clear();
    const std::optional<RegistryAccess::Key> key = registry.openKey(KeyRoot, KeyName, RegistryReadAccess);
    if (!key)
        return false;
    quint32 type = 0;
    QByteArray data;
    const bool read = registry.queryValue(*key, SubKeyRef, type, data, RegistryValueCapacity);
    registry.closeKey(*key);
    // Only string values name a path; other types are not read.
    if (!read || type != RegistryStringType)
        return false;
    data.truncate(RegistryValueCapacity);
    if (data.endsWith('\0'))
        data.chop(1);
    KeyVal = QString::fromLocal8Bit(data);
    return true;
}
