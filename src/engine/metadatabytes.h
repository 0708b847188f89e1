#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Byte-level work on image files that the metadata library gets wrong or
// does not do. Every offset and length read from a file is checked.

enum class FileKind { Jpeg, Tiff, BigTiff, Png, Other };

FileKind KindOf(const unsigned char *data, qsizetype size);

// Why the source's image data is damaged; empty when nothing is seen wrong.
QString SourceDamage(const unsigned char *data, qsizetype size, FileKind kind);

// Photoshop image resources: the IIM block of an IPTC resource.
inline constexpr quint16 IptcResource = 0x0404;

// What PrepareJpeg hid from the library and must be put back afterwards.
struct JpegPreparation {
    // Of the segments that wear a mask once readied, in file order: whether
    // readying put it on (a source may hold one that looks masked already).
    QList<bool> ours;
    bool xmpHeld = false;          // the one XMP segment, held back from the library
    QByteArray xmpPacket;          // its packet
    QList<QByteArray> extraIptc;   // IIM blocks of further IPTC resources, taken out
    bool fotoStationIptc = false;  // a FotoStation trailer holds IPTC
    QByteArray trailerIptc;        // its IIM block
};

// Readies a JPEG for the metadata library: ICC and EXIF segments are masked
// so that the library neither validates nor rewrites them (it refuses files
// whose profile it cannot parse, re-encodes some maker notes wrongly, and
// neither is any business of ours). A JPEG's only XMP segment is masked too,
// its packet handed to the caller, which can parse it once for many files;
// the library then writes the caller's packet in its own place. IPTC
// resources after the first are taken out, since the library updates only
// the first. `bytes` is changed in place when nothing is taken out;
// otherwise `rebuilt` receives the new file.
JpegPreparation PrepareJpeg(unsigned char *bytes, qsizetype size, QByteArray *rebuilt);

// Undoes the masking in the library's output (a held XMP segment goes, the
// library having written the new packet), and makes every IPTC copy
// current: the Photoshop digest (when `digest` is set) and a FotoStation
// trailer's IPTC, which gets `iim`. `tail` receives what replaces the bytes
// from `*keep` on (the rewritten trailer); *keep is the size otherwise.
void FinishJpeg(unsigned char *bytes, qsizetype size, const JpegPreparation &preparation, const QByteArray &iim,
                const QByteArray &digest, qsizetype *keep, QByteArray *tail);

// The FotoStation trailer of a JPEG with `iim` as its IPTC: `tail` receives
// what replaces the bytes from the returned offset on (`size` when the file
// has no trailer).
qsizetype RewriteFotoStationTrailer(const unsigned char *bytes, qsizetype size, const QByteArray &iim,
                                    QByteArray *tail);

// Where a JPEG's first SOS marker lies, when the segments before it are
// whole; -1 otherwise.
qsizetype JpegScanStart(const unsigned char *data, qsizetype size);

// Puts `digest` (16 bytes, MD5) over the IPTC digest resource of a block of
// Photoshop image resources. False when the block has none.
bool SetIptcDigest(unsigned char *block, qsizetype size, const QByteArray &digest);

struct IimDataset {
    int record = 0;
    int dataset = 0;
    QByteArray bytes;
};

// The datasets of an IIM block, up to the first byte that starts none.
QList<IimDataset> ParseIim(const QByteArray &block);

// Whether the Photoshop resources of a classic TIFF's first directory hold
// an IPTC resource.
bool TiffResourcesHoldIptc(const unsigned char *data, qsizetype size);

// Takes the IPTC resource out of the Photoshop resources of a classic
// TIFF's first directory, in place.
void DropTiffResourceIptc(unsigned char *data, qsizetype size);

// Renames the metadata entries of a TIFF's first page (XMP, IPTC, Photoshop
// resources, ICC profile) so that the image library's decoder does not read
// them: its TIFF loader reads a freed ICC profile beside EXIF, and crashes
// on some IPTC entries. The caller carries the first page's metadata over
// itself; later pages keep theirs.
void HideFirstTiffMetadata(unsigned char *data, qsizetype size);

// The colour components of a JPEG's first frame, each with its horizontal
// and vertical sampling factors; no components when there is no frame.
struct JpegFrame {
    QList<QPair<int, int>> sampling;
    int components() const { return int(sampling.size()); }
};
JpegFrame JpegFrameOf(const unsigned char *data, qsizetype size);

// A re-encoded JPEG: the encoded image's frame (tables, frame header, scans)
// with every APPn and COM segment of the source around it, byte for byte,
// and whatever followed the source's image (a FotoStation trailer). The
// source's JFIF segment is kept, else the encoded one; the Adobe segment is
// the encoded one, since it describes the encoded colour transform. Empty,
// with `*why`, when either file cannot be walked.
QByteArray ComposeJpeg(QByteArrayView source, QByteArrayView encoded, QString *why);

// A re-encoded PNG: the encoded IHDR, PLTE, tRNS and IDAT with every
// ancillary chunk of the source in its place. Empty, with `*why`, when the
// encoded image is stored in another colour type or bit depth, so that the
// source's chunks (gamma, profile, significant bits) would no longer fit.
QByteArray ComposePng(QByteArrayView source, QByteArrayView encoded, QString *why);

// How one page of a classic TIFF stores its samples.
struct TiffPageForm {
    int photometric = -1;
    int samples = 1; // per pixel
    int bits = 1;    // per sample, of the first
    bool operator==(const TiffPageForm &) const = default;
};
QList<TiffPageForm> TiffPageForms(const unsigned char *data, qsizetype size);

// "16-bit RGB", "8-bit CMYK"... for the user.
QString DescribeTiffForm(const TiffPageForm &form);
