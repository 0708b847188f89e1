#include "engine/platform/freeimagelayer.h"

#include <QFile>

#include <cstdio>
#include <optional>
#include <type_traits>

#ifdef BRINDLEWAY_HAVE_FREEIMAGE
#include "engine/platform/librarylog.h"

#include <FreeImage.h>

#include <dlfcn.h>

static_assert(int(ImageType::Unknown) == FIF_UNKNOWN);
static_assert(int(ImageType::Bmp) == FIF_BMP);
static_assert(int(ImageType::Jpeg) == FIF_JPEG);
static_assert(int(ImageType::Png) == FIF_PNG);
static_assert(int(ImageType::Tiff) == FIF_TIFF);
static_assert(int(ImageType::Gif) == FIF_GIF);

namespace {
// The library is opened when first needed instead of linked: linked, it
// and the dozen libraries it brings cost every process (the run, each
// worker, the window) about 4 ms to start and 3.5 MB, and writing tags
// only never calls it.
struct FreeImageLibrary {
    decltype(&FreeImage_Initialise) Initialise = nullptr;
    decltype(&FreeImage_GetFileType) GetFileType = nullptr;
    decltype(&FreeImage_LoadFromMemory) LoadFromMemory = nullptr;
    decltype(&FreeImage_SaveToMemory) SaveToMemory = nullptr;
    decltype(&FreeImage_Unload) Unload = nullptr;
    decltype(&FreeImage_SetMetadata) SetMetadata = nullptr;
    decltype(&FreeImage_DestroyICCProfile) DestroyICCProfile = nullptr;
    decltype(&FreeImage_OpenMemory) OpenMemory = nullptr;
    decltype(&FreeImage_CloseMemory) CloseMemory = nullptr;
    decltype(&FreeImage_AcquireMemory) AcquireMemory = nullptr;
    decltype(&FreeImage_LoadMultiBitmapFromMemory) LoadMultiBitmapFromMemory = nullptr;
    decltype(&FreeImage_SaveMultiBitmapToMemory) SaveMultiBitmapToMemory = nullptr;
    decltype(&FreeImage_CloseMultiBitmap) CloseMultiBitmap = nullptr;
    decltype(&FreeImage_GetPageCount) GetPageCount = nullptr;
    decltype(&FreeImage_LockPage) LockPage = nullptr;
    decltype(&FreeImage_UnlockPage) UnlockPage = nullptr;
    decltype(&FreeImage_GetFileTypeFromMemory) GetFileTypeFromMemory = nullptr;
    decltype(&FreeImage_MakeThumbnail) MakeThumbnail = nullptr;
    decltype(&FreeImage_ConvertTo24Bits) ConvertTo24Bits = nullptr;
};

void routeTiff()
{
    // libtiff would print its complaints on standard error, between the
    // run's own lines; they go to a logging category instead.
    [[maybe_unused]] static const bool once = [] {
        RouteTiffMessages();
        return true;
    }();
}

// The opened library, or none when it cannot be opened: an installation
// without it still writes tags, and re-encoding says what is missing. A
// library that opens without every function is said once on standard error.
const FreeImageLibrary *freeImage()
{
    static const FreeImageLibrary *const loaded = []() -> const FreeImageLibrary * {
        routeTiff();
        void *handle = ::dlopen("libfreeimage.so.3", RTLD_NOW | RTLD_LOCAL);
        static FreeImageLibrary library;
        bool bound = handle != nullptr;
        const auto bind = [&](auto &function, const char *name) {
            function = handle ? reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name))
                              : nullptr;
            bound = bound && function;
        };
        bind(library.Initialise, "FreeImage_Initialise");
        bind(library.GetFileType, "FreeImage_GetFileType");
        bind(library.LoadFromMemory, "FreeImage_LoadFromMemory");
        bind(library.SaveToMemory, "FreeImage_SaveToMemory");
        bind(library.Unload, "FreeImage_Unload");
        bind(library.SetMetadata, "FreeImage_SetMetadata");
        bind(library.DestroyICCProfile, "FreeImage_DestroyICCProfile");
        bind(library.OpenMemory, "FreeImage_OpenMemory");
        bind(library.CloseMemory, "FreeImage_CloseMemory");
        bind(library.AcquireMemory, "FreeImage_AcquireMemory");
        bind(library.LoadMultiBitmapFromMemory, "FreeImage_LoadMultiBitmapFromMemory");
        bind(library.SaveMultiBitmapToMemory, "FreeImage_SaveMultiBitmapToMemory");
        bind(library.CloseMultiBitmap, "FreeImage_CloseMultiBitmap");
        bind(library.GetPageCount, "FreeImage_GetPageCount");
        bind(library.LockPage, "FreeImage_LockPage");
        bind(library.UnlockPage, "FreeImage_UnlockPage");
        bind(library.GetFileTypeFromMemory, "FreeImage_GetFileTypeFromMemory");
        bind(library.MakeThumbnail, "FreeImage_MakeThumbnail");
        bind(library.ConvertTo24Bits, "FreeImage_ConvertTo24Bits");
        if (!bound) {
            if (handle)
                std::fprintf(stderr, "brindleway: the image library libfreeimage.so.3 lacks a function it needs\n");
            return nullptr;
        }
        library.Initialise(FALSE);
        return &library;
    }();
    return loaded;
}

