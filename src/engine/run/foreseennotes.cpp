#include "engine/run/foreseennotes.h"

#include "engine/metadata/metadataedit.h"
#include "engine/worker/reencode.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"

QList<Note> ForeseenNotes(const SourceImage &source, const TagEdit &edit, bool reencode, int maxMegapixels)
{
    QList<Note> notes;
    if (reencode && ReencodingCovers(source.format())) {
        if (Note refusal = ReencodeRefusal(source, maxMegapixels))
            return {refusal};
    }
    if (const QString why = UntaggedBecause(source.format()); !why.isEmpty())
        return {{NoteCode::WrittenWithoutTags, {why}}};
    if (const QString damage = SourceDamage(source); !damage.isEmpty())
        notes.append({NoteCode::SourceDamaged, {damage}});
    if (HoldsNoImage(source))
        notes.append({NoteCode::NoImage, {}});
    if (edit.values.isEmpty())
        return notes;
    if (Note refusal = TagsRefusal(source))
        return {refusal};
    const TagHomes homes = TagPlaceOf(source.format()) == TagPlace::XmpOnly ? TagHomes::XmpOnly : TagHomes::IptcAndXmp;
    const FoundMetadata found = ReadTagBlocks(source);
    if (found.refusal)
        return {found.refusal};
    return notes + ValueNotes(found, edit, homes, FormatName(source.format()));
}
