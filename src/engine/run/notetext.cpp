#include "engine/run/notetext.h"

#include "model/xmpfields.h"

namespace {
QString detail(const Note &note, qsizetype i)
{
    return i < note.details.size() ? note.details.at(i) : QString();
}
} // namespace

QString NoteText(const Note &note, Tense tense)
{
    const auto d = [&note](qsizetype i) { return detail(note, i); };
    const auto said = [tense](const char *past, const char *future) {
        return QString::fromLatin1(tense == Tense::Past ? past : future);
    };
    switch (note.code) {
    case NoteCode::None:
    case NoteCode::EndOfNoteCodes:
        return {};
    case NoteCode::NoFileName:
        return QStringLiteral("the line gives no file name");
    case NoteCode::AbsoluteName:
        return QStringLiteral("the file name is an absolute path");
    case NoteCode::NameHoldsDotDot:
        return QStringLiteral("the file name holds \"..\", which saving does not follow");
    case NoteCode::NameHoldsControl:
        return QStringLiteral("the file name holds the control character %1").arg(d(0));
    case NoteCode::NameNotFileName:
        return QStringLiteral("the name does not end in a file name");
    case NoteCode::TemporaryName:
        return QStringLiteral("the name is one a run gives the temporaries it writes, which the next run removes");
    case NoteCode::OutsideSaveFolder:
        return d(0).isEmpty() ? QStringLiteral("the output would lie outside the save folder")
                              : QStringLiteral("the output would lie outside the save folder: %1").arg(d(0));
    case NoteCode::OutputFolderMissing:
        return QStringLiteral("the folder %1 does not exist in the save folder").arg(d(0));
    case NoteCode::WouldReplaceSource:
        return QStringLiteral("the output would replace a source image");
    case NoteCode::OutputExists:
        return said("the output was already in the save folder, so it was left as it was",
                    "the output is already in the save folder and will be left as it is");
    case NoteCode::SidecarNameTaken:
        return QStringLiteral("the photo's sidecar would replace an output of row %1").arg(d(0));
    case NoteCode::SourceMissing:
        return QStringLiteral("the image file does not exist");
    case NoteCode::SourceNotAFile:
        return QStringLiteral("the name is not a file");
    case NoteCode::SourceUnreadable:
        return QStringLiteral("cannot read the image: %1").arg(d(0));
    case NoteCode::AmbiguousName:
        return QStringLiteral("the name matches more than one file: %1").arg(note.details.join(QStringLiteral(", ")));
    case NoteCode::UnknownType:
        return QStringLiteral("the file is not an image of a known type");
    case NoteCode::TooManyPixels: {
        const QString page = d(2).toInt() > 0 ? QStringLiteral(" (page %1)").arg(d(2)) : QString();
        return QStringLiteral("the image declares %1 megapixels%2, more than the limit of %3").arg(d(0), page, d(1));
    }
    case NoteCode::ReadFailed:
        return QStringLiteral("cannot read the image: %1").arg(d(0));
    case NoteCode::WriteFailed:
        return QStringLiteral("cannot write the file: %1").arg(d(0));
    case NoteCode::SaveFolderChanged:
        return QStringLiteral("the save folder was replaced during the run; nothing was written there");
    case NoteCode::OutputInTheWay:
        if (d(0) == QLatin1String("link"))
            return QStringLiteral("a symbolic link of that name is in the way");
        if (d(0) == QLatin1String("folder"))
            return QStringLiteral("a folder of that name is in the way");
        if (d(0) == QLatin1String("read-only"))
            return QStringLiteral("the existing file is read-only");
        return QStringLiteral("something that is not a plain file is in the way");
    case NoteCode::MetadataUnwritable:
        return QStringLiteral("the metadata cannot be written: %1").arg(d(0));
    case NoteCode::BlockTooLarge:
        return QStringLiteral("the new %1 (%2 bytes) does not fit in this file, which holds at most %3 bytes there")
            .arg(d(0), d(1), d(2));
    case NoteCode::ReencodeRefused:
        return d(0);
    case NoteCode::ReencodeUnavailable:
        return QStringLiteral("re-encoding needs the FreeImage library, which is not installed");
    case NoteCode::DecodeFailed:
        return QStringLiteral("the image could not be read");
    case NoteCode::EncodeFailed:
        return QStringLiteral("the image library could not encode the image");
    case NoteCode::WorkerStopped:
        return QStringLiteral("the image could not be processed: the worker stopped (%1 %2)").arg(d(0), d(1));
    case NoteCode::WorkerTimedOut:
        return QStringLiteral("the image could not be processed: it took longer than %1 seconds").arg(d(0));
    case NoteCode::WorkerGarbled:
        return QStringLiteral("the image could not be processed: the worker gave an answer that could not be read");
    case NoteCode::WorkerUnavailable:
        return QStringLiteral("the image could not be processed: no worker could be started (%1)").arg(d(0));
    case NoteCode::ValueCut:
        return said("%1 cut from %2 to %3 bytes to fit IPTC (the XMP holds it whole)",
                    "%1 will be cut from %2 to %3 bytes to fit IPTC (the XMP will hold it whole)")
            .arg(d(0), d(1), d(2));
    case NoteCode::ValueNotWritten:
        return said("%1 \"%2\" is not %3, so it was written nowhere", "%1 \"%2\" is not %3, so it will be written nowhere")
            .arg(d(0), d(1), d(2));
    case NoteCode::SourceDamaged:
        return QStringLiteral("the source image itself is damaged: %1").arg(d(0));
    case NoteCode::NoImage:
        return QStringLiteral("the file holds metadata but no image");
    case NoteCode::XmpUnreadable:
        if (note.details.isEmpty())
            return said("the image's XMP packet cannot be read, so it was left as it was; the IPTC was written",
                        "the image's XMP packet cannot be read, so it will be left as it is; the IPTC will be written");
        return said("the image's XMP packet cannot be read (%1), so it was left as it was; the IPTC was written",
                    "the image's XMP packet cannot be read (%1), so it will be left as it is; the IPTC will be written")
            .arg(d(0));
    case NoteCode::WrittenWithoutTags:
        return said("written without tags: %1", "will be written without tags: %1").arg(d(0));
    case NoteCode::FieldsWithoutHome:
        return said("%1 has no place for %2, which were not written", "%1 has no place for %2, which will not be written")
            .arg(d(0), note.details.mid(1).join(QStringLiteral(", ")));
    case NoteCode::ReplacedLine:
        if (note.details.size() > 1)
            return said("the sidecar %2 replaced that of row %1", "the sidecar %2 will replace that of row %1").arg(d(0), d(1));
        return said("replaced the output of row %1", "will replace the output of row %1").arg(d(0));
    case NoteCode::ReplacedFile:
        if (!note.details.isEmpty())
            return said("replaced the existing sidecar %1", "will replace the existing sidecar %1").arg(d(0));
        return said("replaced an existing file", "will replace an existing file");
    case NoteCode::SidecarNamedInFull:
        return QStringLiteral("the sidecar is named %1 in full, since %2 has the name it would have by the stem").arg(d(0), d(1));
    case NoteCode::MetadataLost:
        return d(0);
    case NoteCode::ValueOutOfForm:
        return said("%1 \"%2\" breaks the rule for a %3, so it was written nowhere",
                    "%1 \"%2\" breaks the rule for a %3, so it will be written nowhere")
            .arg(d(0), d(1), d(2));
    case NoteCode::FieldsLeftBlank: {
        QStringList fields;
        for (qsizetype i = 0; i + 1 < note.details.size(); i += 2) {
            const QString columns = note.details.at(i + 1);
            fields << QStringLiteral("%1 (column%2 %3)")
                          .arg(note.details.at(i), columns.contains(QLatin1Char(',')) ? QStringLiteral("s") : QString(),
                               QString(columns).replace(QLatin1Char(','), QStringLiteral(", ")));
        }
        return said("the line has no column for %1, so it was left blank", "the line has no column for %1, so it will be left blank")
            .arg(fields.join(QStringLiteral("; ")));
    }
    }
    return {};
}

