#pragma once

#include <QByteArray>

class SourceImage;

// The longer side of a thumbnail the check shows, in pixels.
inline constexpr int ThumbnailSide = 160;

// A small picture of the source for the check to show beside its line:
// its embedded EXIF thumbnail, made again by the image library where it is
// installed, else the image made small by it; JPEG bytes of at most
// MaxThumbnailBytes, empty when there is none to be had. For a worker only:
// the source's bytes go to Exiv2 and to the image library. No picture is
// made of an image that declares more than `maxMegapixels`.
QByteArray Thumbnail(const SourceImage &source, int maxMegapixels);
