#include "engine/lineplanner.h"

#include "engine/imagenames.h"
#include "engine/savefolder.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "engine/xmpsidecar.h"
#include "model/codepage.h"
#include "model/slotexpression.h"

#include <QDir>

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

LinePlanner::LinePlanner(const AppState &state, const BatchOptions &runOptions, const SaveFolder &saveFolder)
    : app(state), options(runOptions), folder(saveFolder)
{
    const ImageNames names(app.ImagePath, options.matching);
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
        if (const auto id = IdentityOf(source))
            sourceFiles.insert(*id);
        if (TagPlaceOf(FormatOfFileHead(source).format) != TagPlace::Sidecar)
            continue;
        found.besides = true;
        found.sidecarSource = ExistingSidecar(source, options.sidecarNaming);
        if (const auto id = IdentityOf(found.sidecarSource))
            sourceFiles.insert(*id);
    }
}

QList<TagValue> LinePlanner::valuesFor(int L) const
{
    QList<TagValue> values;
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        if (const auto value = EvaluateTagSlot(selectedScheme(app), slot, L, app.Data))
            values.append({slot, *value});
    }
    return values;
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
    if ((plan.problem = NameRefusal(plan.name)))
        return plan;
    if (!found.candidates.isEmpty()) {
        plan.problem = {NoteCode::AmbiguousName, found.candidates};
        return plan;
    }
    // The output is named after the file found, not the sheet's spelling.
    const QString output = OutputName(found.name, options);
    // The appended text may bring a character the name did not have.
    if ((plan.problem = NameRefusal(output)))
        return plan;
    plan.output = NameAsRelativePath(output);
    plan.outputKey = QDir::cleanPath(plan.output);
    plan.outputPath = JoinFolderAndName(app.SavePath, output);
    plan.problem = inspect(plan.output, plan.outputExists);
    if (plan.problem || !found.besides)
        return plan;
    plan.sidecar = SidecarName(plan.output, options.sidecarNaming);
    plan.sidecarKey = QDir::cleanPath(plan.sidecar);
    plan.sidecarSource = found.sidecarSource;
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

LineSettings LinePlanner::settings() const
{
    return {app.SavePath, folder.identity(), options.reencode, IsUnicode(app.Data.Encoding), options.maxMegapixels};
}

QStringList LinePlanner::outputNames() const
{
    QStringList names;
    for (const Found &each : found) {
        names.append(NameAsRelativePath(each.name.isEmpty() ? each.sheet : each.name));
    }
    return names;
}
