#include "model/datafile.h"

#include "model/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

QStringView FieldGridTable::fieldOf(int line, int field) const
{
    const qsizetype first = firstTab.at(line);
    const qsizetype count = firstTab.at(line + 1) - first;
    if (field < 1 || field > count + 1)
        return {};
    const QString &text = source.at(line);
    const qsizetype start = field == 1 ? 0 : tabs.at(first + field - 2) + 1;
    const qsizetype end = field == count + 1 ? text.size() : tabs.at(first + field - 1);
    if (end <= start)
        return {};
    return QStringView(text).sliced(start, end - start);
}

QStringView FieldGridTable::cell(int line, int field) const
{
    if (line < 1 || line > rows)
        return {};
    return fieldOf(line, field);
}

QStringView FieldGridTable::headerCell(int field) const
{
    if (source.isEmpty())
        return {};
    return fieldOf(0, field);
}

int FieldGridTable::fieldCount(int line) const
{
    if (line < 0 || line > rows || source.isEmpty())
        return 0;
    return int(firstTab.at(line + 1) - firstTab.at(line)) + 1;
}

void FieldGridTable::build(const QStringList &lines, const QList<QuotedLine> &quoted)
{
    *this = {};
    // Counted first, so that the lists take no more memory than they hold.
    qsizetype total = 0;
    qsizetype widest = 0;
    for (qsizetype L = 0, q = 0; L < lines.size(); ++L) {
        const bool given = q < quoted.size() && quoted.at(q).line == L;
        const qsizetype count = given ? quoted.at(q++).separators.size() : lines.at(L).count(QLatin1Char('\t'));
        widest = std::max(widest, count);
        total += count;
    }
    columns = int(std::min<qsizetype>(widest, INT_MAX - 1)) + 1;
    if (lines.isEmpty())
        return;
    source = lines;
    rows = int(lines.size()) - 1;
    tabs.reserve(total);
    firstTab.reserve(lines.size() + 1);
    firstTab.append(0);
    for (qsizetype L = 0, q = 0; L < lines.size(); ++L) {
        const QString &text = lines.at(L);
        if (q < quoted.size() && quoted.at(q).line == L) {
            tabs.append(quoted.at(q++).separators);
        } else {
            for (qsizetype tab = text.indexOf(QLatin1Char('\t')); tab >= 0; tab = text.indexOf(QLatin1Char('\t'), tab + 1))
                tabs.append(tab);
        }
        firstTab.append(tabs.size());
    }
}

QString DataFileSummary(int LastDataLine, int FieldCount)
{
    return QStringLiteral("IPTC data file contains ") + QString::number(LastDataLine + 1)
        + QStringLiteral(" entries each consisting of ") + QString::number(FieldCount)
        + QStringLiteral(" tags");
}

namespace {
// The lines of a data file with their rows, and the separators of those
// whose quoted fields hold TABs.
struct ReadLines {
    QStringList lines;
    QList<int> rows;
    QList<QuotedLine> quoted;
};

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// The quote that closes the one at `open`, pairs of quotes between being
// escaped quotes; -1 when none does. A scan that runs far ends at the first
// run of an odd number of quotes, and a field that starts inside that stretch
// starts a run of an even number, whose scan ends within it: each character
// is passed over by one far scan at most, so reading stays linear.
qsizetype closingQuote(QStringView text, qsizetype open)
{
    for (qsizetype from = open + 1;;) {
        const qsizetype quote = text.indexOf(QLatin1Char('"'), from);
        if (quote < 0)
            return -1;
        if (quote + 1 < text.size() && text[quote + 1] == QLatin1Char('"')) {
            from = quote + 2;
            continue;
        }
        return quote;
    }
}

// Appends the inside of a quoted field without its escapes; returns how many
// line ends it holds (CR LF, CR or LF each count one).
int appendQuoted(QString &out, QStringView inside)
{
    int lineEnds = 0;
    for (qsizetype i = 0; i < inside.size(); ++i) {
        const QChar c = inside[i];
        out.append(c);
        if (c == QLatin1Char('"'))
            ++i; // the second of a pair
        else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && (i + 1 == inside.size() || inside[i + 1] != QLatin1Char('\n'))))
            ++lineEnds;
    }
    return lineEnds;
}

