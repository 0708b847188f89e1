#include "engine/batchtag.h"

#include "engine/batchpaths.h"
#include "engine/exiv2writer.h"
#include "engine/freeimagelayer.h"
#include "engine/iimvalues.h"
#include "engine/outputfile.h"
#include "model/codepage.h"
#include "model/slotexpression.h"

#include <QFile>
#include <QFileInfo>

struct BatchState::Image {
    Bitmap bitmap;
    ImageType type = ImageType::Unknown; // as detected when it was loaded
};

BatchState::BatchState() = default;
BatchState::~BatchState() = default;

namespace {
class BusyGuard {
public:
    explicit BusyGuard(BatchState &state) : state(state) { state.Busy = true; }
    ~BusyGuard()
    {
        state.CurrentImage.reset();
        state.Busy = false;
    }
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

OutputTarget OutputTargetFor(const BatchRun &run, int L)
{
    const QString &name = run.fileName(L);
    if (const auto refusal = NameRefusal(name))
        return {{}, *refusal, {}};
    const QString output = OutputName(name, run.options);
    const QString below = NameAsRelativePath(output);
    const QString path = JoinFolderAndName(run.app.SavePath, output);
    if (OutputNameRefusal(run.app.SavePath, below))
        return {path, QStringLiteral("the output would lie outside the save folder"), below};
    if (const auto id = IdentityOf(path, false); id && run.sourceFiles.contains({id->device, id->inode}))
        return {path, QStringLiteral("the output would replace a source image"), below};
    return {path, {}, below};
}

QString FindSourceImage(BatchState &state, const BatchRun &run, int L, ImageType *detected)
{
    state.CurrentImage.reset();
    const QString &name = run.fileName(L);
    state.ImageFile = JoinFolderAndName(run.app.ImagePath, name);
    if (name.isEmpty())
        return QStringLiteral("the line gives no file name");
    const QFileInfo info(state.ImageFile);
    if (!info.exists())
        return QStringLiteral("the image file does not exist");
    if (!info.isFile())
        return QStringLiteral("the name is not a file");
    const ImageType type = Bitmap::DetectType(state.ImageFile);
    if (detected)
        *detected = type;
    if (type == ImageType::Unknown)
        return QStringLiteral("the file is not an image of a known type");
    return {};
}

QString LoadSourceImage(BatchState &state, const BatchRun &run, int L)
{
    ImageType type = ImageType::Unknown;
    if (QString problem = FindSourceImage(state, run, L, &type); !problem.isEmpty())
        return problem;
    Bitmap bitmap = Bitmap::Load(type, state.ImageFile, 0);
    if (!bitmap)
        return QStringLiteral("the image could not be read");
    state.CurrentImage = std::make_unique<BatchState::Image>(BatchState::Image{std::move(bitmap), type});
    return {};
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

QStringList WriteTags(BatchState &state, const BatchRun &run, int L)
{
    QStringList warnings;
    if (!state.CurrentImage)
        return warnings;
    const IimValues iim = ToIimValues(TagValuesFor(run, L), false);
    warnings = iim.warnings;
    for (const TagValue &value : iim.xmpValues) {
        QList<QByteArray> items;
        for (const IimItem &item : iim.items) {
            if (item.slot == value.slot)
                items.append(item.bytes);
        }
        // The library keeps one entry per key; the image layer splits list
        // values again at ";" when it saves.
        const QString &key = run.app.IptcTagKeys[value.slot - 1];
        if (!items.isEmpty() && !AttachIptcTag(*state.CurrentImage, key, items.join(';')))
            warnings << QStringLiteral("the image library refused the value of %1").arg(key);
    }
    return warnings;
}

bool AttachIptcTag(BatchState::Image &image, const QString &key, const QByteArray &value)
{
    if (value.size() > MaxIptcValueBytes)
        return false;
    return image.bitmap.AttachIptcAscii(key, value);
}

SaveOutcome SaveTaggedImage(BatchState &state, const BatchRun &run, int L, const OutputTarget &target,
                            const YieldCallback &yield)
{
    SaveOutcome outcome;
    state.SaveFile = target.path;
    if (!state.CurrentImage) {
        outcome.reason = QStringLiteral("no image is loaded");
        return outcome;
    }
    if (!target.refusal.isEmpty()) {
        state.CurrentImage.reset();
        outcome.reason = target.refusal;
        return outcome;
    }
    if (yield)
        outcome.keepGoing = yield();

    ImageType type = Bitmap::DetectType(state.ImageFile);
    if (type == ImageType::Unknown)
        type = state.CurrentImage->type;
    const int flags = SaveFlagsFor(state.SaveFile, type);

    // The XMP is brought in step with the IPTC just attached, so that readers
    // that prefer XMP show the new values too.
    const XmpUpdate xmp = UpdateXmpPacket(state.CurrentImage->bitmap.XmpPacket(), TagValuesFor(run, L));
    if (!xmp.error.isEmpty()) {
        state.CurrentImage.reset();
        outcome.reason = xmp.error;
        return outcome;
    }
    if (xmp.changed && WritesXmp(type) && !state.CurrentImage->bitmap.SetXmpPacket(xmp.packet)) {
        state.CurrentImage.reset();
        outcome.reason = QStringLiteral("the image library refused the XMP packet");
        return outcome;
    }

    outcome.reason = SaveOutputFile(run.app.SavePath, target.name, OutputStaging::InMemory, [&](const QString &temporary) {
        return state.CurrentImage->bitmap.Save(type, temporary, flags)
            ? QString()
            : QStringLiteral("the image library could not write the file");
    });
    state.CurrentImage.reset();
    if (!outcome.reason.isEmpty())
        return outcome;
    const bool carriesTags = WritesIptc(type) || (xmp.changed && WritesXmp(type));
    outcome.status = carriesTags ? SaveOutcome::Saved : SaveOutcome::SavedWithWarnings;
    if (!carriesTags)
        outcome.reason = QStringLiteral("saved, but this file type carries neither IPTC nor XMP metadata");
    return outcome;
}

SaveOutcome SaveLosslessImage(BatchState &state, const BatchRun &run, int L, const OutputTarget &target,
                              const YieldCallback &yield)
{
    SaveOutcome outcome;
    state.SaveFile = target.path;
    if (!target.refusal.isEmpty()) {
        outcome.reason = target.refusal;
        return outcome;
    }
    if (yield)
        outcome.keepGoing = yield();
    LosslessOutcome written;
    outcome.reason = SaveOutputFile(run.app.SavePath, target.name, OutputStaging::Direct, [&](const QString &temporary) {
        written = WriteTagsLossless(state.ImageFile, temporary, TagValuesFor(run, L), run.unicodeData());
        return written.status == LosslessOutcome::Failed ? written.reason : QString();
    });
    if (!outcome.reason.isEmpty())
        return outcome;
    outcome.status = written.warnings.isEmpty() ? SaveOutcome::Saved : SaveOutcome::SavedWithWarnings;
    outcome.reason = written.warnings.join(QStringLiteral("; "));
    return outcome;
}

namespace {
void countSave(BatchResult &result, const SaveOutcome &outcome, int L, const QString &name)
{
    if (outcome.status == SaveOutcome::Failed) {
        result.failed.append({L, name, outcome.reason});
        return;
    }
    ++result.saved;
    if (outcome.status == SaveOutcome::SavedWithWarnings)
        result.warnings.append({L, name, outcome.reason});
}
} // namespace

BatchResult BatchTag(BatchState &state, const AppState &app, const BatchOptions &options, ProgressSink *progress,
                     const YieldCallback &yield)
{
    BatchResult result;
    if (state.Busy) {
        result.refusal = BusyMessage;
        return result;
    }
    if (app.Data.LastDataLine < 1) {
        result.refusal = NoEntriesMessage;
        return result;
    }
    if (SameFolder(app.ImagePath, app.SavePath)) {
        result.refusal = SamePathMessage;
        return result;
    }
    if (app.ImagePath.isEmpty() || app.SavePath.isEmpty()) {
        result.refusal = NoFolderMessage;
        return result;
    }
    if (!hasSelectedScheme(app)) {
        result.refusal = NoSchemeMessage;
        return result;
    }

    BusyGuard busy(state);
    const BatchRun run(app, options);
    const int last = run.app.Data.LastDataLine;
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
    for (int L = 1; L <= last; ++L) {
        const QString &name = run.fileName(L);
        bool keepGoing = true;
        const OutputTarget target = OutputTargetFor(run, L);
        if (!target.refusal.isEmpty()) {
            result.skipped.append({L, name, target.refusal});
        } else if (!run.options.reencode) {
            if (const QString problem = FindSourceImage(state, run, L); !problem.isEmpty()) {
                result.skipped.append({L, name, problem});
            } else {
                const SaveOutcome outcome = SaveLosslessImage(state, run, L, target, yield);
                keepGoing = outcome.keepGoing;
                if (outcome.status != SaveOutcome::Failed)
                    ++result.tagged;
                countSave(result, outcome, L, name);
            }
        } else if (const QString problem = LoadSourceImage(state, run, L); !problem.isEmpty()) {
            result.skipped.append({L, name, problem});
        } else {
            const QStringList warnings = WriteTags(state, run, L);
            ++result.tagged;
            SaveOutcome outcome = SaveTaggedImage(state, run, L, target, yield);
            if (outcome.status != SaveOutcome::Failed && !warnings.isEmpty()) {
                outcome.status = SaveOutcome::SavedWithWarnings;
                QStringList all = warnings;
                if (!outcome.reason.isEmpty())
                    all.prepend(outcome.reason);
                outcome.reason = all.join(QStringLiteral("; "));
            }
            keepGoing = outcome.keepGoing;
            countSave(result, outcome, L, name);
        }
        if (progress)
            progress->setValue(L);
        if (!keepGoing) {
            result.stopped = L < last;
            break;
        }
    }
    if (progress)
        progress->setVisible(false);
    return result;
}
