#include "engine/batchtag.h"

#include "engine/batchpaths.h"
#include "engine/xmppacket.h"
#include "engine/freeimagelayer.h"
#include "engine/outputfile.h"
#include "engine/notetext.h"
#include "engine/reencode.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "engine/workerpool.h"
#include "model/codepage.h"
#include "model/slotexpression.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>

#include <sys/stat.h>

namespace {
class BusyGuard {
public:
    explicit BusyGuard(BatchState &state) : state(state) { state.Busy = true; }
    ~BusyGuard() { state.Busy = false; }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

private:
    BatchState &state;
};

bool hasSelectedScheme(const AppState &app)
{
    return app.SelectedScheme >= 0 && app.SelectedScheme < app.Schemes.SchemeCount
        && app.SelectedScheme + 1 < app.Schemes.Schemes.size();
}
} // namespace

BatchRun::BatchRun(const AppState &state, const BatchOptions &runOptions)
    : app(state), options(runOptions)
{
    // Outputs must never land on a file that any line reads, whatever name
    // reaches it.
    for (int L = 1; L <= app.Data.LastDataLine; ++L) {
        fileNames.append(EvaluateFileNameSlot(scheme(), L, app.Data));
        if (fileNames.last().isEmpty())
            continue;
        if (const auto id = IdentityOf(JoinFolderAndName(app.ImagePath, fileNames.last())))
            sourceFiles.insert({id->device, id->inode});
    }
}

QString OutputTarget::key() const
{
    return QDir::cleanPath(name);
}

OutputTarget OutputTargetFor(const BatchRun &run, int L)
{
    const QString &name = run.fileName(L);
    if (Problem refusal = NameRefusal(name))
        return {{}, std::move(refusal), {}};
    const QString output = OutputName(name, run.options);
    const QString below = NameAsRelativePath(output);
    const QString path = JoinFolderAndName(run.app.SavePath, output);
    if (OutputNameRefusal(run.app.SavePath, below))
        return {path, QStringLiteral("the output would lie outside the save folder"), below};
    if (const auto id = IdentityOf(path, false); id && run.sourceFiles.contains({id->device, id->inode}))
        return {path, QStringLiteral("the output would replace a source image"), below};
    return {path, {}, below};
}

LinePlan PlanLine(const BatchRun &run, int L)
{
    LinePlan plan;
    plan.line = L;
    plan.name = run.fileName(L);
    plan.source = JoinFolderAndName(run.app.ImagePath, plan.name);
    plan.output = OutputTargetFor(run, L);
    plan.values = TagValuesFor(run, L);
    // An empty name is refused with the output.
    struct stat info {};
    if (plan.output.refusal)
        plan.problem = plan.output.refusal;
    else if (::stat(QFile::encodeName(plan.source).constData(), &info) != 0)
        plan.problem = QStringLiteral("the image file does not exist");
    else if (!S_ISREG(info.st_mode))
        plan.problem = QStringLiteral("the name is not a file");
    return plan;
}

LineSettings LineSettingsFor(const BatchRun &run)
{
    return {run.app.SavePath, run.options.reencode, run.unicodeData(), run.options.maxMegapixels};
}

QList<TagValue> TagValuesFor(const BatchRun &run, int L)
{
    const ParsingScheme &scheme = run.scheme();
    QList<TagValue> values;
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        const auto value = EvaluateTagSlot(scheme, slot, L, run.app.Data);
        if (!value)
            continue;
        values.append({slot, *value});
    }
    return values;
}

SaveOutcome WritePlannedLine(const LinePlan &plan, const LineSettings &settings, XmpMemory *memory)
{
    SourceImage source;
    if (Note why = source.open(plan.source))
        return {why.code == NoteCode::SourceUnreadable ? SaveOutcome::Failed : SaveOutcome::Skipped, NoteText(why)};
    if (source.format() == ImageFormat::Unknown)
        return {SaveOutcome::Skipped, UnknownImageMessage};
    XmpMemory own;
    XmpMemory &xmpMemory = memory ? *memory : own;
    const TagEdit edit{plan.values, settings.unicodeData};
    std::optional<LineOutcome> written;
    const Problem failure = SaveOutputFile(settings.saveFolder, plan.output.name, [&](int temporary) {
        written = settings.reencode && ReencodingCovers(source.format())
            ? WriteReencoded(source, edit, plan.output.path, settings.maxMegapixels, temporary)
            : WriteTagsOnly(source, edit, temporary, xmpMemory);
        return written->written() ? Problem() : Problem(NotesText(written->notes));
    });
    if (!written)
        return {SaveOutcome::Failed, failure};
    const LineOutcome &outcome = *written;
    if (!outcome.written())
        return {outcome.status == LineStatus::Skipped ? SaveOutcome::Skipped : SaveOutcome::Failed, NotesText(outcome.notes)};
    if (failure)
        return {SaveOutcome::Failed, failure};
    return {outcome.status == LineStatus::Saved ? SaveOutcome::Saved : SaveOutcome::SavedWithWarnings,
            NotesText(outcome.notes)};
}

