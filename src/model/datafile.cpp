#include "model/datafile.h"

#include "model/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QStringView FieldGridTable::cell(int line, int field) const
{
    if (!source || line < 1 || line > rows || field < 1 || field > columns)
        return {};
    const QString &text = (*source)[line];
    const std::size_t base = std::size_t(line - 1) * std::size_t(columns + 1);
    const qsizetype start = starts[base + field - 1];
    const qsizetype length = starts[base + field] - start - 1;
    if (length <= 0)
        return {};
    return QStringView(text).mid(start, length);
}

void FieldGridTable::build(const QStringList &lines, int lastLine, int fieldCount)
{
    clear();
    if (lastLine < 1 || fieldCount < 1)
        return;
    source = &lines;
    rows = lastLine;
    columns = fieldCount;
    starts.resize(std::size_t(rows) * std::size_t(columns + 1));
    for (int r = 0; r < rows; ++r) {
        const QString &text = lines[r + 1];
        qsizetype *row = starts.data() + std::size_t(r) * std::size_t(columns + 1);
        // Fields past the line's own end start after the end, giving empty cells.
        const qsizetype past = text.size() + 1;
        qsizetype pos = 0;
        for (int k = 0; k <= columns; ++k) {
            row[k] = pos;
            if (pos >= past)
                continue;
            const qsizetype tab = text.indexOf(QLatin1Char('\t'), pos);
            pos = tab < 0 ? past : tab + 1;
        }
    }
}

void FieldGridTable::rebind(const QStringList &lines)
{
    if (source)
        source = &lines;
}

void FieldGridTable::clear()
{
    source = nullptr;
    rows = 0;
    columns = 0;
    starts.clear();
}

IptcDataFile &IptcDataFile::operator=(const IptcDataFile &other)
{
    if (this == &other)
        return *this;
    DataLines = other.DataLines;
    LastDataLine = other.LastDataLine;
    FieldCount = other.FieldCount;
    // The grid points into its own DataLines, never into the other's.
    FieldGrid = other.FieldGrid;
    FieldGrid.rebind(DataLines);
    return *this;
}

QString DataFileSummary(int LastDataLine, int FieldCount)
{
    return QStringLiteral("IPTC data file contains ") + QString::number(LastDataLine + 1)
        + QStringLiteral(" entries each consisting of ") + QString::number(FieldCount)
        + QStringLiteral(" tags");
}

namespace {
bool isBlank(QStringView line)
{
    for (const QChar c : line) {
        if (c != QLatin1Char(' '))
            return false;
    }
    return true;
}

// Splits at CR LF, CR alone and LF alone; the line end is not part of the line.
QStringList nonBlankLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    auto take = [&](qsizetype end) {
        const QStringView line = QStringView(text).mid(start, end - start);
        if (!isBlank(line))
            lines.append(line.toString());
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        take(i);
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        take(n);
    return lines;
}
} // namespace

DataFileResult LoadDataFile(const QString &path, IptcDataFile &data)
{
    DataFileResult result;
    const QFileInfo info(path);
    if (!info.isFile()) {
        result.status = DataFileResult::Missing;
        result.message = MissingDataFileMessage;
        return result;
    }
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        result.status = DataFileResult::Unreadable;
        result.message = QStringLiteral("Cannot read file %1:\n%2.")
                             .arg(QDir::toNativeSeparators(path), file.errorString());
        return result;
    }

    QStringList lines = nonBlankLines(DecodeAnsi(bytes));
    bytes.clear();
    qsizetype widest = 0;
    for (const QString &line : std::as_const(lines))
        widest = std::max(widest, line.count(QLatin1Char('\t')));

    data.FieldGrid.clear();
    data.DataLines = std::move(lines);
    data.LastDataLine = int(data.DataLines.size()) - 1;
    data.FieldCount = int(widest) + 1;
    result.summary = DataFileSummary(data.LastDataLine, data.FieldCount);
    return result;
}

void SplitDataLines(IptcDataFile &data)
{
    data.FieldGrid.build(data.DataLines, data.LastDataLine, data.FieldCount);
}
