#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// Data lines cut into fields. Cells are views into the lines they came from,
// so a large file is held once as text and once as positions, not twice.
class FieldGridTable {
public:
    int rowCount() const { return rows; }
    int columnCount() const { return columns; }

    // Field `field` (1-based) of data line `line` (1-based); empty outside the grid.
    QStringView cell(int line, int field) const;

    // Builds the grid from lines[1..lastLine] with `fieldCount` columns.
    void build(const QStringList &lines, int lastLine, int fieldCount);
    void clear();
    // Points a copied grid at the copy of the lines it was built from.
    void rebind(const QStringList &lines);

private:
    const QStringList *source = nullptr;
    int rows = 0;
    int columns = 0;
    // For row r (0-based) and field k (0-based): starts[r * (columns + 1) + k].
    // Field k ends one before the start of field k + 1.
    std::vector<qsizetype> starts;
};

// The tables filled from the last data file read.
struct IptcDataFile {
    QStringList DataLines; // entry 0 is the header line
    int LastDataLine = -1;
    int FieldCount = 0;
    FieldGridTable FieldGrid;

    IptcDataFile() = default;
    IptcDataFile(const IptcDataFile &other) { *this = other; }
    IptcDataFile &operator=(const IptcDataFile &other);
};

struct DataFileResult {
    enum Status { Loaded, Missing, Unreadable };
    Status status = Loaded;
    QString message; // what to tell the user when not loaded
    QString summary; // the caption for LabelIPTCinfo when loaded
};

inline const QString MissingDataFileMessage = QStringLiteral("TextIPTCfilename not present");

QString DataFileSummary(int LastDataLine, int FieldCount);

// Reads the file into DataLines, LastDataLine and FieldCount. On any failure
// the tables are left exactly as they were.
DataFileResult LoadDataFile(const QString &path, IptcDataFile &data);

// Rebuilds FieldGrid from DataLines, LastDataLine and FieldCount.
void SplitDataLines(IptcDataFile &data);
