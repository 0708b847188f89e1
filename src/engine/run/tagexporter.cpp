#include "engine/run/tagexporter.h"

#include "engine/container/sourceimage.h"
#include "engine/platform/outputfile.h"
#include "engine/platform/savefolder.h"
#include "engine/run/batchrunner.h"
#include "engine/run/lineplanner.h"
#include "engine/run/workerjob.h"
#include "engine/run/workerpool.h"
#include "engine/run/workerprotocol.h"
#include "model/exportscheme.h"
#include "model/schemestore.h"
#include "model/xmpfields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>


qsizetype ExportResult::unreadable() const
{
    return std::count_if(images.begin(), images.end(), [](const ExportedImage &image) { return bool(image.tags.failure); });
}

qsizetype ExportResult::noted() const
{
    return std::count_if(images.begin(), images.end(),
                         [](const ExportedImage &image) { return !image.tags.failure && !image.tags.notes.isEmpty(); });
}

namespace {
QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Why the data file cannot be written where the request puts it.
Problem dataFileProblem(const ExportRequest &request)
{
    const QString &path = request.dataFile;
    if (path.isEmpty())
        return QStringLiteral("Choose the data file to write");
    const QFileInfo info(path);
    if (info.isDir())
        return DataFileUnwritableMessage.arg(shown(path), QStringLiteral("it is a folder"));
    if (info.exists() || info.isSymLink()) {
        if (!request.replace)
            return {Problem::Kind::FileExists, QStringLiteral("%1 already exists").arg(shown(path))};
        // Opening a pipe or a device could wait for ever.
        if (info.exists() && !info.isFile())
            return DataFileUnwritableMessage.arg(shown(path), QStringLiteral("it is not a plain file"));
        // The data file must never take a photo's or a sidecar's place,
        // whatever name reaches it: only a text file is replaced.
        QFile file(path);
        const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
        const bool utf16 = head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF");
        if (FormatOf(head.first(std::min<qsizetype>(head.size(), FormatHeadBytes)), path) != ImageFormat::Unknown
            || (head.contains('\0') && !utf16))
            return DataFileUnwritableMessage.arg(shown(path), QStringLiteral("it is an image or no text"));
        if (path.endsWith(QLatin1String(".xmp"), Qt::CaseInsensitive) || head.contains("<x:xmpmeta") || head.contains("<?xpacket"))
            return DataFileUnwritableMessage.arg(shown(path), QStringLiteral("it is an XMP sidecar"));
    }
    const QString folder = info.absolutePath();
    if (const QString why = FolderProblem(folder); !why.isEmpty())
        return DataFileUnwritableMessage.arg(shown(path), QStringLiteral("the folder %1: %2").arg(shown(folder), why));
    // The new file is made beside the old one and put in its place, so the folder must take files.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return DataFileUnwritableMessage.arg(shown(path), SystemError());
    return {};
}

// A name a run would not find the image by: it reads "\" as a folder
// separator and refuses control characters.
bool nameComesBack(const QString &name)
{
    return !name.contains(QLatin1Char('\\')) && !NameRefusal(name);
}

// Whether a spreadsheet opening the data file would take the value for a
// formula (=HYPERLINK() included) rather than text: it starts as a formula
// does and is no number such as -5 or +3.2.
bool spreadsheetFormula(const QString &value)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)([eE][+-]?\\d+)?$"));
    if (value.isEmpty() || !QStringLiteral("=+-@").contains(value.front()))
        return false;
    return !number.match(value).hasMatch();
}

void noteSpreadsheetFormulas(const QString &name, ImageTags &tags)
{
    if (spreadsheetFormula(name))
        tags.notes.append({TagReadCode::SpreadsheetFormula, FileNameSlot, {name}});
    for (int slot = 1; slot <= AllSlotCount; ++slot) {
        if (isValueSlot(slot) && spreadsheetFormula(tags.values[slot - 1]))
            tags.notes.append({TagReadCode::SpreadsheetFormula, slot, {tags.values[slot - 1]}});
    }
}
} // namespace

Problem ExportRefusal(const ExportRequest &request, const SchemeTable &schemes)
{
    if (request.imageFolder.isEmpty())
        return QStringLiteral("Choose the folder of images whose tags to export");
    if (const QString why = FolderProblem(request.imageFolder); !why.isEmpty())
        return ImageFolderMessage.arg(shown(request.imageFolder), why);
    if (Problem problem = dataFileProblem(request))
        return problem;
    if (!request.schemeName.isEmpty() && !request.replace && SchemeNamed(schemes, request.schemeName) > 0)
        return {Problem::Kind::FileExists, SchemeNameTakenMessage.arg(request.schemeName)};
    return {};
}

struct TagExporter::Job {
    Job(const ExportRequest &exportRequest, SchemeTable &table, SettingsStore &settings, LossConsent lossConsent)
        : request(exportRequest), schemes(table), store(settings), consent(std::move(lossConsent))
    {
    }

