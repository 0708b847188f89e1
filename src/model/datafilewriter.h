#pragma once

#include "model/codepage.h"
#include "model/problem.h"

#include <QList>
#include <QString>
#include <QStringList>

// How a data file is written.
struct DataFileFormat {
    TextEncoding encoding = TextEncoding::Utf8; // Unicode encodings get a byte-order mark, which Excel needs
    bool crlf = true;                           // CR LF line ends, else LF
};

// A value the encoding cannot hold.
struct UnheldValue {
    int row = 0;       // the header is row 1
    int column = 0;    // from 1
    QString character; // the first character it cannot hold, for the user: “Ł” (U+0141)
};
// The values the writer names at most; the rest are counted.
inline constexpr int MaxUnheldNamed = 50;

struct DataFileWriteResult {
    Problem problem;           // FileExists, or why nothing was written
    QList<UnheldValue> unheld = {}; // the values the encoding cannot hold, in file order, MaxUnheldNamed at most
    int moreUnheld = 0;        // those beyond them
    bool written() const { return !problem; }
};

// A field as Excel and LibreOffice write it in tab-delimited text: enclosed
// in double quotes, its own quotes doubled, when it holds a TAB, CR, LF or
// double quote.
QString DataFileField(const QString &text);

// A line of a data file, without its end: the fields as DataFileField
// writes them, separated by TABs; a lone field of spaces (or none) is
// quoted, so that the line does not read as blank.
QString DataFileLine(const QStringList &fields);

// Writes a data file of the header and the rows, one line each, their fields
// separated by TABs, as LoadDataFile reads them back. A file at `path` is
// replaced only when `replace` is set; the new file appears whole or not at
// all. Fields the encoding cannot hold are refused, each named, and nothing
// is written.
DataFileWriteResult WriteDataFile(const QString &path, const QStringList &header, const QList<QStringList> &rows,
                                  const DataFileFormat &format = {}, bool replace = false);
