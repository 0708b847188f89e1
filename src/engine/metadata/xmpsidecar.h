#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QString>

#include <optional>

class XmpMemory;

// How the notes of a sidecar name the place the tags went.
inline const QString SidecarFormatName = QStringLiteral("an XMP sidecar");
// Why a line fails whose existing sidecar cannot be read as XMP.
inline const QString UnreadableSidecarText = QStringLiteral("the sidecar beside the image cannot be read as XMP");
// A sidecar larger than this is no sidecar: a photo's own tags fit in a few kilobytes.
inline constexpr qsizetype MaxSidecarBytes = 64 << 20;

// XMP sidecars: the tags of a photo whose own file this program does not
// write (camera raw files, HEIF), in a file of their own beside it, as
// Lightroom, Bridge, Capture One, darktable and digiKam read them.

// The name of the sidecar of the image named `imageName` (a file name,
// or a path whose last part is one).
QString SidecarName(const QString &imageName, SidecarNaming naming);

// The sidecar that the image at `path` already has beside it, by the
// `preferred` naming first, then the other, each ending in .xmp or .XMP;
// empty when it has none (an image named like a sidecar is not its own).
QString ExistingSidecar(const QString &path, SidecarNaming preferred = SidecarNaming::Stem);

// The bytes of the sidecar at `path`, read without waiting on anything that
// is no plain file and refused above MaxSidecarBytes; why not, as a
// ReadFailed or MetadataUnwritable note, when they cannot be had.
struct SidecarFile {
    QByteArray bytes;
    Note failure;
};
SidecarFile ReadSidecarFile(const QString &path);

// The naming a word of the command line chooses: "lightroom" (Stem) or
// "darktable" (FullName), in any case; none for another word.
std::optional<SidecarNaming> SidecarNamingFrom(const QString &word);

struct SidecarOutcome {
    QByteArray bytes;    // the sidecar file; empty when there is nothing to write
    LineOutcome outcome; // Saved (with its notes) or Failed with why, when `bytes` are not to be written
};

// The sidecar a line makes: every value with an XMP home set in the
// existing sidecar `existing` (null when the photo has none), whose other
// properties and namespaces stay; a new sidecar when there is none. The
// fields XMP has no home for (Release Date, Originating Program) are named
// in a FieldsWithoutHome note, values the rules refuse in ValueNotWritten.
// The bytes are a standalone XMP file: UTF-8, in an xpacket wrapper. When
// the line sets nothing in XMP, they are the existing sidecar as it was.
// An existing sidecar that cannot be read as XMP fails the line, since its
// properties would be lost.
SidecarOutcome WriteSidecar(const QByteArray *existing, const TagEdit &edit, XmpMemory &memory);