    ExportRequest request;
    SchemeTable &schemes;
    SettingsStore &store;
    LossConsent consent;
    WorkerJob *work = nullptr;
    QList<ExportedImage> images;
    ExportResult result;
};

TagExporter::TagExporter(QObject *parent) : QObject(parent) {}

TagExporter::~TagExporter() = default;

Problem TagExporter::start(const ExportRequest &request, SchemeTable &schemes, SettingsStore &store,
                           const LossConsent &consent)
{
    if (job)
        return BusyMessage;
    if (Problem refusal = ExportRefusal(request, schemes))
        return refusal;
    const ExportListing listing = ExportableImages(request.imageFolder);
    const QStringList &names = listing.images;
    if (names.isEmpty())
        return NoExportableImagesMessage.arg(shown(request.imageFolder));
    auto next = std::make_unique<Job>(request, schemes, store, consent);
    next->result.leftOut = listing.leftOut;
    for (const QString &name : names)
        next->images.append({name, {}});
    LineSettings settings;
    settings.unicodeData = IsUnicode(request.format.encoding);
    const auto limits = WorkerPool::Limits::of(request.workers, names.size(), request.imageMs, request.graceMs);
    const QDir folder(request.imageFolder);
    next->work = new WorkerJob(int(names.size()), [names, folder](int line) {
        LinePlan plan;
        plan.line = line;
        plan.name = names.at(line - 1);
        plan.source = folder.filePath(plan.name);
        return plan;
    }, this);
    connect(next->work, &WorkerJob::answered, this, &TagExporter::answered);
    connect(next->work, &WorkerJob::progress, this, &TagExporter::progress);
    connect(next->work, &WorkerJob::finished, this, &TagExporter::stopped);
    job = std::move(next);
    job->work->start(WorkerProgram(), settings, limits, WorkerMessage::ReadTags);
    return {};
}

void TagExporter::cancel()
{
    if (job)
        job->work->cancel();
}

void TagExporter::answered(const LinePlan &plan, const WorkerAnswer &answer)
{
    if (!job)
        return;
    ExportedImage &image = job->images[plan.line - 1];
    if (answer.tags)
        image.tags = *answer.tags;
    else
        image.tags.failure = answer.outcome.notes.value(0, {NoteCode::WorkerGarbled, {}});
    if (!image.tags.failure && !nameComesBack(image.name))
        image.tags.notes.append({TagReadCode::Refused, FileNameSlot, {image.name}});
    if (!image.tags.failure)
        noteSpreadsheetFormulas(image.name, image.tags);
}

void TagExporter::stopped(const QString &refusal)
{
    if (!job)
        return;
    if (!refusal.isEmpty())
        job->result.problem = refusal;
    job->result.stopped = job->work->cancelled();
    job->images.resize(job->work->reached());
    if (!job->result.problem && !job->result.stopped)
        write();
    ExportResult result = std::move(job->result);
    result.images = std::move(job->images);
    job->work->deleteLater();
    // Gone before the signal, so that whoever hears it may start the next export.
    job.reset();
    emit finished(result);
}

void TagExporter::write()
{
    QStringList names;
    QList<ImageTags> tags;
    for (const ExportedImage &image : job->images) {
        if (image.tags.failure)
            continue;
        names.append(image.name);
        tags.append(image.tags);
    }
    ExportResult &result = job->result;
    if (names.isEmpty()) {
        result.problem = NothingReadMessage;
        return;
    }
    const ExportRequest &request = job->request;
    // What is at the data file's name may have changed while the images were read.
    if (const Problem problem = dataFileProblem(request)) {
        result.problem = problem;
        return;
    }
    const ExportTable table = BuildExportTable(names, tags, request.allFields);
    const DataFileWriteResult written = WriteDataFile(request.dataFile, table.header, table.rows, request.format, request.replace);
    if (!written.unheld.isEmpty()) {
        // Each value by its image and field, as the user will look for it.
        QStringList named;
        for (const UnheldValue &value : written.unheld)
            named << QStringLiteral("%1, %2: %3").arg(names.value(value.row - 2), table.header.value(value.column - 1), value.character);
        if (written.moreUnheld > 0)
            named << QStringLiteral("and %1 more").arg(written.moreUnheld);
        result.problem = QStringLiteral("No data file was written: %1 cannot hold these values: %2.")
                             .arg(EncodingName(request.format.encoding), named.join(QStringLiteral("; ")));
        return;
    }
    if (!written.written()) {
        result.problem = {written.problem.kind(), QStringLiteral("No data file was written: %1.").arg(written.problem.text())};
        return;
    }
    result.dataFile = request.dataFile;
    result.columns = int(table.header.size());
    const QString name = request.schemeName.isEmpty() ? FreeExportedName(job->schemes) : request.schemeName;
    if (const Problem stored = StoreScheme(job->schemes, job->store, ExportedScheme(name, table.columnSlots),
                                           request.replace, job->consent)) {
        result.problem = {stored.kind(), QStringLiteral("The data file %1 was written, but %2.").arg(shown(request.dataFile), stored.text())};
        return;
    }
    result.schemeName = name;
}
