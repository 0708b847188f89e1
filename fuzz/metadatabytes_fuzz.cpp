// Whatever an image file holds: the byte-level readers stay inside it, and
// readying a JPEG for the metadata library is undone exactly by finishing
// it, save for the one XMP segment held back, which goes.
#include "engine/metadatabytes.h"
#include "fuzzcheck.h"

#include <cstdint>
#include <cstring>

namespace {
// Segment lengths reach 64 KB; longer inputs only slow each run down.
constexpr size_t MaxInput = 256 * 1024;

QByteArray withoutHeldXmp(const QByteArray &file)
{
    // Walks the segments as a JPEG reader would, up to the first scan.
    const auto *bytes = reinterpret_cast<const unsigned char *>(file.constData());
    const QByteArray signature("http://ns.adobe.com/xap/1.0/\0", 29);
    qsizetype pos = 2;
    while (pos + 4 <= file.size() && bytes[pos] == 0xFF) {
        const unsigned char marker = bytes[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const qsizetype end = pos + 2 + ((bytes[pos + 2] << 8) | bytes[pos + 3]);
        if (end < pos + 4 || end > file.size())
            break;
        if (marker == 0xE1 && file.mid(pos + 4, signature.size()) == signature)
            return file.left(pos) + file.mid(end);
        pos = end;
    }
    return file;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput)
        return -1;
    const QByteArray original(reinterpret_cast<const char *>(input), qsizetype(size));
    QByteArray file = original;
    auto *bytes = reinterpret_cast<unsigned char *>(file.data());
    const FileKind kind = KindOf(bytes, file.size());
    SourceDamage(bytes, file.size(), kind);
    JpegFrameOf(bytes, file.size());
    TiffPageForms(bytes, file.size());
    TiffResourcesHoldIptc(bytes, file.size());
    for (const IimDataset &dataset : ParseIim(original))
        Require(dataset.bytes.size() <= original.size(), "a dataset is longer than its block");
    QByteArray tail;
    Require(RewriteFotoStationTrailer(bytes, file.size(), "iim", &tail) <= file.size(), "a trailer starts past the end");
    QString why;
    ComposeJpeg(original, original, &why);
    ComposePng(original, original, &why);

    QByteArray rebuilt;
    const JpegPreparation preparation = PrepareJpeg(bytes, file.size(), &rebuilt);
    qsizetype scan = JpegScanStart(bytes, file.size());
    Require(scan < file.size(), "the scan starts past the end");
    if (rebuilt.isEmpty()) {
        qsizetype keep = 0;
        FinishJpeg(bytes, file.size(), preparation, {}, {}, &keep, &tail);
        Require(keep <= file.size(), "finishing kept more than there is");
        if (!preparation.fotoStationIptc) {
            const QByteArray expected = preparation.xmpHeld ? withoutHeldXmp(original) : original;
            Require(file.left(keep) == expected, "finishing did not undo what readying did");
        }
    }

    QByteArray tiff = original;
    DropTiffResourceIptc(reinterpret_cast<unsigned char *>(tiff.data()), tiff.size());
    HideFirstTiffMetadata(reinterpret_cast<unsigned char *>(tiff.data()), tiff.size());
    Require(tiff.size() == original.size(), "a TIFF changed size in place");
    return 0;
}
