#include "model/datafile.h"

#include "model/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

QStringView FieldGridTable::cell(int line, int field) const
{
    if (line < 1 || line > rows || field < 1)
        return {};
    const qsizetype first = firstTab.at(line - 1);
    const qsizetype count = firstTab.at(line) - first;
    if (field > count + 1)
        return {};
    const QString &text = source.at(line);
    const qsizetype start = field == 1 ? 0 : tabs.at(first + field - 2) + 1;
    const qsizetype end = field == count + 1 ? text.size() : tabs.at(first + field - 1);
    if (end <= start)
        return {};
    return QStringView(text).sliced(start, end - start);
}

void FieldGridTable::build(const QStringList &lines)
{
    *this = {};
    source = lines;
    qsizetype widest = 0;
    qsizetype total = 0;
    for (qsizetype L = 0; L < lines.size(); ++L) {
        const qsizetype count = lines.at(L).count(QLatin1Char('\t'));
        widest = std::max(widest, count);
        total += L > 0 ? count : 0;
    }
    columns = int(std::min<qsizetype>(widest, INT_MAX - 1)) + 1;
    if (lines.size() < 2)
        return;
    rows = int(lines.size()) - 1;
    tabs.reserve(total);
    firstTab.reserve(rows + 1);
    firstTab.append(0);
    for (qsizetype L = 1; L < lines.size(); ++L) {
        const QString &text = lines.at(L);
        for (qsizetype tab = text.indexOf(QLatin1Char('\t')); tab >= 0; tab = text.indexOf(QLatin1Char('\t'), tab + 1))
            tabs.append(tab);
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
    const QStringList lines = nonBlankLines(text);
    text = {};

    data.FieldGrid.build(lines);
    data.DataLines = lines;
    data.LastDataLine = int(lines.size()) - 1;
    data.FieldCount = data.FieldGrid.columnCount();
    data.Encoding = used;
    result.summary = DataFileSummary(data.LastDataLine, data.FieldCount);
    return result;
}
