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
    QStringList questions;
    std::deque<bool> answers; // to questions; No when none is queued
    QStringList startedPrograms;
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    // Each handler gets the dialog about to run modally and returns its
    // result code; with none queued a dialog is rejected at once.
    std::deque<std::function<int(QDialog &)>> dialogHandlers;

    void message(QWidget *, const QString &text) override { messages.append(text); }
    bool ask(QWidget *, const QString &text) override
    {
        questions.append(text);
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return yes;
    }
    std::optional<QString> chooseOpenFile(QWidget *, const QStringList &) override { return take(fileAnswers); }
    std::optional<QString> chooseSaveFile(QWidget *, const QStringList &) override { return take(saveAnswers); }
    std::optional<QString> chooseFolder(QWidget *, const QString &) override { return take(folderAnswers); }
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
        return true;
    }

private:
    static std::optional<QString> take(std::deque<std::optional<QString>> &queue)
    {
        if (queue.empty())
            return std::nullopt;
        // Copying the optional itself trips a false -Wmaybe-uninitialized in GCC.
        const bool answered = queue.front().has_value();
        QString answer = answered ? std::move(*queue.front()) : QString();
        queue.pop_front();
        if (!answered)
            return std::nullopt;
        return answer;
    }
};
