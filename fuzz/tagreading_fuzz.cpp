// Whatever an image holds, reading its tags back for a data file ends,
// gives the same values when read again, and the data file written from
// them reads back as those values, cell for cell.
#include "engine/container/sourceimage.h"
#include "engine/run/exporttable.h"
#include "engine/worker/imagetags.h"
#include "fuzzcheck.h"
#include "model/datafile.h"
#include "model/datafilewriter.h"

#include <QTemporaryDir>

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr size_t MaxInput = 256 * 1024;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput)
        return -1;
    const int fd = memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, input, size) != ssize_t(size)) {
        ::close(fd);
        return -1;
    }
    SourceImage source;
    if (source.open(QStringLiteral("/proc/self/fd/%1").arg(fd)) || !ExportReads(source.format())) {
        ::close(fd);
        return -1;
    }
    const ImageTags first = ReadImageTags(source);
    const ImageTags second = ReadImageTags(source);
    ::close(fd);
    Require(first.values == second.values, "reading an image twice gives the same values");

    static QTemporaryDir folder(QStringLiteral("/dev/shm/fuzz-tagreading-XXXXXX"));
    const ExportTable table = BuildExportTable({QStringLiteral("photo.jpg")}, {first}, true);
    const QString path = folder.filePath(QStringLiteral("data.txt"));
    Require(WriteDataFile(path, table.header, table.rows, {}, true).written(), "a UTF-8 data file takes any value");
    IptcDataFile data;
    Require(LoadDataFile(path, data).loaded(), "the data file reads");
    Require(data.LastDataLine == 1, "one image is one line");
    for (qsizetype column = 0; column < table.rows[0].size(); ++column)
        Require(data.FieldGrid.cell(1, int(column) + 1) == table.rows[0][column], "each value reads back as written");
    return 0;
}
