#include "fuzzcheck.h"
#include "model/codepage.h"
#include "model/datafile.h"
#include "model/datafilewriter.h"

#include <QStringEncoder>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {
// Larger inputs find nothing new and only slow each run down.
constexpr std::size_t MaxInput = 64 * 1024;
} // namespace

// The first byte picks a forced encoding or none; the rest is the data file.
// Every line's cells must join back to the line, a copy must outlive its
// original, and the cells written as the writer writes them must read back the same.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size == 0 || size > MaxInput)
        return -1;
    // A file in memory: rewriting a disk file thousands of times a second waits on the disk.
    static const int fd = memfd_create("datafile", 0);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    const QByteArray bytes(reinterpret_cast<const char *>(input) + 1, qsizetype(size - 1));
    Require(fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, bytes.data(), bytes.size(), 0) == bytes.size(), "the input could not be put into memory");
    static const QList<EncodingChoice> choices = EncodingChoices();
    const std::optional<TextEncoding> forced = choices.at(input[0] % choices.size()).forced;

    IptcDataFile original;
    Require(LoadDataFile(path, original, forced).loaded(), "a readable file did not load");
    const IptcDataFile data = original;
    original = {};

    Require(data.FieldCount >= 1 && data.LastDataLine == data.DataLines.size() - 1, "the line count disagrees with the lines");
    Require(data.FieldGrid.rowCount() == std::max(data.LastDataLine, 0), "the grid has another number of rows than lines");
    Require(data.Rows.size() == data.DataLines.size() && std::is_sorted(data.Rows.begin(), data.Rows.end()),
            "the rows do not follow the lines");
    QList<QStringList> read;
    QString written;
    for (int L = 0; L <= data.LastDataLine; ++L) {
        const QString &line = data.DataLines.at(L);
        const int fields = data.FieldGrid.fieldCount(L);
        Require(fields <= data.FieldCount, "a line has more fields than the file");
        QStringList cells;
        for (int k = 1; k <= fields; ++k)
            cells.append((L == 0 ? data.FieldGrid.headerCell(k) : data.FieldGrid.cell(L, k)).toString());
        Require(cells.join(QLatin1Char('\t')) == line, "the cells do not join back to the line");
        Require(data.FieldGrid.cell(L, 0).isEmpty() && data.FieldGrid.cell(L, fields + 1).isEmpty(), "a cell outside the line is not empty");
        read.append(cells);
        written += DataFileLine(cells) + QLatin1Char('\n');
    }
    Require(data.FieldGrid.cell(data.LastDataLine + 1, 1).isEmpty(), "a cell past the last line is not empty");

    // Lone surrogates are refused by the writer, and a leading U+FEFF is taken for a byte-order mark.
    QStringEncoder encoder(QStringConverter::Utf8);
    const QByteArray again = encoder.encode(written);
    if (encoder.hasError() || written.startsWith(QChar::ByteOrderMark))
        return 0;
    Require(ftruncate(fd, 0) == 0 && pwrite(fd, again.data(), again.size(), 0) == again.size(), "the copy could not be put into memory");
    IptcDataFile reread;
    Require(LoadDataFile(path, reread, TextEncoding::Utf8).loaded() && reread.LastDataLine == data.LastDataLine, "a written copy did not load");
    for (int L = 0; L <= reread.LastDataLine; ++L) {
        for (int k = 1; k <= read.at(L).size() + 1; ++k) {
            const QStringView cell = L == 0 ? reread.FieldGrid.headerCell(k) : reread.FieldGrid.cell(L, k);
            Require(cell == read.at(L).value(k - 1), "a written field read back otherwise");
        }
    }
    Require(EncodeAnsi(DecodeText(bytes, TextEncoding::Windows1252)) == bytes, "Windows-1252 does not read back byte for byte");
    return 0;
}
