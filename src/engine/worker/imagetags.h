#pragma once

#include "engine/metadata/tagreading.h"

#include <QString>

class SourceImage;

// Reading an image's tags back for the export, in a worker.

// An image's tags: its container's own blocks, IPTC and XMP reconciled;
// `unicodeData` as ReadTagSlots takes it. Parses the XMP packet, so it runs
// where a library's fault costs only this image.
ImageTags ReadImageTags(const SourceImage &source, bool unicodeData = false);
// The same for the file at `path`, opened as a run's worker opens a source.
ImageTags ReadImageTagsAt(const QString &path, bool unicodeData);
