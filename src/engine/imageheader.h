#pragma once

#include "engine/freeimagelayer.h"

#include <QString>

#include <optional>

// The number of pixels the header of the image at `path` declares, read
// without decoding them, so that a hostile size is refused before the
// decoder reserves its memory. nullopt when the library cannot read a
// header alone for this type, or cannot read this one.
std::optional<qint64> DeclaredPixels(ImageType type, const QString &path);