QString NotesText(const QList<Note> &notes, Tense tense)
{
    QStringList texts;
    for (const Note &note : notes)
        texts << NoteText(note, tense);
    return texts.join(QStringLiteral("; "));
}

QString TagPlaceText(TagPlace place)
{
    switch (place) {
    case TagPlace::IptcAndXmp:
        return QStringLiteral("IPTC and XMP");
    case TagPlace::XmpOnly:
        return QStringLiteral("XMP only");
    case TagPlace::Sidecar:
        return QStringLiteral("XMP sidecar");
    case TagPlace::Nowhere:
        break;
    }
    return QStringLiteral("no tags");
}

QString TagReadNoteText(const TagReadNote &note)
{
    const auto d = [&note](qsizetype i) { return note.details.value(i); };
    const std::string_view label = note.slot >= 1 && note.slot <= SlotCount ? slotInfo(note.slot).label : "";
    const QString field = isXmpSlot(note.slot) ? XmpFieldLabel(note.slot) : QString::fromLatin1(label.data(), qsizetype(label.size()));
    switch (note.code) {
    case TagReadCode::Disagrees:
        return QStringLiteral("%1: IPTC and XMP differ, and the %2 value \"%3\" was left out").arg(field, d(0), d(1));
    case TagReadCode::Repeated:
        return QStringLiteral("%1 holds %2 values, joined with \";\" into one").arg(field, d(0));
    case TagReadCode::ListItemSplit:
        return QStringLiteral("%1: the item \"%2\" is empty or holds \";\", so it will not come back as one item").arg(field, d(0));
    case TagReadCode::NotUtf8:
        return QStringLiteral("%1: the IPTC says UTF-8 but the value is not, and its bad bytes read as U+FFFD").arg(field);
    case TagReadCode::OverLimit:
        return QStringLiteral("%1: the IPTC value already takes %2 bytes, over the field's limit of %3, so a run cuts it")
            .arg(field, d(0), d(1));
    case TagReadCode::GrowsInUtf8:
        return QStringLiteral("%1: a run writes this IPTC in UTF-8, where the value takes %2 bytes, over the field's "
                              "limit of %3, so it is cut")
            .arg(field, d(0), d(1));
    case TagReadCode::DateForm:
        return QStringLiteral("%1: the XMP date %2 has no IPTC form, so a run writes it nowhere").arg(field, d(0));
    case TagReadCode::Refused:
        if (note.slot == FileNameSlot)
            return QStringLiteral("a run cannot find the image by its name, which holds \"\\\" or a control character");
        return QStringLiteral("%1 \"%2\" is not in its IPTC form, so a run writes it nowhere").arg(field, d(0));
    case TagReadCode::XmpUnreadable:
        return QStringLiteral("the XMP cannot be read, so only the IPTC was exported");
    case TagReadCode::OtherIimBlock:
        return QStringLiteral("%1: another IPTC block of the file holds \"%2\", which a run drops").arg(field, d(0));
    case TagReadCode::SpreadsheetFormula:
        return QStringLiteral("%1: a spreadsheet takes \"%2\" for a formula unless the data file's columns are opened "
                              "as text")
            .arg(field, d(0));
    case TagReadCode::EndOfTagReadCodes:
        break;
    }
    return {};
}
