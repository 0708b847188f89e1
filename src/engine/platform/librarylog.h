#pragma once

#include <QLoggingCategory>
#include <QString>

// What Exiv2 and libtiff say about a file goes to a logging category of its
// own, off by default: QT_LOGGING_RULES="brindleway.exiv2=true;brindleway.tiff=true"
// shows them, so that a report can carry the warning that explains a loss.
// A damaged file can make a library repeat itself without end: at most
// LibraryMessagesPerFile of each library's messages are shown per file.

Q_DECLARE_LOGGING_CATEGORY(exiv2Log)
Q_DECLARE_LOGGING_CATEGORY(tiffLog)

inline constexpr int LibraryMessagesPerFile = 20;

// Names the file the libraries' next messages on this thread are about, and
// starts their count again; the destructor ends it.
class LibraryMessagesAbout {
public:
    explicit LibraryMessagesAbout(const QString &path);
    ~LibraryMessagesAbout();
    LibraryMessagesAbout(const LibraryMessagesAbout &) = delete;
    LibraryMessagesAbout &operator=(const LibraryMessagesAbout &) = delete;
};

// Sends libtiff's errors and warnings to tiffLog, or nowhere when it is off.
void RouteTiffMessages();
// Sends Exiv2's messages to exiv2Log, or silences Exiv2 when it is off.
void RouteExiv2Messages();
