#pragma once

#include "engine/batchline.h"
#include "model/appstate.h"
#include "model/problem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <set>
#include <vector>

class SaveFolder;

// Planning a run's lines, the same for the run and for the check: the
// refusals that come before any line, and for each data line its source,
// its output and its values.

inline const QString NoEntriesMessage = QStringLiteral("No entires in IPTC datafile");
inline const QString SamePathMessage = QStringLiteral("Open path must differ from save path");
inline const QString NoFolderMessage = QStringLiteral("Choose both an image folder and a save folder");
inline const QString NoSchemeMessage = QStringLiteral("Select a parsing scheme before starting the batch");
// %1 the folder, %2 why.
inline const QString ImageFolderMessage = QStringLiteral("Cannot read the image folder %1: %2.");
inline const QString SaveFolderMessage = QStringLiteral("Cannot save into the folder %1: %2.");

// Data files written on Windows name subfolders with "\": on every platform
// that is a folder separator here.
QString NameAsRelativePath(const QString &name);

// Folder, one separator and the name, the name's "\" read as separators.
QString JoinFolderAndName(const QString &folder, const QString &name);

// The output's name for a source name under the chosen save option.
QString OutputName(const QString &name, const BatchOptions &options);

// Why a name from the data file may not be used below its folder: empty,
// holding a control character (a NUL would end it early), absolute, or
// holding ".." anywhere, which saving does not follow; none when it may.
Note NameRefusal(const QString &name);

// The warning for an output that replaced a file (with `sidecar`, the
// sidecar of that name): the output of an earlier line, as `writtenBy`
// (output key -> that line's row) tells, or a file there before the run.
Note ReplacedNote(const QHash<QString, int> &writtenBy, const QString &key, const QString &sidecar);

// Appends to a written line's `notes` what putting it in place adds, in the
// run and the check alike: the fields left blank, the files its output and
// its sidecar (when it has one) replace, and the sidecar's own note; then
// records in `writtenBy` that this line wrote them.
void AddPlacedNotes(QList<Note> &notes, const LinePlan &plan, bool sidecar, bool outputReplaces, bool sidecarReplaces,
                    QHash<QString, int> &writtenBy);

// Why a run or a check of `app` may not start, in the order the user would
// fix them; none when it may.
Problem RunRefusal(const AppState &app);

// Opens the save folder for a run or a check and makes sure a file can be
// made in it, so that a folder nothing can be saved into is refused before
// any line; the refusal's words, empty when it may be used.
QString OpenSaveFolder(SaveFolder &folder, const QString &path);

// Plans the lines of one run of app's selected scheme. Works from its own
// copy of what it reads, so that nothing changed during the run reaches it.
class LinePlanner {
public:
    // `folder` is the run's open save folder and must outlive the planner.
    LinePlanner(const AppState &app, const BatchOptions &options, const SaveFolder &folder);

    int lines() const { return linesOf(app); }
    LinePlan plan(int line) const;
    LineSettings settings() const { return settingsFor(app, options, folder); }
    // The same, before any line is planned.
    static int linesOf(const AppState &state) { return state.Data.LastDataLine; }
    static LineSettings settingsFor(const AppState &state, const BatchOptions &options, const SaveFolder &folder);
    // Every line's source that exists: no output may replace one.
    const std::set<FileIdentity> &sources() const { return sourceFiles; }
    // Every line's output name, to sweep the folders they lead into.
    QStringList outputNames() const;

private:
    // What a data line's name found in the image folder.
    struct Found {
        QString sheet;          // the file-name slot's value
        QString name;           // the file it means ("/"-separated); empty when ambiguous or refused
        QStringList candidates; // the files it could mean, when more than one
        bool besides = false;   // its tags go into a sidecar
        bool raw = false;       // a camera raw file, whose sidecar readers look for by its stem first
        QString sidecarSource;  // the sidecar it already has in the image folder
        QString sidecar;        // its new sidecar's name below the save folder
        Note sidecarProblem;    // why that sidecar may not be written
        Note sidecarNote;       // why it is named in full
        bool existed = false;   // its output was in the save folder when the run began
    };
    QList<TagValue> valuesFor(int line) const;
    Note blanksFor(int line) const;
    // Why the line's names may not be used; else `output` gets the output's name ("/"-separated).
    Note nameProblem(const Found &found, QString &output) const;
    // Names every sidecar so that none takes the name of a photo's copy
    // (`copies`: output key -> the row of the first line saving it) or of
    // another photo's sidecar: the photo whose sidecar would have a name
    // that a copy has, or that another photo's would have too, gets a
    // sidecar of its full name instead; a line whose sidecar still meets
    // another's is refused.
    void nameSidecars(const QHash<QString, int> &copies);
    // Why `output` may not be saved now; `exists` tells whether a file has its name.
    Note inspect(const QString &output, bool &exists) const;

    AppState app;
    BatchOptions options;
    const SaveFolder &folder;
    std::vector<Found> found; // entry L - 1 for data line L
    std::set<FileIdentity> sourceFiles;
};
