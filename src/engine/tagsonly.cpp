#include "engine/tagsonly.h"

#include "engine/exiv2writer.h"
#include "engine/sourceimage.h"

namespace {
// Until every container has its own writer, the earlier writer's words ride along.
LineOutcome outcomeOf(const WriteOutcome &written)
{
    if (written.failure)
        return LineOutcome::failed({NoteCode::MetadataUnwritable, {written.failure.text()}});
    QList<Note> notes;
    for (const QString &warning : written.warnings)
        notes.append({NoteCode::MetadataLost, {warning}});
    return LineOutcome::saved(notes);
}
} // namespace

LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, int out, XmpMemory &memory)
{
    return outcomeOf(WriteTagsLossless(source.path(), out, edit.values, edit.unicodeData, &memory));
}