namespace {
// Short enough that the window answers at once while images are written.
constexpr int WaitMs = 50;

void count(BatchResult &result, const SaveOutcome &outcome, int L, const QString &name)
{
    const QString &reason = outcome.reason.text();
    switch (outcome.status) {
    case SaveOutcome::Skipped:
        result.skipped.append({L, name, reason});
        return;
    case SaveOutcome::Failed:
        result.failed.append({L, name, reason});
        return;
    case SaveOutcome::SavedWithWarnings:
        result.warnings.append({L, name, reason});
        break;
    case SaveOutcome::Saved:
        break;
    }
    ++result.tagged;
    ++result.saved;
}
} // namespace

Problem RunRefusal(const BatchState &state, const AppState &app)
{
    if (state.Busy)
        return BusyMessage;
    if (app.Data.LastDataLine < 1)
        return NoEntriesMessage;
    if (SameFolder(app.ImagePath, app.SavePath))
        return SamePathMessage;
    if (app.ImagePath.isEmpty() || app.SavePath.isEmpty())
        return NoFolderMessage;
    if (!hasSelectedScheme(app))
        return NoSchemeMessage;
    return {};
}

BatchResult BatchTag(BatchState &state, const AppState &app, const BatchOptions &options, ProgressSink *progress,
                     const YieldCallback &yield)
{
    BatchResult result;
    result.refusal = RunRefusal(state, app);
    if (result.refused())
        return result;

    BusyGuard busy(state);
    const BatchRun run(app, options);
    const int last = run.app.Data.LastDataLine;
    const QString program = WorkerProgram();
    WorkerPool pool(program, LineSettingsFor(run),
                    std::min(options.workers > 0 ? options.workers : QThread::idealThreadCount(), last),
                    options.lineSeconds);
    if (const QString error = pool.start(); !error.isEmpty()) {
        result.refusal = NoWorkerMessage.arg(QDir::toNativeSeparators(program), error);
        return result;
    }
    result.lines = last;
    QStringList outputNames;
    for (const QString &name : run.fileNames)
        outputNames.append(NameAsRelativePath(name));
    RemoveStaleTemporaries(run.app.SavePath, outputNames);
    if (progress) {
        progress->setValue(0);
        progress->setMax(last);
        progress->setVisible(true);
    }
    // Lines finish in any order; progress counts them, and the lists are
    // sorted by line at the end.
    int next = 1;
    int finished = 0;
    bool handingOut = true;
    const auto done = [&](const LinePlan &plan, const SaveOutcome &outcome) {
        count(result, outcome, plan.line, plan.name);
        if (progress)
            progress->setValue(++finished);
    };
    // The window's events are processed after each image handed out, so
    // that a stop keeps that one, and while the run waits.
    const auto keepGoing = [&] { handingOut = handingOut && (!yield || yield()); };
    std::optional<LinePlan> held; // planned, waiting for a worker or for an earlier line of the same output
    const auto planNext = [&] {
        if (!held && next <= last)
            held = PlanLine(run, next++);
        return bool(held);
    };
    while (true) {
        while (handingOut && pool.canTake() && planNext()) {
            state.ImageFile = held->source;
            state.SaveFile = held->output.path;
            if (held->problem) {
                done(*held, {SaveOutcome::Skipped, held->problem});
                held.reset();
                continue;
            }
            // Lines that share an output write it in line order, so the last one's stays.
            if (pool.writes(held->output.key()))
                break;
            if (const auto lost = pool.hand(*held))
                done(lost->plan, lost->outcome);
            held.reset();
            keepGoing();
        }
        // Planned while the workers write, so that it goes out the moment one
        // is free; a problem it has is told only when its turn comes.
        if (handingOut)
            planNext();
        if (pool.inHand() == 0 && (!handingOut || !held))
            break;
        for (const FinishedLine &line : pool.wait(WaitMs))
            done(line.plan, line.outcome);
        keepGoing();
    }
    result.stopped = held || next <= last;
    for (QList<LineProblem> *problems : {&result.skipped, &result.failed, &result.warnings})
        std::stable_sort(problems->begin(), problems->end(),
                         [](const LineProblem &a, const LineProblem &b) { return a.line < b.line; });
    if (progress)
        progress->setVisible(false);
    return result;
}
