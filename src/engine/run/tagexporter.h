#pragma once

#include "engine/run/exporttable.h"
#include "model/datafilewriter.h"
#include "model/problem.h"
#include "model/settingsstore.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

struct LinePlan;
struct SchemeTable;
struct WorkerAnswer;

// %1 the folder.
inline const QString NoExportableImagesMessage = QStringLiteral("The folder %1 holds no image whose tags Brindleway reads.");
// %1 the data file, %2 why.
inline const QString DataFileUnwritableMessage = QStringLiteral("Cannot write the data file %1: %2.");
inline const QString NothingReadMessage = QStringLiteral("No image could be read, so no data file was written.");

// What the user chose for an export.
struct ExportRequest {
    QString imageFolder;
    QString dataFile;
    QString schemeName;     // empty for the first free of "Exported", "Exported 2"...
    DataFileFormat format;  // UTF-8 with a byte-order mark and CR LF unless chosen otherwise
    bool allFields = false; // a column for every field, not only those some image holds
    bool replace = false;   // an existing data file, and a scheme of the name, may be replaced
    int workers = 0;        // worker processes at most; 0 for one per core
    int imageMs = 600000;   // an image still unread after this long fails, and its worker is stopped
    int graceMs = 2000;     // a worker told to end is killed when it is still there after this long
};

// One image the export listed.
struct ExportedImage {
    QString name;
    ImageTags tags; // tags.failure says why it could not be read
};

struct ExportResult {
    Problem problem;             // why nothing was read, or why the data file or the scheme was not written
    QList<ExportedImage> images; // every image listed and reached, in name order
    QList<LeftOutFile> leftOut;  // the folder's other files, in name order
    QString dataFile;            // as written
    QString schemeName;          // as stored
    int columns = 0;             // of the data file, the file name's included
    bool stopped = false;        // cancelled: nothing was written

    bool written() const { return !problem && !stopped; }
    qsizetype unreadable() const;
    // Images read whose values will not all come back exactly.
    qsizetype noted() const;
};

// Why an export may not start, before its folder is listed: a missing,
// unreadable or non-folder image folder, a data file that cannot be written
// there, or that exists (unless replacing, and never when it is an image),
// a scheme name taken (unless replacing); none when it may.
Problem ExportRefusal(const ExportRequest &request, const SchemeTable &schemes);

// Reads the tags of every image of a folder in worker processes, then
// writes the data file and stores the scheme that reads it back. Nothing
// here waits: the caller's event loop drives the export, which reports
// through its signals. Nothing is written into the images.
class TagExporter : public QObject {
    Q_OBJECT
public:
    explicit TagExporter(QObject *parent = nullptr);
    ~TagExporter() override;

    // Starts an export; the scheme goes into `schemes` and `store`, which
    // must outlive it, `consent` asked as StoreScheme asks it. Why it may not
    // start (ExportRefusal, or a folder without an image to read); none when
    // it started (`finished` may still bring a refusal when no worker starts).
    Problem start(const ExportRequest &request, SchemeTable &schemes, SettingsStore &store,
                  const LossConsent &consent = {});
    // Hands out no more images and writes nothing.
    void cancel();
    bool running() const { return bool(job); }

signals:
    // Images read (or failed) of all those listed.
    void progress(int done, int images);
    void finished(const ExportResult &result);

private:
    struct Job;
    void answered(const LinePlan &plan, const WorkerAnswer &answer);
    void stopped(const QString &refusal);
    void write();

    std::unique_ptr<Job> job;
};