// Only where freeImage() gave the library: every bitmap and memory handle came from it.
const FreeImageLibrary &opened()
{
    return *freeImage();
}

FIBITMAP *dib(const std::unique_ptr<void, FreeImageBitmapDeleter> &handle)
{
    return static_cast<FIBITMAP *>(handle.get());
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// The flags of the table's row for a type; the type an ending names.
int rowFlags(ImageType type)
{
    switch (type) {
    case ImageType::Tiff:
        return TIFF_NONE;
    case ImageType::Jpeg:
        return JPEG_QUALITYSUPERB;
    default:
        return 0;
    }
}

ImageType typeOfEnding(const QString &upperEnding)
{
    if (upperEnding == QLatin1String(".TIF"))
        return ImageType::Tiff;
    if (upperEnding == QLatin1String(".JPG"))
        return ImageType::Jpeg;
    if (upperEnding == QLatin1String(".PNG"))
        return ImageType::Png;
    return ImageType::Unknown;
}
} // namespace

void FreeImageBitmapDeleter::operator()(void *bitmap) const
{
    opened().Unload(static_cast<FIBITMAP *>(bitmap));
}

namespace {
struct MemoryDeleter {
    void operator()(FIMEMORY *memory) const { opened().CloseMemory(memory); }
};
using MemoryHandle = std::unique_ptr<FIMEMORY, MemoryDeleter>;

struct MultiBitmapDeleter {
    void operator()(FIMULTIBITMAP *bitmap) const { opened().CloseMultiBitmap(bitmap, 0); }
};

void dropMetadata(FIBITMAP *bitmap)
{
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_COMMENTS, FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP,
          FIMD_IPTC, FIMD_XMP, FIMD_GEOTIFF, FIMD_ANIMATION, FIMD_CUSTOM, FIMD_EXIF_RAW})
        opened().SetMetadata(model, bitmap, nullptr, nullptr);
    opened().DestroyICCProfile(bitmap);
}

QByteArray memoryBytes(FIMEMORY *memory)
{
    BYTE *data = nullptr;
    DWORD size = 0;
    if (!opened().AcquireMemory(memory, &data, &size) || !data)
        return {};
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

int loadFlagsFor(ImageType type)
{
    switch (type) {
    case ImageType::Jpeg:
        return JPEG_ACCURATE;
    case ImageType::Png:
        return PNG_IGNOREGAMMA;
    case ImageType::Tiff:
        return TIFF_CMYK;
    default:
        return 0;
    }
}

// Every page through a multi-page bitmap in memory, which the library
// decodes page by page as it encodes them. The pages are left unchanged:
// the library would encode a changed one with its own default compression,
// whatever the flags say. The metadata it writes are replaced afterwards.
Encoded encodePages(FIMEMORY *input, int saveFlags)
{
    Encoded result;
    std::unique_ptr<FIMULTIBITMAP, MultiBitmapDeleter> pages(
        opened().LoadMultiBitmapFromMemory(FIF_TIFF, input, loadFlagsFor(ImageType::Tiff)));
    const int count = pages ? opened().GetPageCount(pages.get()) : 0;
    if (count < 1)
        return result;
    for (int i = 0; i < count; ++i) {
        FIBITMAP *page = opened().LockPage(pages.get(), i);
        if (!page)
            return result;
        opened().UnlockPage(pages.get(), page, FALSE);
    }
    result.decoded = true;
    MemoryHandle output(opened().OpenMemory(nullptr, 0));
    // Left to itself the library compresses 1-bit pages as fax, which
    // readers refuse for a palette image; LZW holds every page losslessly.
    constexpr int CompressionFlags = 0x1FF00;
    if (!(saveFlags & CompressionFlags))
        saveFlags |= TIFF_LZW;
    if (output && opened().SaveMultiBitmapToMemory(FIF_TIFF, pages.get(), output.get(), saveFlags | TIFF_CMYK))
        result.bytes = memoryBytes(output.get());
    return result;
}
} // namespace

