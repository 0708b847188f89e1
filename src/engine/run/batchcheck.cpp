#include "engine/run/batchcheck.h"

#include "engine/run/foreseennotes.h"
#include "engine/run/lineplanner.h"
#include "engine/worker/linewriter.h"
#include "engine/metadata/metadataedit.h"
#include "engine/platform/savefolder.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmppacket.h"
#include "engine/metadata/xmpsidecar.h"
#include "model/appstate.h"

#include <QDir>
#include <QHash>

#include <algorithm>

namespace {
// What the check foresees for a line before its outputs are put in place.
struct Foreseen {
    QList<Note> notes;             // as the worker would refuse the line, or as the writer will speak of it
    std::optional<TagPlace> place; // where its tags go, once its source is open
    bool sidecar = false;          // a sidecar will be written beside the copy
};

// A photo whose tags go beside it: what making its sidecar will say. An
// existing sidecar is read as the worker reads it, but only checked to be
// XML here, since parsing it as XMP is for a worker to risk; the values
// alone tell the rest.
Foreseen foreseenSidecar(const LinePlan &plan, const TagEdit &edit)
{
    if (!plan.sidecarSource.isEmpty()) {
        const SidecarFile existing = ReadSidecarFile(plan.sidecarSource);
        if (existing.failure)
            return {{existing.failure}, TagPlace::Sidecar, false};
        if (!existing.bytes.trimmed().isEmpty() && !ReadableXmp(existing.bytes))
            return {{{NoteCode::MetadataUnwritable, {UnreadableSidecarText}}}, TagPlace::Sidecar, false};
        const QList<Note> notes = edit.values.isEmpty() ? QList<Note>() : ValueNotes({}, edit, TagHomes::XmpOnly, SidecarFormatName);
        return {notes, TagPlace::Sidecar, true};
    }
    // Without an existing sidecar nothing of the file's is read: the writer itself tells.
    XmpMemory memory;
    const SidecarOutcome made = WriteSidecar(nullptr, edit, memory);
    const bool written = made.outcome.written() && !made.bytes.isEmpty();
    return {made.outcome.notes, made.outcome.written() && !written ? TagPlace::Nowhere : TagPlace::Sidecar, written};
}

Foreseen foreseen(const LinePlan &plan, const LineSettings &settings)
{
    if (plan.problem)
        return {{plan.problem}, {}, false};
    SourceImage source;
    if (Note why = OpenLineSource(source, plan.source))
        return {{why}, {}, false};
    const TagEdit edit{plan.values, settings.unicodeData};
    const TagPlace place = TagPlaceOf(source.format());
    if (place == TagPlace::Sidecar && !plan.sidecar.isEmpty())
        return foreseenSidecar(plan, edit);
    return {ForeseenNotes(source, edit, settings.reencode, settings.maxMegapixels), place, false};
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
    if (const QString refusal = OpenSaveFolder(folder, app.SavePath); !refusal.isEmpty()) {
        check.refusal = refusal;
        return check;
    }
    const LinePlanner planner(app, options, folder);
    const LineSettings settings = planner.settings();
    QHash<QString, int> writtenBy; // output key -> the row of the last line that will write it
    for (int L = 1; L <= planner.lines(); ++L) {
        CheckedLine line{planner.plan(L), {}, {}};
        const LinePlan &plan = line.plan;
        const Foreseen seen = foreseen(plan, settings);
        line.notes = seen.notes;
        line.place = seen.place;
        if (!written(line.notes)) {
            line.place.reset();
        } else {
            if (plan.blanks)
                line.notes.append(plan.blanks);
            // As the run will find the outputs when it puts this line's in place.
            if (plan.outputExists || writtenBy.contains(plan.outputKey))
                line.notes.append(ReplacedNote(writtenBy, plan.outputKey, {}));
            if (seen.sidecar && plan.sidecarNote)
                line.notes.append(plan.sidecarNote);
            if (seen.sidecar && (plan.sidecarExists || writtenBy.contains(plan.sidecarKey)))
                line.notes.append(ReplacedNote(writtenBy, plan.sidecarKey, plan.sidecar));
            writtenBy.insert(plan.outputKey, plan.row);
            if (seen.sidecar)
                writtenBy.insert(plan.sidecarKey, plan.row);
        }
        check.lines.append(std::move(line));
    }
    return check;
}
