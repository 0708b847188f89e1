#include "engine/freeimagelayer.h"

#include "model/tagslots.h"

#include <QFile>

#include <FreeImage.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

static_assert(int(ImageType::Unknown) == FIF_UNKNOWN);
static_assert(int(ImageType::Bmp) == FIF_BMP);
static_assert(int(ImageType::Jpeg) == FIF_JPEG);
static_assert(int(ImageType::Png) == FIF_PNG);
static_assert(int(ImageType::Tiff) == FIF_TIFF);
static_assert(int(ImageType::Gif) == FIF_GIF);

namespace {
// The library's own spelling of each dataset the tag slots write. It knows
// eight of them only under these names; any other spelling becomes a bogus
// dataset 2:255 beside the real one.
struct LibraryKey {
    int dataset;           // IIM record-2 dataset number
    std::string_view key;  // the library's key for it
};

constexpr std::array<LibraryKey, 23> LibraryKeys{{
    {5, "ObjectName"},
    {10, "Urgency"},
    {15, "Category"},
    {20, "SupplementalCategories"},
    {25, "Keywords"},
    {30, "ReleaseDate"},
    {40, "SpecialInstructions"},
    {55, "DateCreated"},
    {60, "TimeCreated"},
    {65, "OriginatingProgram"},
    {80, "By-line"},
    {85, "By-lineTitle"},
    {90, "City"},
    {95, "Province-State"},
    {100, "Country-PrimaryLocationCode"},
    {101, "Country-PrimaryLocationName"},
    {103, "OriginalTransmissionReference"},
    {105, "Headline"},
    {110, "Credit"},
    {115, "Source"},
    {116, "CopyrightNotice"},
    {120, "Caption-Abstract"},
    {122, "Writer-Editor"},
}};

constexpr int KeywordsDataset = slotInfo(KeywordsSlot).dataset;
constexpr int SupplementalCategoriesDataset = slotInfo(SupplementalCategorySlot).dataset;
constexpr int UrgencyDataset = 10;
constexpr int MaxIimLength = 0x7FFF; // a larger length needs the extended form

void ensureInitialised()
{
    struct Library {
        Library()
        {
            FreeImage_Initialise(FALSE);
            // The library's own reports are not for the user, and libtiff
            // would print its complaints about tags it does not know.
            TIFFSetErrorHandler(nullptr);
            TIFFSetWarningHandler(nullptr);
        }
        ~Library() { FreeImage_DeInitialise(); }
    };
    static Library library;
}

struct TagDeleter {
    void operator()(FITAG *tag) const { FreeImage_DeleteTag(tag); }
};
using TagHandle = std::unique_ptr<FITAG, TagDeleter>;

FIBITMAP *dib(const std::unique_ptr<void, FreeImageBitmapDeleter> &handle)
{
    return static_cast<FIBITMAP *>(handle.get());
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// The library's key for a key as the tag slots spell it (or the library's
// own key, which passes unchanged).
QByteArray libraryKeyFor(const QString &key)
{
    for (const TagSlotInfo &slot : TagSlots) {
        if (!slot.key.empty() && key == QLatin1String(slot.key.data(), qsizetype(slot.key.size())))
            return LibraryIptcKey(slot.dataset);
    }
    return key.toLatin1();
}

QList<QByteArray> splitList(const char *value)
{
    // The library cuts lists at ";" and stops at the first zero byte.
    return QByteArray(value).split(';');
}

QByteArray joinReversed(QList<QByteArray> parts)
{
    std::reverse(parts.begin(), parts.end());
    return parts.join(';');
}

void setAsciiValue(FITAG *tag, const QByteArray &value)
{
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagLength(tag, DWORD(value.size()));
    FreeImage_SetTagCount(tag, DWORD(value.size()));
    FreeImage_SetTagValue(tag, value.constData());
}

// The library builds its IPTC block by prepending each dataset, so lists
// come out in reverse. Handing it the lists reversed gives the file the
// value's own order; restore() puts memory back as it was.
class ListOrderForWriter {
public:
    explicit ListOrderForWriter(FIBITMAP *bitmap) : bitmap(bitmap)
    {
        for (int dataset : {KeywordsDataset, SupplementalCategoriesDataset}) {
            const QByteArray key = LibraryIptcKey(dataset);
            FITAG *tag = nullptr;
            if (!FreeImage_GetMetadata(FIMD_IPTC, bitmap, key.constData(), &tag) || !tag)
                continue;
            if (FreeImage_GetTagType(tag) != FIDT_ASCII || !FreeImage_GetTagValue(tag))
                continue;
            const char *value = static_cast<const char *>(FreeImage_GetTagValue(tag));
            const QList<QByteArray> parts = splitList(value);
            if (parts.size() < 2)
                continue;
            saved.push_back({key, QByteArray(value, qsizetype(FreeImage_GetTagLength(tag)))});
            setAsciiValue(tag, joinReversed(parts));
        }
    }
    ~ListOrderForWriter()
    {
        for (const auto &[key, value] : saved) {
            FITAG *tag = nullptr;
            if (FreeImage_GetMetadata(FIMD_IPTC, bitmap, key.constData(), &tag) && tag)
                setAsciiValue(tag, value);
        }
    }
    ListOrderForWriter(const ListOrderForWriter &) = delete;
    ListOrderForWriter &operator=(const ListOrderForWriter &) = delete;

private:
    FIBITMAP *bitmap;
    std::vector<std::pair<QByteArray, QByteArray>> saved;
};

void appendDataset(QByteArray &block, int dataset, QByteArrayView value)
{
    const qsizetype length = std::min<qsizetype>(value.size(), MaxIimLength);
    block.append(char(0x1C));
    block.append(char(0x02));
    block.append(char(dataset));
    block.append(char((length >> 8) & 0xFF));
    block.append(char(length & 0xFF));
    block.append(value.first(length));
}

// The IPTC block the library means to write for this image: the record
// version, then every ASCII record-2 entry, lists split into one dataset per
// item in their own order, the urgency cut to its one octet.
QByteArray buildIptcBlock(FIBITMAP *bitmap)
{
    struct Entry {
        int dataset;
        QByteArray value;
    };
    std::vector<Entry> entries;
    FITAG *tag = nullptr;
    FIMETADATA *search = FreeImage_FindFirstMetadata(FIMD_IPTC, bitmap, &tag);
    if (!search)
        return {};
    do {
        const WORD id = FreeImage_GetTagID(tag);
        const int dataset = id & 0xFF;
        if ((id >> 8) != 2 || dataset == 0 || dataset == 0xFF)
            continue;
        if (FreeImage_GetTagType(tag) != FIDT_ASCII || !FreeImage_GetTagValue(tag))
            continue;
        const char *value = static_cast<const char *>(FreeImage_GetTagValue(tag));
        if (isListDataset(dataset)) {
            for (const QByteArray &item : splitList(value))
                entries.push_back({dataset, item});
            continue;
        }
        QByteArray bytes(value, qsizetype(FreeImage_GetTagLength(tag)));
        if (dataset == UrgencyDataset)
            bytes.truncate(1);
        entries.push_back({dataset, bytes});
    } while (FreeImage_FindNextMetadata(search, &tag));
    FreeImage_FindCloseMetadata(search);

    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.dataset < b.dataset; });
    QByteArray block;
    appendDataset(block, 0, QByteArray("\x00\x02", 2));
    for (const Entry &entry : entries)
        appendDataset(block, entry.dataset, entry.value);
    return block;
}

