#include "engine/run/lineplanner.h"

#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmpsidecar.h"
#include "engine/platform/savefolder.h"
#include "engine/run/imagenames.h"
#include "model/codepage.h"
#include "model/slotexpression.h"
#include "model/xmpfields.h"

#include <QDir>
#include <QSet>

#include <algorithm>

namespace {
bool hasSelectedScheme(const AppState &app)
{
    return app.SelectedScheme >= 0 && app.SelectedScheme < app.Schemes.SchemeCount
        && app.SelectedScheme + 1 < app.Schemes.Schemes.size();
}

const ParsingScheme &selectedScheme(const AppState &app)
{
    return app.Schemes.Schemes[app.SelectedScheme + 1];
}
} // namespace

QString NameAsRelativePath(const QString &name)
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

QString JoinFolderAndName(const QString &folder, const QString &name)
{
    const QString relative = NameAsRelativePath(name);
    if (folder.endsWith(QLatin1Char('/')))
        return folder + relative;
    return folder + QLatin1Char('/') + relative;
}

QString OutputName(const QString &name, const BatchOptions &options)
{
    if (options.saveOption != SaveOption::AppendFileName || options.appendText.isEmpty())
        return name;
    const QString relative = NameAsRelativePath(name);
    const qsizetype base = relative.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = relative.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not an extension.
    if (dot <= base)
        return name + options.appendText;
    return name.left(dot) + options.appendText + name.mid(dot);
}

Note NameRefusal(const QString &name)
{
    if (name.isEmpty())
        return {NoteCode::NoFileName, {}};
    for (const QChar c : name) {
        if (c.unicode() < 0x20)
            return {NoteCode::NameHoldsControl, {QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper()}};
    }
    const QString relative = NameAsRelativePath(name);
    if (QDir::isAbsolutePath(relative))
        return {NoteCode::AbsoluteName, {}};
    if (relative.split(QLatin1Char('/')).contains(QLatin1String("..")))
        return {NoteCode::NameHoldsDotDot, {}};
    if (IsTemporaryName(relative))
        return {NoteCode::TemporaryName, {}};
    return {};
}

Note ReplacedNote(const QHash<QString, int> &writtenBy, const QString &key, const QString &sidecar)
{
    const auto earlier = writtenBy.constFind(key);
    QStringList details;
    if (earlier != writtenBy.cend())
        details.append(QString::number(*earlier));
    if (!sidecar.isEmpty())
        details.append(sidecar);
    return {earlier == writtenBy.cend() ? NoteCode::ReplacedFile : NoteCode::ReplacedLine, details};
}

void AddPlacedNotes(QList<Note> &notes, const LinePlan &plan, bool sidecar, bool outputReplaces, bool sidecarReplaces,
                    QHash<QString, int> &writtenBy)
{
    if (plan.blanks)
        notes.append(plan.blanks);
    if (outputReplaces)
        notes.append(ReplacedNote(writtenBy, plan.outputKey, {}));
    if (sidecar && plan.sidecarNote)
        notes.append(plan.sidecarNote);
    if (sidecar && sidecarReplaces)
        notes.append(ReplacedNote(writtenBy, plan.sidecarKey, plan.sidecar));
    writtenBy.insert(plan.outputKey, plan.row);
    if (sidecar)
        writtenBy.insert(plan.sidecarKey, plan.row);
}

Problem RunRefusal(const AppState &app)
{
    if (app.Data.LastDataLine < 1)
        return NoEntriesMessage;
    if (SameFolder(app.ImagePath, app.SavePath))
        return SamePathMessage;
    if (app.ImagePath.isEmpty() || app.SavePath.isEmpty())
        return NoFolderMessage;
    if (!hasSelectedScheme(app))
        return NoSchemeMessage;
    if (const QString why = FolderProblem(app.ImagePath); !why.isEmpty())
        return ImageFolderMessage.arg(QDir::toNativeSeparators(app.ImagePath), why);
    if (const QString why = FolderProblem(app.SavePath); !why.isEmpty())
        return SaveFolderMessage.arg(QDir::toNativeSeparators(app.SavePath), why);
    return {};
}

QString OpenSaveFolder(SaveFolder &folder, const QString &path)
{
    QString why = folder.open(path);
    if (why.isEmpty())
        why = folder.writeProblem();
    return why.isEmpty() ? QString() : SaveFolderMessage.arg(QDir::toNativeSeparators(path), why);
}

