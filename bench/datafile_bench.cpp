#include "model/datafile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

#include <cstdio>

// `--generate FILE [LINES]` writes a data file of LINES (100,000) lines by
// 24 fields; `FILE` alone reads and splits it and prints the time taken and
// the peak memory of the process. Two runs, so the generator's buffer does
// not count towards the reader's peak.
int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const bool generate = QByteArray(argv[1]) == "--generate";
    if (generate && argc < 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[generate ? 2 : 1]);
    if (generate) {
        const int lines = argc > 3 ? std::atoi(argv[3]) : 100000;
        const int fields = 24;
        QByteArray text;
        for (int f = 1; f <= fields; ++f)
            text += "Field" + QByteArray::number(f) + (f < fields ? "\t" : "\r\n");
        for (int l = 1; l <= lines; ++l) {
            for (int f = 1; f <= fields; ++f) {
                text += f == 1 ? "img" + QByteArray::number(l) + ".jpg"
                               : "value " + QByteArray::number(l) + "/" + QByteArray::number(f) + " caf\xe9";
                text += f < fields ? "\t" : "\r\n";
            }
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return 2;
        return 0;
    }
    const qint64 fileSize = QFileInfo(path).size();

    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    IptcDataFile data;
    const DataFileResult result = LoadDataFile(path, data);
    const qint64 elapsed = timer.elapsed();
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);

    if (!result.loaded())
        return 1;
    std::printf("data file: %d lines x %d fields, %.1f MB\n", data.FieldGrid.rowCount(), data.FieldCount,
                fileSize / 1e6);
    std::printf("LoadDataFile: %lld ms\n", static_cast<long long>(elapsed));
    std::printf("peak memory (max RSS): %.1f MB (%.1f x file size; before reading %.1f MB)\n",
                after.ru_maxrss / 1024.0, after.ru_maxrss * 1024.0 / double(fileSize),
                before.ru_maxrss / 1024.0);
    return 0;
}
