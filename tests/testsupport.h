#pragma once

#include "model/parsingscheme.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>
#include <string>

inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

// Writes `bytes` to `path`, creating folders on the way; fails the test on error.
void WriteFileBytes(const QString &path, const QByteArray &bytes);
QByteArray ReadFileBytes(const QString &path);
// `value` in `bytes` bytes, most significant first.
QByteArray BigEndian(quint32 value, int bytes);

// A scheme named `name` whose slots are "Leave blank" but `values`.
inline ParsingScheme MakeScheme(const QString &name, const QHash<int, QString> &values = {})
{
    ParsingScheme scheme;
    scheme.Name = name;
    for (int i = 1; i <= AllSlotCount; ++i)
        scheme.slot(i) = values.value(i, LeaveBlank);
    return scheme;
}

// The schemes in store order, as the store and the window hold them.
inline SchemeTable MakeTable(const QList<ParsingScheme> &schemes)
{
    SchemeTable table;
    table.Schemes.append(schemes);
    table.SchemeCount = int(schemes.size());
    return table;
}

inline QStringList SchemeNames(const SchemeTable &table)
{
    QStringList names;
    for (int n = 1; n <= table.SchemeCount; ++n)
        names.append(table.Schemes[n].Name);
    return names;
}

// Runs a program to its end; its standard output. A non-zero exit fails the
// test unless `exitCode` takes it.
QByteArray RunTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                   QByteArray *errors = nullptr);

// Processes events until `done` holds; fails the test when it does not within `ms`.
void WaitUntil(const std::function<bool()> &done, int ms = 60000);

// Makes an image with ImageMagick; the format follows `format` ("jpg", "png"...).
void MakeImage(const QString &path, const QString &format, int width = 48, int height = 32);

// Record-2 datasets as stored: dataset number to values in file order.
using IptcDatasets = QMap<int, QList<QByteArray>>;

// What one ExifTool run reads from a file: every tag by "Group1:Name" with
// values unconverted and lists joined with ";" (MWG view included), the raw
// IPTC block split into datasets, and the warnings.
struct FileTags {
    QMap<QString, QString> tags;
    IptcDatasets iptc;
    QStringList warnings;
    std::string operator[](const char *name) const { return tags.value(QLatin1String(name)).toStdString(); }
    // Every tag that neither IPTC nor XMP writing may change (strips may move).
    QStringList foreign() const;
};
FileTags ReadTags(const QString &path);