LinePlanner::LinePlanner(const AppState &state, const BatchOptions &runOptions, const SaveFolder &saveFolder)
    : app(state), options(runOptions), folder(saveFolder)
{
    const ImageNames names(app.ImagePath, options.matching);
    QHash<QString, int> copies;
    // Outputs must never land on a file that any line reads, whatever name
    // reaches it: sources and the sidecars beside them.
    for (int L = 1; L <= lines(); ++L) {
        Found &found = this->found.emplace_back();
        found.sheet = EvaluateFileNameSlot(selectedScheme(app), L, app.Data);
        if (NameRefusal(found.sheet))
            continue;
        const ImageNames::Found file = names.find(found.sheet);
        found.name = file.name;
        found.candidates = file.candidates;
        if (found.name.isEmpty())
            continue;
        const QString source = JoinFolderAndName(app.ImagePath, found.name);
        const auto id = IdentityOf(source);
        if (!id)
            continue;
        sourceFiles.insert(*id);
        QString output;
        if (!nameProblem(found, output) && !copies.contains(QDir::cleanPath(output)))
            copies.insert(QDir::cleanPath(output), app.Data.row(L));
        // Told once for the whole run, before any line is written, so that
        // the check and the run skip the same lines and a line whose output an
        // earlier line wrote is not taken for one the run found.
        if (options.skipExisting && !output.isEmpty())
            found.existed = folder.inspect(output).existing.has_value();
        const ImageFormat format = FormatOfFileHead(source).format;
        if (TagPlaceOf(format) != TagPlace::Sidecar)
            continue;
        found.besides = true;
        found.raw = format == ImageFormat::CameraRaw;
        found.sidecarSource = ExistingSidecar(source, options.sidecarNaming);
        if (const auto sidecar = IdentityOf(found.sidecarSource))
            sourceFiles.insert(*sidecar);
    }
    nameSidecars(copies);
}

Note LinePlanner::nameProblem(const Found &found, QString &output) const
{
    if (Note why = NameRefusal(found.sheet))
        return why;
    if (!found.candidates.isEmpty())
        return {NoteCode::AmbiguousName, found.candidates};
    // Loose matching may find a temporary that the sheet spells otherwise.
    if (IsTemporaryName(found.name))
        return {NoteCode::TemporaryName, {}};
    // The output is named after the file found, not the sheet's spelling.
    const QString name = OutputName(found.name, options);
    // The appended text may bring a character the name did not have.
    if (Note why = NameRefusal(name))
        return why;
    output = NameAsRelativePath(name);
    return {};
}

void LinePlanner::nameSidecars(const QHash<QString, int> &copies)
{
    QHash<QString, QStringList> claims; // sidecar key -> the outputs of the photos it would be beside, in line order
    QSet<QString> raws;                 // the outputs of camera raw files
    for (Found &each : found) {
        QString output;
        if (!each.besides || nameProblem(each, output))
            continue;
        each.sidecar = SidecarName(output, options.sidecarNaming);
        QStringList &photos = claims[QDir::cleanPath(each.sidecar)];
        if (!photos.contains(QDir::cleanPath(output)))
            photos.append(QDir::cleanPath(output));
        if (each.raw)
            raws.insert(QDir::cleanPath(output));
    }
    for (Found &each : found) {
        QString output;
        if (each.sidecar.isEmpty() || nameProblem(each, output))
            continue;
        const QString key = QDir::cleanPath(each.sidecar);
        const QStringList &photos = claims[key];
        // Readers that look for a sidecar by the stem look beside a camera raw file first.
        const auto rawPhoto = std::find_if(photos.begin(), photos.end(), [&raws](const QString &photo) { return raws.contains(photo); });
        const QString keeper = rawPhoto != photos.end() ? *rawPhoto : photos.value(0);
        const QString taker = copies.contains(key) ? key : keeper != QDir::cleanPath(output) ? keeper : QString();
        if (taker.isEmpty())
            continue;
        const QString full = SidecarName(output, SidecarNaming::FullName);
        if (full == each.sidecar || copies.contains(QDir::cleanPath(full))) {
            each.sidecarProblem = {NoteCode::SidecarNameTaken, {QString::number(copies.value(QDir::cleanPath(full), copies.value(key)))}};
            continue;
        }
        each.sidecar = full;
        each.sidecarNote = {NoteCode::SidecarNamedInFull, {full, taker}};
        each.sidecarSource = ExistingSidecar(JoinFolderAndName(app.ImagePath, each.name), SidecarNaming::FullName);
        if (const auto sidecar = IdentityOf(each.sidecarSource))
            sourceFiles.insert(*sidecar);
    }
    // A full name may still be another photo's by the stem (IMG_1.CR2.xmp beside IMG_1.CR2.NEF): the later line is refused.
    QHash<QString, std::pair<QString, int>> owners; // sidecar key -> the output of its photo, the row of the first line
    for (int L = 1; L <= lines(); ++L) {
        Found &each = found[size_t(L - 1)];
        QString output;
        if (each.sidecar.isEmpty() || each.sidecarProblem || nameProblem(each, output))
            continue;
        const auto owner = owners.constFind(QDir::cleanPath(each.sidecar));
        if (owner == owners.cend())
            owners.insert(QDir::cleanPath(each.sidecar), {QDir::cleanPath(output), app.Data.row(L)});
        else if (owner->first != QDir::cleanPath(output))
            each.sidecarProblem = {NoteCode::SidecarNameTaken, {QString::number(owner->second)}};
    }
}

