#pragma once

#include "engine/batchline.h"
#include "model/appstate.h"
#include "model/codepage.h"
#include "model/problem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <QByteArray>

#include <functional>
#include <memory>
#include <set>

enum class ImageType : int;

inline const QString NoEntriesMessage = QStringLiteral("No entires in IPTC datafile");
inline const QString SamePathMessage = QStringLiteral("Open path must differ from save path");
inline const QString UnknownImageMessage = QStringLiteral("the file is not an image of a known type");

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
    bool reencode = false; // decode and encode each image instead of writing its tags only
    int maxMegapixels = 200; // re-encoding refuses an image whose header declares more
    int workers = 0;         // worker processes at most; 0 for one per core
    int lineSeconds = 600;   // a line still unwritten after this long fails, and its worker is stopped
};

struct LineProblem {
    int line = 0;     // data line number, 1-based
    QString fileName; // the name the file-name slot gave
    QString reason;   // for the user, one line
};

struct BatchResult {
    Problem refusal;  // why the run did not start
    int lines = 0;    // data lines in the file
    int tagged = 0;   // images loaded and given their tags
    int saved = 0;    // outputs written
    QList<LineProblem> skipped;  // image missing, unreadable, or name refused
    QList<LineProblem> failed;   // save failed
    QList<LineProblem> warnings; // saved, but not in full: untagged, a value cut, a damaged source...
    bool stopped = false;        // the caller asked to stop before the last line

    bool refused() const { return bool(refusal); }
    bool allTaggedAndSaved() const
    {
        return !refused() && !stopped && skipped.isEmpty() && failed.isEmpty() && warnings.isEmpty();
    }
};

// The engine's per-run state: the paths of the line in hand. Owned by the
// application next to AppState; the decoded image itself lives only where
// the line is written.
struct BatchState {
    QString ImageFile;
    QString SaveFile;
    bool Busy = false; // a run is in progress
};

// Called while the run waits for its images to be written, to let pending
// window events be processed. Returns false to stop handing out lines: those
// in hand are finished, the rest left.
using YieldCallback = std::function<bool()>;

// Why a run (or a check) of app may not start; empty when it may.
Problem RunRefusal(const BatchState &state, const AppState &app);

// Runs the selected scheme (app.SelectedScheme) over every data line of
// app.Data, reading images from app.ImagePath and saving into app.SavePath.
// Refusals come back in BatchResult::refusal; nothing is shown from here.
BatchResult BatchTag(BatchState &state, const AppState &app, const BatchOptions &options,
                     ProgressSink *progress, const YieldCallback &yield);

inline const QString NoSchemeMessage = QStringLiteral("Select a parsing scheme before starting the batch");
inline const QString BusyMessage = QStringLiteral("A batch run is already in progress");
inline const QString NoFolderMessage = QStringLiteral("Choose both an image folder and a save folder");
// %1 the worker program, %2 why it could not be started.
inline const QString NoWorkerMessage = QStringLiteral("Cannot start the image worker %1:\n%2.");

// What one run works from, copied when it starts so that nothing the window
// changes during the run's event processing reaches it.
struct BatchRun {
    AppState app;
    BatchOptions options;
    std::set<std::pair<unsigned long long, unsigned long long>> sourceFiles; // device, inode of every line's source
    QStringList fileNames; // the file-name slot's value for each data line, entry L - 1

    BatchRun(const AppState &app, const BatchOptions &options);
    const ParsingScheme &scheme() const { return app.Schemes.Schemes[app.SelectedScheme + 1]; }
    const QString &fileName(int L) const { return fileNames[L - 1]; }
    // Whether the data file was read in a Unicode encoding.
    bool unicodeData() const { return IsUnicode(app.Data.Encoding); }
};

// The values of tag slots 1 to 23 for line L, in slot order; slots without
// a value are left out.
QList<TagValue> TagValuesFor(const BatchRun &run, int L);

// The output path for line L, or why the line may not be written.
struct OutputTarget {
    QString path;
    Problem refusal;
    QString name; // the path below the save folder, "/"-separated

    // The same for every spelling of one output ("./a.jpg", "sub//a.jpg").
    QString key() const;
};
OutputTarget OutputTargetFor(const BatchRun &run, int L);

// Everything about data line L that the run decides before touching its
// image, evaluated once: what it reads, what it writes and which values.
struct LinePlan {
    int line = 0;
    QString name;   // the file-name slot's value
    QString source; // the image folder joined with the name
    OutputTarget output;
    QList<TagValue> values;
    Problem problem; // why the line is skipped without reading its image
};
LinePlan PlanLine(const BatchRun &run, int L);

// What every line of a run shares with the code that writes it.
struct LineSettings {
    QString saveFolder;
    bool reencode = false;
    bool unicodeData = false; // the data file was read in a Unicode encoding
    int maxMegapixels = 200;  // see BatchOptions
};
LineSettings LineSettingsFor(const BatchRun &run);

struct SaveOutcome {
    enum Status { Saved, SavedWithWarnings, Failed, Skipped };
    Status status = Failed;
    Problem reason; // for Failed and Skipped, and the warnings of SavedWithWarnings
};

// Writes the output of a planned line whose plan has no problem: the
// source's bytes with new metadata (tags only), or the image decoded, tagged
// and encoded again in its source's type. Skipped when the source is no
// image that mode can use, or when re-encoding an image whose header
// declares more pixels than the limit. Runs in a worker process (workerpool.h),
// which keeps `memory` from line to line.
class XmpMemory;
SaveOutcome WritePlannedLine(const LinePlan &plan, const LineSettings &settings, XmpMemory *memory = nullptr);
