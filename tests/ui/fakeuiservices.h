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
    // Answers to the choosers; a null string cancels.
    std::deque<QString> fileAnswers;
    std::deque<QString> folderAnswers;
    std::deque<QString> saveAnswers;
    QStringList startedAt; // where each chooser opened, or the name it suggested
    // Each handler gets the dialog about to run modally and returns its
    // result code; with none queued a dialog is rejected at once.
    std::deque<std::function<int(QDialog &)>> dialogHandlers;

    void message(QWidget *, const QString &text) override { messages.append(text); }
    bool ask(QWidget *, const QString &text) override
    {
        questions.append(text);
        return next(answers);
    }
    std::optional<QString> chooseOpenFile(QWidget *, const QStringList &, const QString &at) override
    {
        return chosen(next(fileAnswers), at);
    }
    std::optional<QString> chooseSaveFile(QWidget *, const QStringList &, const QString &at) override
    {
        return chosen(next(saveAnswers), at);
    }
    std::optional<QString> chooseFolder(QWidget *, const QString &, const QString &at) override
    {
        return chosen(next(folderAnswers), at);
    }
    int execDialog(QDialog &dialog) override
    {
        const auto handler = next(dialogHandlers);
        return handler ? handler(dialog) : int(QDialog::Rejected);
    }
    bool startProgram(const QString &program) override
    {
        messages.append("started " + program);
        return true;
    }

private:
    // The queue's first entry, taken off; a default one when it is empty.
    template <class T> static T next(std::deque<T> &queue)
    {
        T first = queue.empty() ? T() : std::move(queue.front());
        if (!queue.empty())
            queue.pop_front();
        return first;
    }
    std::optional<QString> chosen(const QString &answer, const QString &at)
    {
        startedAt.append(at);
        return answer.isNull() ? std::nullopt : std::optional<QString>(answer);
    }
};
