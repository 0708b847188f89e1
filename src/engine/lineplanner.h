#pragma once

#include "engine/batchline.h"
#include "model/appstate.h"
#include "model/problem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <set>

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

// Why a run or a check of `app` may not start, in the order the user would
// fix them; none when it may.
Problem RunRefusal(const AppState &app);

// Plans the lines of one run of app's selected scheme. Works from its own
// copy of what it reads, so that nothing changed during the run reaches it.
class LinePlanner {
public:
    // `folder` is the run's open save folder and must outlive the planner.
    LinePlanner(const AppState &app, const BatchOptions &options, const SaveFolder &folder);

    int lines() const { return app.Data.LastDataLine; }
    LinePlan plan(int line) const;
    LineSettings settings() const;
    // Every line's source that exists: no output may replace one.
    const std::set<FileIdentity> &sources() const { return sourceFiles; }
    // Every line's output name, to sweep the folders they lead into.
    QStringList outputNames() const;

private:
    QList<TagValue> valuesFor(int line) const;

    AppState app;
    BatchOptions options;
    const SaveFolder &folder;
    QStringList fileNames; // the file-name slot's value for each data line, entry L - 1
    std::set<FileIdentity> sourceFiles;
};
