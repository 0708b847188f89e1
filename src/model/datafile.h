#pragma once

#include "model/codepage.h"
#include "model/problem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The fields' separators of a line whose quoted fields hold TABs, as
// positions into the line; in every other line each TAB separates two fields.
struct QuotedLine {
    qsizetype line = 0;
    QList<qsizetype> separators;
};

// Data lines cut into fields. Cells are views into the lines they came from,
// and only the separators' positions are stored, so memory follows the
// file's size whatever the widest line.
class FieldGridTable {
public:
    int rowCount() const { return rows; }
    int columnCount() const { return columns; }

    // Field `field` (1-based) of data line `line` (1-based); empty outside the grid.
    QStringView cell(int line, int field) const;
    // Field `field` (1-based) of the header line; empty outside it.
    QStringView headerCell(int field) const;
    // How many fields line `line` has, 0 being the header (0 outside the grid).
    int fieldCount(int line) const;

    // Builds the grid from lines[1..]; lines[0] is the header, which counts
    // towards the columns: one more than the most separators of any line.
    // `quoted` lists the lines whose separators are not their TABs, in line order.
    void build(const QStringList &lines, const QList<QuotedLine> &quoted = {});

private:
    QStringView fieldOf(int line, int field) const;

    QStringList source; // shares its text with the owner's DataLines
    int rows = 0;
    int columns = 0;
    // The separators of line L (0 the header) sit at tabs[firstTab[L]] up
    // to, not including, tabs[firstTab[L + 1]]. Both lists are shared between copies.
    QList<qsizetype> tabs;
    QList<qsizetype> firstTab;
};

// The tables filled from the last data file read.
struct IptcDataFile {
    // Entry 0 is the header line. A line is its fields joined by TABs, a
    // quoted field as it reads (without its quotes, which may span rows).
    QStringList DataLines;
    int LastDataLine = -1;
    int FieldCount = 0;
    FieldGridTable FieldGrid;
    TextEncoding Encoding = TextEncoding::Windows1252; // how the file was read
    QList<int> Rows; // Rows[L]: the file's row where line L starts (1-based)

    // The data file's row of line L, blank lines and rows inside quoted
    // fields counted; L + 1 for tables filled by hand.
    int row(int line) const { return line >= 0 && line < Rows.size() ? Rows.at(line) : line + 1; }
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
