#pragma once

#include "engine/batchline.h"
#include "engine/metadata/tagreading.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class ImageFormat;

// Which files of a folder the export lists, and the data file their tags
// make; the tags themselves are read in the workers.

// Whether the export reads the tags of images of this format in the file
// itself; camera raw files and HEIF are read from their XMP sidecars.
bool ExportReads(ImageFormat format);

// A file of the folder that the export does not list, and why: UnknownType,
// SourceNotAFile, SourceMissing (a link to nothing), TemporaryName, or
// ReadFailed for a camera raw file or HEIF image without a sidecar.
struct LeftOutFile {
    QString name;
    Note why;
};

// The files of `folder` (not its subfolders), in name order: the images the
// export lists (those of a type it reads, camera raw files and HEIF images
// with a sidecar, and those that cannot be opened to tell, whose reading
// then says why), and every other file but the sidecars read for them.
struct ExportListing {
    QStringList images;
    QList<LeftOutFile> leftOut;
};
ExportListing ExportableImages(const QString &folder);

// The data file for the images: the file name, then one column for each
// field some image holds (every field with `allFields`), headed as the
// window names them; columnSlots gives each column's slot.
struct ExportTable {
    QStringList header;
    QList<QStringList> rows;
    QList<int> columnSlots; // FileNameSlot for the first
};
ExportTable BuildExportTable(const QStringList &names, const QList<ImageTags> &tags, bool allFields);
