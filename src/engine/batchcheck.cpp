#include "engine/batchcheck.h"

#include "engine/foreseennotes.h"
#include "engine/lineplanner.h"
#include "engine/linewriter.h"
#include "engine/savefolder.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "model/appstate.h"

#include <QDir>
#include <QHash>

#include <algorithm>

namespace {
// The notes of a line before its output is put in place: as the worker
// would refuse it, or as the writer will speak of it.
QList<Note> foreseen(const LinePlan &plan, const LineSettings &settings, std::optional<TagPlace> &place)
{
    if (plan.problem)
        return {plan.problem};
    SourceImage source;
    if (Note why = OpenLineSource(source, plan.source))
        return {why};
    place = TagPlaceOf(source.format());
    return ForeseenNotes(source, TagEdit{plan.values, settings.unicodeData}, settings.reencode, settings.maxMegapixels);
}

bool written(const QList<Note> &notes)
{
    return std::all_of(notes.begin(), notes.end(),
                       [](const Note &note) { return StatusOf(note.code) == LineStatus::SavedWithWarnings; });
}
} // namespace

qsizetype BatchCheck::problemLines() const
{
    return std::count_if(lines.begin(), lines.end(), [](const CheckedLine &line) { return !line.notes.isEmpty(); });
}

BatchCheck CheckBatch(const AppState &app, const BatchOptions &options)
{
    BatchCheck check;
    if ((check.refusal = RunRefusal(app)))
        return check;
    SaveFolder folder;
    if (const QString why = folder.open(app.SavePath); !why.isEmpty()) {
        check.refusal = SaveFolderMessage.arg(QDir::toNativeSeparators(app.SavePath), why);
        return check;
    }
    const LinePlanner planner(app, options, folder);
    const LineSettings settings = planner.settings();
    QHash<QString, int> writtenBy; // output key -> the row of the last line that will write it
    for (int L = 1; L <= planner.lines(); ++L) {
        CheckedLine line{planner.plan(L), {}, {}};
        const LinePlan &plan = line.plan;
        line.notes = foreseen(plan, settings, line.place);
        if (!written(line.notes)) {
            line.place.reset();
        } else {
            // As the run will find the outputs when it puts this line's in place.
            if (plan.outputExists || writtenBy.contains(plan.outputKey))
                line.notes.append(ReplacedNote(writtenBy, plan.outputKey, {}));
            if (!plan.sidecar.isEmpty() && (plan.sidecarExists || writtenBy.contains(plan.sidecarKey)))
                line.notes.append(ReplacedNote(writtenBy, plan.sidecarKey, plan.sidecar));
            writtenBy.insert(plan.outputKey, plan.row);
            if (!plan.sidecar.isEmpty())
                writtenBy.insert(plan.sidecarKey, plan.row);
        }
        check.lines.append(std::move(line));
    }
    return check;
}