// The library hands libtiff the IPTC length in 32-bit words where libtiff
// now counts bytes, so the file keeps only a quarter of the block. Put the
// whole block in place of what it wrote.
// The library's TIFF loader takes the ICC profile from a directory buffer that
// reading the EXIF directory has already freed, so a TIFF with both comes in
// with a profile of stale bytes. Take the profile from libtiff instead.
void restoreTiffIccProfile(FIBITMAP *bitmap, const QString &path)
{
    TIFF *tiff = TIFFOpen(nativePath(path).constData(), "r");
    if (!tiff)
        return;
    uint32_t size = 0;
    void *data = nullptr;
    FreeImage_DestroyICCProfile(bitmap);
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) == 1 && data && size > 0)
        FreeImage_CreateICCProfile(bitmap, data, long(size));
    TIFFClose(tiff);
}

bool rewriteTiffIptc(const QString &path, const QByteArray &block)
{
    QByteArray padded = block;
    while (padded.size() % 4 != 0)
        padded.append('\0');
    ensureInitialised();
    TIFF *tiff = TIFFOpen(nativePath(path).constData(), "r+");
    if (!tiff)
        return false;
    bool ok = TIFFSetField(tiff, TIFFTAG_RICHTIFFIPTC, uint32_t(padded.size()), padded.constData()) == 1;
    ok = ok && TIFFRewriteDirectory(tiff) == 1;
    TIFFClose(tiff);
    return ok;
}
} // namespace

