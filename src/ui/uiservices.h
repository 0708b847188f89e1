#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QWidget;

// Everything modal or outside the program goes through here, so tests can
// answer it without a window ever blocking.
class UiServices {
public:
    virtual ~UiServices() = default;

    // A modal box with a single OK button, no icon, captioned "Brindleway".
    virtual void message(QWidget *parent, const QString &text) = 0;

    // A modal question with Yes and No, No the default; true for Yes.
    virtual bool ask(QWidget *parent, const QString &text) = 0;

    // A file-open chooser offering `filters` in order ("Name (*.ext)" each),
    // opening in the folder `startIn`; nullopt on cancel, else the chosen
    // file's full path.
    virtual std::optional<QString> chooseOpenFile(QWidget *parent, const QStringList &filters,
                                                  const QString &startIn) = 0;

    // A file-save chooser offering `filters` and the path `suggested`; it
    // adds the suggestion's extension to a name typed without one and asks
    // before it replaces a file. nullopt on cancel, else the chosen path.
    virtual std::optional<QString> chooseSaveFile(QWidget *parent, const QStringList &filters,
                                                  const QString &suggested) = 0;

    // A chooser of existing folders titled `title`, opening at `startIn`; nullopt on cancel.
    virtual std::optional<QString> chooseFolder(QWidget *parent, const QString &title, const QString &startIn) = 0;

    // Runs `dialog` modally and returns its result code.
    virtual int execDialog(QDialog &dialog) = 0;

    // Starts another program, detached; false when it could not be started.
    virtual bool startProgram(const QString &program) = 0;
};

class QtUiServices : public UiServices {
public:
    void message(QWidget *parent, const QString &text) override;
    bool ask(QWidget *parent, const QString &text) override;
    std::optional<QString> chooseOpenFile(QWidget *parent, const QStringList &filters,
                                          const QString &startIn) override;
    std::optional<QString> chooseSaveFile(QWidget *parent, const QStringList &filters,
                                          const QString &suggested) override;
    std::optional<QString> chooseFolder(QWidget *parent, const QString &title, const QString &startIn) override;
    int execDialog(QDialog &dialog) override;
    bool startProgram(const QString &program) override;
};

inline const QString ApplicationTitle = QStringLiteral("Brindleway");
