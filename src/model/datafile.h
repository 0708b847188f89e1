#pragma once

#include "model/codepage.h"
#include "model/problem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Data lines cut into fields. Cells are views into the lines they came from,
// and only the TAB positions are stored, so memory follows the file's size
// whatever the widest line.
class FieldGridTable {
public:
    int rowCount() const { return rows; }
    int columnCount() const { return columns; }

    // Field `field` (1-based) of data line `line` (1-based); empty outside the grid.
    QStringView cell(int line, int field) const;

    // Builds the grid from lines[1..]; lines[0] is the header, which only
    // counts towards the columns: one more than the most TABs of any line.
    void build(const QStringList &lines);

private:
    QStringList source; // shares its text with the owner's DataLines
    int rows = 0;
    int columns = 0;
    // The TABs of data line L sit at tabs[firstTab[L - 1]] up to, not
    // including, tabs[firstTab[L]]. Both lists are shared between copies.
    QList<qsizetype> tabs;
    QList<qsizetype> firstTab;
};

// The tables filled from the last data file read.
struct IptcDataFile {
    QStringList DataLines; // entry 0 is the header line
    int LastDataLine = -1;
    int FieldCount = 0;
    FieldGridTable FieldGrid;
    TextEncoding Encoding = TextEncoding::Windows1252; // how the file was read
};

struct DataFileResult {
    Problem problem; // MissingFile, or what the system said when reading failed
    QString summary; // the caption for LabelIPTCinfo when loaded
    bool loaded() const { return !problem; }
};

inline const QString MissingDataFileMessage = QStringLiteral("TextIPTCfilename not present");

QString DataFileSummary(int LastDataLine, int FieldCount);

// Reads the file into DataLines, LastDataLine, FieldCount and FieldGrid, in
// `encoding` when given, else in the encoding its bytes show. On any failure
// the tables are left exactly as they were.
DataFileResult LoadDataFile(const QString &path, IptcDataFile &data,
                            std::optional<TextEncoding> encoding = std::nullopt);
