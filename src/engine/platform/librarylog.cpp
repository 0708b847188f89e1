#include "engine/platform/librarylog.h"

#include <exiv2/exiv2.hpp>
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

Q_LOGGING_CATEGORY(exiv2Log, "brindleway.exiv2", QtWarningMsg)
Q_LOGGING_CATEGORY(tiffLog, "brindleway.tiff", QtWarningMsg)

namespace {
// The libraries call back on the thread that works on the file.
struct FileMessages {
    QString path;
    int exiv2 = 0;
    int tiff = 0;
};
thread_local FileMessages current;

// Whether one more message of a library may be shown for the current file;
// the first one over the bound says that the rest are left out.
bool shown(int &count, const QLoggingCategory &category)
{
    ++count;
    if (count == LibraryMessagesPerFile + 1)
        qCInfo(category, "%s: further messages left out", qUtf8Printable(current.path));
    return count <= LibraryMessagesPerFile;
}

void tiffMessage(const char *module, const char *format, va_list args)
{
    if (!shown(current.tiff, tiffLog()))
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    qCInfo(tiffLog, "%s: %s: %s", qUtf8Printable(current.path), module ? module : "libtiff", text);
}

void exiv2Message(int level, const char *text)
{
    if (!shown(current.exiv2, exiv2Log()))
        return;
    const char *kind = level >= Exiv2::LogMsg::error ? "error" : level >= Exiv2::LogMsg::warn ? "warning" : "info";
    // Exiv2 ends its messages with a newline; the log adds its own.
    QByteArray line(text ? text : "");
    while (line.endsWith('\n'))
        line.chop(1);
    qCInfo(exiv2Log, "%s: %s: %s", qUtf8Printable(current.path), kind, line.constData());
}
} // namespace

LibraryMessagesAbout::LibraryMessagesAbout(const QString &path) { current = {path, 0, 0}; }

LibraryMessagesAbout::~LibraryMessagesAbout() { current = {}; }

void RouteTiffMessages()
{
    const bool on = tiffLog().isInfoEnabled();
    TIFFSetErrorHandler(on ? tiffMessage : nullptr);
    TIFFSetWarningHandler(on ? tiffMessage : nullptr);
}

void RouteExiv2Messages()
{
    if (!exiv2Log().isInfoEnabled()) {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return;
    }
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::info);
    Exiv2::LogMsg::setHandler(exiv2Message);
}
