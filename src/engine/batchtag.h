#pragma once

#include "model/appstate.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

inline const QString NoEntriesMessage = QStringLiteral("No entires in IPTC datafile");
inline const QString SamePathMessage = QStringLiteral("Open path must differ from save path");

// The main window's progress bar as the run drives it.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setValue(double value) = 0;
    virtual void setMax(double max) = 0;
    virtual void setVisible(bool visible) = 0;
};

enum class SaveOption {
    Replace,        // the output keeps the source's name
    AppendFileName, // appendText goes before the extension: img001.jpg -> img001IPTC.jpg
};

struct BatchOptions {
    SaveOption saveOption = SaveOption::Replace;
    QString appendText; // the main window's Text1
    bool lossless = false;
};

struct LineProblem {
    int line = 0;     // data line number, 1-based
    QString fileName; // the name the file-name slot gave
    QString reason;   // for the user, one line
};

struct BatchResult {
    QString refusal;  // non-empty when the run did not start: the message to show
    int lines = 0;    // data lines in the file
    int tagged = 0;   // images loaded and given their tags
    int saved = 0;    // outputs written
    QList<LineProblem> skipped;          // image missing, unreadable, or name refused
    QList<LineProblem> failed;           // save failed
    QList<LineProblem> savedWithoutTags; // saved, but in a format that carries no IPTC
    bool stopped = false;                // the caller asked to stop before the last line

    bool refused() const { return !refusal.isEmpty(); }
    bool allTaggedAndSaved() const
    {
        return !refused() && !stopped && skipped.isEmpty() && failed.isEmpty() && savedWithoutTags.isEmpty();
    }
};

// The engine's per-run state: the paths of the line in hand and the one
// image held. Owned by the application next to AppState.
struct BatchState {
    BatchState();
    ~BatchState();
    BatchState(const BatchState &) = delete;
    BatchState &operator=(const BatchState &) = delete;

    QString ImageFile;
    QString SaveFile;
    struct Image;                       // the library's bitmap, released by its owner
    std::unique_ptr<Image> CurrentImage; // null when none is held
    bool Busy = false;                   // a run is in progress
};

// Called once per image just before it is saved, to let pending window
// events be processed. Returns false to stop the run after this image.
using YieldCallback = std::function<bool()>;

// Runs the selected scheme (app.SelectedScheme) over every data line of
// app.Data, reading images from app.ImagePath and saving into app.SavePath.
// Refusals come back in BatchResult::refusal; nothing is shown from here.
BatchResult BatchTag(BatchState &state, const AppState &app, const BatchOptions &options,
                     ProgressSink *progress, const YieldCallback &yield);
