#pragma once

#include <QString>

#include <utility>

// Why something was not done, or what the user should know of something
// that was: one line in the system's words. The model and the engine hand
// problems up; the window and the command line decide how to show them, and
// the kind names the cases they word their own way.
class Problem {
public:
    enum class Kind {
        None,        // nothing to say
        Stated,      // the text says it all
        MissingFile, // a file the user named is not there
        FileExists,  // what the user named is there already and would be replaced
    };

    Problem() = default;
    // A stated problem; an empty text is none.
    Problem(QString text) : what(text.isEmpty() ? Kind::None : Kind::Stated), words(std::move(text)) {}
    Problem(Kind kind, QString text) : what(kind), words(std::move(text)) {}

    explicit operator bool() const { return what != Kind::None; }
    Kind kind() const { return what; }
    const QString &text() const { return words; }

    friend bool operator==(const Problem &problem, const QString &text) { return problem.words == text; }

private:
    Kind what = Kind::None;
    QString words;
};