void FreeImageBitmapDeleter::operator()(void *bitmap) const
{
    FreeImage_Unload(static_cast<FIBITMAP *>(bitmap));
}

ImageType Bitmap::DetectType(const QString &path)
{
    ensureInitialised();
    return ImageType(FreeImage_GetFileType(nativePath(path).constData(), 0));
}

Bitmap Bitmap::Load(ImageType type, const QString &path, int flags)
{
    ensureInitialised();
    Bitmap bitmap;
    bitmap.handle.reset(FreeImage_Load(FREE_IMAGE_FORMAT(type), nativePath(path).constData(), flags));
    if (bitmap.handle && type == ImageType::Tiff)
        restoreTiffIccProfile(dib(bitmap.handle), path);
    return bitmap;
}

bool Bitmap::AttachIptcAscii(const QString &key, const QByteArray &value)
{
    if (!handle)
        return false;
    TagHandle tag(FreeImage_CreateTag());
    if (!tag)
        return false;
    const QByteArray libraryKey = libraryKeyFor(key);
    FreeImage_SetTagID(tag.get(), 0);
    FreeImage_SetTagType(tag.get(), FIDT_ASCII);
    FreeImage_SetTagKey(tag.get(), libraryKey.constData());
    FreeImage_SetTagLength(tag.get(), DWORD(value.size()));
    FreeImage_SetTagCount(tag.get(), DWORD(value.size()));
    if (!FreeImage_SetTagValue(tag.get(), value.constData()))
        return false;
    return FreeImage_SetMetadata(FIMD_IPTC, dib(handle), libraryKey.constData(), tag.get());
}

QByteArray Bitmap::XmpPacket() const
{
    FITAG *tag = nullptr;
    if (!handle || !FreeImage_GetMetadata(FIMD_XMP, dib(handle), "XMLPacket", &tag) || !tag
        || !FreeImage_GetTagValue(tag))
        return {};
    QByteArray packet(static_cast<const char *>(FreeImage_GetTagValue(tag)), qsizetype(FreeImage_GetTagLength(tag)));
    while (packet.endsWith('\0'))
        packet.chop(1);
    return packet;
}

bool Bitmap::SetXmpPacket(const QByteArray &packet)
{
    if (!handle)
        return false;
    TagHandle tag(FreeImage_CreateTag());
    if (!tag)
        return false;
    FreeImage_SetTagKey(tag.get(), "XMLPacket");
    FreeImage_SetTagType(tag.get(), FIDT_ASCII);
    FreeImage_SetTagLength(tag.get(), DWORD(packet.size()));
    FreeImage_SetTagCount(tag.get(), DWORD(packet.size()));
    if (!FreeImage_SetTagValue(tag.get(), packet.constData()))
        return false;
    return FreeImage_SetMetadata(FIMD_XMP, dib(handle), "XMLPacket", tag.get());
}

bool Bitmap::Save(ImageType type, const QString &path, int flags)
{
    if (!handle)
        return false;
    FIBITMAP *bitmap = dib(handle);
    const bool hasIptc = FreeImage_GetMetadataCount(FIMD_IPTC, bitmap) > 0;
    const QByteArray tiffBlock = (type == ImageType::Tiff && hasIptc) ? buildIptcBlock(bitmap) : QByteArray();
    {
        ListOrderForWriter order(bitmap);
        if (!FreeImage_Save(FREE_IMAGE_FORMAT(type), bitmap, nativePath(path).constData(), flags))
            return false;
    }
    if (!tiffBlock.isEmpty())
        return rewriteTiffIptc(path, tiffBlock);
    return true;
}

bool WritesXmp(ImageType type)
{
    return type == ImageType::Jpeg || type == ImageType::Tiff || type == ImageType::Png;
}

bool WritesIptc(ImageType type)
{
    return type == ImageType::Jpeg || type == ImageType::Tiff;
}

QByteArray LibraryIptcKey(int dataset)
{
    for (const LibraryKey &entry : LibraryKeys) {
        if (entry.dataset == dataset)
            return QByteArray(entry.key.data(), qsizetype(entry.key.size()));
    }
    return {};
}
