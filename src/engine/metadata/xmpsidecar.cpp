#include "engine/metadata/xmpsidecar.h"

#include "engine/metadata/metadataedit.h"
#include "engine/platform/outputfile.h"
#include "engine/platform/sourcefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>


namespace {

// The packet without the padding XMP writers leave for edits in place, which a file of its own does not need.
QByteArray withoutPadding(const QByteArray &packet)
{
    const qsizetype trailer = packet.lastIndexOf("<?xpacket end=");
    if (trailer < 0)
        return packet;
    qsizetype end = trailer;
    while (end > 0 && (packet.at(end - 1) == ' ' || packet.at(end - 1) == '\n' || packet.at(end - 1) == '\r'
                       || packet.at(end - 1) == '\t'))
        --end;
    return packet.left(end) + '\n' + packet.mid(trailer);
}
} // namespace

QString SidecarName(const QString &imageName, SidecarNaming naming)
{
    const qsizetype slash = imageName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = imageName.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not an extension.
    if (naming == SidecarNaming::FullName || dot <= slash + 1)
        return imageName + QStringLiteral(".xmp");
    return imageName.left(dot) + QStringLiteral(".xmp");
}

QString ExistingSidecar(const QString &path, SidecarNaming preferred)
{
    const SidecarNaming other = preferred == SidecarNaming::Stem ? SidecarNaming::FullName : SidecarNaming::Stem;
    for (const SidecarNaming naming : {preferred, other}) {
        const QString name = SidecarName(path, naming);
        for (const QString &sidecar : {name, name.left(name.size() - 3) + QStringLiteral("XMP")}) {
            if (sidecar != path && QFileInfo(sidecar).isFile())
                return sidecar;
        }
    }
    return {};
}

SidecarFile ReadSidecarFile(const QString &path)
{
    SidecarFile file;
    SourceFile sidecar;
    if (const Note why = sidecar.open(path); why.code == NoteCode::SourceNotAFile) {
        file.failure = {NoteCode::ReadFailed, {QStringLiteral("the sidecar beside the image is no plain file")}};
    } else if (why) {
        file.failure = {NoteCode::ReadFailed, {why.details.value(0, SystemError(ENOENT))}};
    } else if (sidecar.size() > MaxSidecarBytes) {
        file.failure = {NoteCode::MetadataUnwritable,
                        {QStringLiteral("the sidecar beside the image is larger than %1 MB").arg(MaxSidecarBytes >> 20)}};
    } else {
        // Its size as it is now, and one byte more to see that it grew.
        file.bytes.resize(qsizetype(sidecar.size()) + 1);
        const qint64 got = ReadAt(sidecar.handle(), file.bytes.data(), file.bytes.size(), 0);
        if (got < 0)
            file.failure = {NoteCode::ReadFailed, {SystemError()}};
        else if (got > sidecar.size())
            file.failure = {NoteCode::ReadFailed, {QStringLiteral("the sidecar beside the image grew while it was read")}};
        file.bytes.truncate(std::max<qint64>(got, 0));
    }
    if (file.failure)
        file.bytes.clear();
    return file;
}

std::optional<SidecarNaming> SidecarNamingFrom(const QString &word)
{
    if (word.compare(QLatin1String("lightroom"), Qt::CaseInsensitive) == 0)
        return SidecarNaming::Stem;
    if (word.compare(QLatin1String("darktable"), Qt::CaseInsensitive) == 0)
        return SidecarNaming::FullName;
    return std::nullopt;
}

SidecarOutcome WriteSidecar(const QByteArray *existing, const TagEdit &edit, XmpMemory &memory)
{
    if (existing && existing->size() > MaxSidecarBytes)
        return {{}, LineOutcome::failed({NoteCode::MetadataUnwritable,
                                         {QStringLiteral("the sidecar beside the image is larger than %1 MB").arg(MaxSidecarBytes >> 20)}})};
    FoundMetadata found;
    if (existing && !existing->trimmed().isEmpty())
        found.xmpPackets.append(*existing);
    const EditedMetadata edited = EditMetadata(found, edit, TagHomes::XmpOnly, SidecarFormatName, memory);
    if (edited.refusal.code == NoteCode::XmpUnreadable)
        return {{}, LineOutcome::failed({NoteCode::MetadataUnwritable, {UnreadableSidecarText}})};
    if (edited.refusal)
        return {{}, LineOutcome::failed(edited.refusal)};
    if (!edited.xmpChanged)
        return {existing ? *existing : QByteArray(), LineOutcome::saved(edited.notes)};
    return {withoutPadding(edited.xmpPackets.value(0)), LineOutcome::saved(edited.notes)};
}