// Splits at CR LF, CR alone and LF alone and at TABs, as spreadsheets write
// tab-delimited text: a field that starts with a quote and ends with the
// quote that closes it (followed by a TAB, a line end or the end of the text)
// may hold TABs, line ends and doubled quotes. Any other field, an unclosed
// quote included, reads up to the next TAB or line end as it stands. Lines of
// one unquoted field of spaces only are blank and left out.
ReadLines readLines(QStringView text)
{
    ReadLines read;
    const qsizetype n = text.size();
    qsizetype pos = 0;
    int row = 1;
    QList<qsizetype> separators; // of the line in hand
    while (pos < n) {
        const qsizetype start = pos;
        const int startRow = row;
        // Built only once a quoted field is met; until then the line is a slice of the text.
        QString built;
        bool quoted = false;
        bool blank = true;
        separators.clear();
        for (;;) {
            const qsizetype close = pos < n && text[pos] == QLatin1Char('"') ? closingQuote(text, pos) : -1;
            if (close >= 0 && (close + 1 == n || text[close + 1] == QLatin1Char('\t') || isLineEnd(text[close + 1]))) {
                if (!quoted)
                    built = text.sliced(start, pos - start).toString();
                quoted = true;
                blank = false;
                row += appendQuoted(built, text.sliced(pos + 1, close - pos - 1));
                pos = close + 1;
            } else {
                const qsizetype from = pos;
                for (; pos < n && text[pos] != QLatin1Char('\t') && !isLineEnd(text[pos]); ++pos)
                    blank = blank && text[pos] == QLatin1Char(' ');
                if (quoted)
                    built.append(text.sliced(from, pos - from));
            }
            if (pos == n || text[pos] != QLatin1Char('\t'))
                break;
            blank = false;
            separators.append(quoted ? built.size() : pos - start);
            if (quoted)
                built.append(QLatin1Char('\t'));
            ++pos;
        }
        const qsizetype end = pos;
        if (pos < n) {
            pos += text[pos] == QLatin1Char('\r') && pos + 1 < n && text[pos + 1] == QLatin1Char('\n') ? 2 : 1;
            ++row;
        }
        if (blank)
            continue;
        if (quoted && built.count(QLatin1Char('\t')) != separators.size())
            read.quoted.append({read.lines.size(), separators});
        built.squeeze(); // appending left room to grow
        read.lines.append(quoted ? built : text.sliced(start, end - start).toString());
        read.rows.append(startRow);
    }
    return read;
}
} // namespace

DataFileResult LoadDataFile(const QString &path, IptcDataFile &data, std::optional<TextEncoding> encoding)
{
    DataFileResult result;
    const QFileInfo info(path);
    if (!info.isFile()) {
        result.problem = {Problem::Kind::MissingFile, QStringLiteral("the file does not exist")};
        return result;
    }
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        result.problem = {Problem::Kind::Stated, file.errorString()};
        return result;
    }

    const TextEncoding used = DetectEncoding(bytes, encoding);
    QString text = DecodeText(bytes, used);
    bytes = {};
    ReadLines read = readLines(text);
    text = {};

    data.FieldGrid.build(read.lines, read.quoted);
    data.DataLines = read.lines;
    data.Rows = std::move(read.rows);
    data.LastDataLine = int(read.lines.size()) - 1;
    data.FieldCount = data.FieldGrid.columnCount();
    data.Encoding = used;
    result.summary = DataFileSummary(data.LastDataLine, data.FieldCount);
    return result;
}