Encoded EncodeAgain(ImageType type, const QByteArray &source, int saveFlags)
{
    if (!freeImage())
        return {};
    // The library only reads through this handle, whatever its signature says.
    MemoryHandle input(opened().OpenMemory(reinterpret_cast<BYTE *>(const_cast<char *>(source.constData())),
                                            DWORD(source.size())));
    if (!input)
        return {};
    if (type == ImageType::Tiff)
        return encodePages(input.get(), saveFlags);
    Encoded result;
    const std::unique_ptr<void, FreeImageBitmapDeleter> bitmap(
        opened().LoadFromMemory(FREE_IMAGE_FORMAT(type), input.get(), loadFlagsFor(type)));
    if (!bitmap)
        return result;
    result.decoded = true;
    dropMetadata(dib(bitmap));
    MemoryHandle output(opened().OpenMemory(nullptr, 0));
    if (output && opened().SaveToMemory(FREE_IMAGE_FORMAT(type), dib(bitmap), output.get(), saveFlags))
        result.bytes = memoryBytes(output.get());
    return result;
}

QByteArray SmallImage(QByteArrayView file, int side)
{
    if (!freeImage())
        return {};
    MemoryHandle input(opened().OpenMemory(reinterpret_cast<BYTE *>(const_cast<char *>(file.data())), DWORD(file.size())));
    if (!input)
        return {};
    const FREE_IMAGE_FORMAT type = opened().GetFileTypeFromMemory(input.get(), 0);
    if (type == FIF_UNKNOWN)
        return {};
    // A JPEG is decoded at the scale nearest the side; a raw file gives its embedded preview.
    const int flags = type == FIF_JPEG ? (side << 16) : type == FIF_RAW ? RAW_PREVIEW : 0;
    using Bitmap = std::unique_ptr<void, FreeImageBitmapDeleter>;
    const Bitmap image(opened().LoadFromMemory(type, input.get(), flags));
    if (!image)
        return {};
    const Bitmap small(opened().MakeThumbnail(dib(image), side, TRUE));
    const Bitmap rgb(small ? opened().ConvertTo24Bits(dib(small)) : nullptr);
    MemoryHandle output(opened().OpenMemory(nullptr, 0));
    if (!rgb || !output || !opened().SaveToMemory(FIF_JPEG, dib(rgb), output.get(), JPEG_QUALITYGOOD))
        return {};
    return memoryBytes(output.get());
}

int JpegSubsamplingFlag(int horizontal, int vertical)
{
    // The coarsest form the library writes that is nowhere coarser than asked.
    struct Form {
        int horizontal;
        int vertical;
        int flag;
    };
    constexpr Form forms[] = {{2, 2, JPEG_SUBSAMPLING_420},
                              {4, 1, JPEG_SUBSAMPLING_411},
                              {2, 1, JPEG_SUBSAMPLING_422},
                              {1, 1, JPEG_SUBSAMPLING_444}};
    for (const Form &form : forms) {
        if (form.horizontal <= horizontal && form.vertical <= vertical)
            return form.flag;
    }
    return JPEG_SUBSAMPLING_444;
}

int SaveFlagsFor(const QString &saveFile, ImageType contentType)
{
    const QString ending = saveFile.right(4).toUpper();
    const ImageType named = typeOfEnding(ending);
    if (named != ImageType::Unknown && named != contentType)
        return rowFlags(contentType);
    return rowFlags(named);
}

bool ReencodingAvailable()
{
    return freeImage() != nullptr;
}

namespace {
// The library's answer; nullopt without it.
std::optional<bool> libraryKnows(const QString &path)
{
    const FreeImageLibrary *library = freeImage();
    if (!library)
        return std::nullopt;
    return library->GetFileType(nativePath(path).constData(), 0) != FIF_UNKNOWN;
}
} // namespace
#else
// Built without the image library: nothing is decoded or encoded here.
void FreeImageBitmapDeleter::operator()(void *) const {}

Encoded EncodeAgain(ImageType, const QByteArray &, int)
{
    return {};
}

QByteArray SmallImage(QByteArrayView, int)
{
    return {};
}

int JpegSubsamplingFlag(int, int)
{
    return 0;
}

int SaveFlagsFor(const QString &, ImageType)
{
    return 0;
}

bool ReencodingAvailable()
{
    return false;
}

namespace {
std::optional<bool> libraryKnows(const QString &)
{
    return std::nullopt;
}
} // namespace
#endif

namespace {
// A BMP's file header, whose DIB header has one of the sizes its versions use.
bool isBmp(const QString &path)
{
    QFile file(path);
    unsigned char head[18];
    if (!file.open(QIODevice::ReadOnly) || file.read(reinterpret_cast<char *>(head), sizeof head) != sizeof head
        || head[0] != 'B' || head[1] != 'M')
        return false;
    const quint32 dibSize = head[14] | head[15] << 8 | head[16] << 16 | quint32(head[17]) << 24;
    for (const quint32 known : {12u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        if (dibSize == known)
            return true;
    }
    return false;
}
} // namespace

bool ImageLibraryKnows(const QString &path)
{
    if (const std::optional<bool> known = libraryKnows(path))
        return *known;
    // Without the library, tags only still copies the type it meets most.
    return isBmp(path);
}
