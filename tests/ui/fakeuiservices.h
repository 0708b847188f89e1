#pragma once

#include "ui/uiservices.h"

#include <QDialog>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

// Pre-answered UiServices: records messages, hands out queued answers, and
// drives modal dialogs with queued handlers instead of an event loop.
class FakeUiServices : public UiServices {
public:
    QStringList messages;
    QStringList startedPrograms;
    QList<QStringList> fileFilters;
    QStringList folderTitles;
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    // Each handler gets the dialog about to run modally and returns its
    // result code; with none queued a dialog is rejected at once.
    std::deque<std::function<int(QDialog &)>> dialogHandlers;
    bool startSucceeds = true;

    void message(QWidget *, const QString &text) override { messages.append(text); }

    std::optional<QString> chooseOpenFile(QWidget *, const QStringList &filters) override
    {
        fileFilters.append(filters);
        return take(fileAnswers);
    }

    std::optional<QString> chooseFolder(QWidget *, const QString &title) override
    {
        folderTitles.append(title);
        return take(folderAnswers);
    }

    int execDialog(QDialog &dialog) override
    {
        if (dialogHandlers.empty())
            return QDialog::Rejected;
        auto handler = std::move(dialogHandlers.front());
        dialogHandlers.pop_front();
        return handler(dialog);
    }

    bool startProgram(const QString &program) override
    {
        startedPrograms.append(program);
        return startSucceeds;
    }

private:
    static std::optional<QString> take(std::deque<std::optional<QString>> &queue)
    {
        std::optional<QString> answer;
        if (queue.empty())
            return answer;
        answer.swap(queue.front());
        queue.pop_front();
        return answer;
    }
};
