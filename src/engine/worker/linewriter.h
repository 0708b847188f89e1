#pragma once

#include "engine/batchline.h"
#include "engine/platform/savefolder.h"
#include "engine/run/workerprotocol.h"

#include <QList>
#include <QString>

#include <map>
#include <memory>

class SourceImage;
class XmpMemory;
struct SidecarOutcome;

// A worker's side of a line: the source opened once, the output written
// into a temporary in the save folder by the container writers, and the
// answer. The temporary stays, locked, until the run has put it in place.

// Opens a line's source as the worker does; why the line cannot be
// written from it (the check asks the same), none when it can.
Note OpenLineSource(SourceImage &source, const QString &path);

class LineWriter {
public:
    // Opens the run's save folder, which must still be the one the run opened.
    explicit LineWriter(const LineSettings &settings);
    ~LineWriter();
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    WorkerAnswer write(const LinePlan &plan);
    // Does what write() does up to the write itself, which goes nowhere:
    // no temporary is made and nothing is kept. The answer carries where
    // the tags would go and a thumbnail of the image.
    WorkerAnswer check(const LinePlan &plan);
    // Lets go of the temporaries of `lines`: the run put them in place or gave them up.
    void release(const QList<int> &lines);

private:
    WorkerAnswer line(const LinePlan &plan, bool checking);
    // A checked line that would be written: its place, and its thumbnail when asked for one.
    WorkerAnswer &checked(WorkerAnswer &answer, const SourceImage &source, TagPlace place) const;
    // Writes the line's sidecar into `temporary` (left empty when the line
    // writes none; none to only make its bytes); the sidecar's outcome, or
    // why it could not be written.
    SidecarOutcome writeSidecar(const LinePlan &plan, const TagEdit &edit, const FileIdentity &sourceIdentity,
                                std::unique_ptr<OutputTemporary> *temporary);

    LineSettings settings;
    SaveFolder folder;
    Note folderProblem; // why no line can be written into the folder
    std::unique_ptr<XmpMemory> memory;
    std::multimap<int, std::unique_ptr<OutputTemporary>> held; // by line: its output, and its sidecar's
    int sink = -1; // where a checked line's bytes go
};