QList<TagValue> LinePlanner::valuesFor(int L) const
{
    QList<TagValue> values;
    for (int slot = 1; slot <= AllSlotCount; ++slot) {
        if (!isValueSlot(slot))
            continue;
        if (const auto value = EvaluateTagSlot(selectedScheme(app), slot, L, app.Data))
            values.append({slot, *value});
    }
    return values;
}

Note LinePlanner::blanksFor(int L) const
{
    QStringList details;
    for (int slot = 1; slot <= AllSlotCount; ++slot) {
        if (!isValueSlot(slot))
            continue;
        const QList<int> missing = MissingColumns(selectedScheme(app), slot, L, app.Data);
        if (missing.isEmpty())
            continue;
        QStringList columns;
        for (const int column : missing)
            columns.append(QString::number(column));
        details << SlotKey(slot) << columns.join(QLatin1Char(','));
    }
    if (details.isEmpty())
        return {};
    return {NoteCode::FieldsLeftBlank, details};
}

LinePlan LinePlanner::plan(int L) const
{
    LinePlan plan;
    plan.line = L;
    plan.row = app.Data.row(L);
    const Found &found = this->found[L - 1];
    plan.name = found.sheet;
    plan.source = JoinFolderAndName(app.ImagePath, found.name.isEmpty() ? found.sheet : found.name);
    plan.values = valuesFor(L);
    plan.blanks = blanksFor(L);
    QString output;
    if ((plan.problem = nameProblem(found, output)))
        return plan;
    plan.output = output;
    plan.outputKey = QDir::cleanPath(plan.output);
    plan.outputPath = JoinFolderAndName(app.SavePath, output);
    plan.problem = inspect(plan.output, plan.outputExists);
    // A photo's sidecar goes with it: the photo's output alone decides.
    if (!plan.problem && found.existed)
        plan.problem = {NoteCode::OutputExists, {}};
    if (plan.problem || !found.besides)
        return plan;
    if ((plan.problem = found.sidecarProblem))
        return plan;
    plan.sidecar = found.sidecar;
    plan.sidecarKey = QDir::cleanPath(plan.sidecar);
    plan.sidecarSource = found.sidecarSource;
    plan.sidecarNote = found.sidecarNote;
    plan.problem = inspect(plan.sidecar, plan.sidecarExists);
    return plan;
}

Note LinePlanner::inspect(const QString &output, bool &exists) const
{
    const SaveFolder::Target target = folder.inspect(output);
    exists = target.existing.has_value();
    if (target.problem)
        return target.problem;
    if (target.existing && sourceFiles.contains(*target.existing))
        return {NoteCode::WouldReplaceSource, {}};
    return {};
}

LineSettings LinePlanner::settingsFor(const AppState &state, const BatchOptions &options, const SaveFolder &folder)
{
    return {state.SavePath, folder.identity(), options.reencode, IsUnicode(state.Data.Encoding), options.maxMegapixels};
}

QStringList LinePlanner::outputNames() const
{
    QStringList names;
    for (const Found &each : found) {
        names.append(NameAsRelativePath(each.name.isEmpty() ? each.sheet : each.name));
    }
    return names;
}
