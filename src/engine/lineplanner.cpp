#include "engine/lineplanner.h"

#include "engine/savefolder.h"
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
    // Outputs must never land on a file that any line reads, whatever name
    // reaches it.
    for (int L = 1; L <= lines(); ++L) {
        fileNames.append(EvaluateFileNameSlot(selectedScheme(app), L, app.Data));
        if (NameRefusal(fileNames.last()))
            continue;
        if (const auto id = IdentityOf(JoinFolderAndName(app.ImagePath, fileNames.last())))
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
    plan.name = fileNames[L - 1];
    plan.source = JoinFolderAndName(app.ImagePath, plan.name);
    plan.values = valuesFor(L);
    if ((plan.problem = NameRefusal(plan.name)))
        return plan;
    const QString output = OutputName(plan.name, options);
    // The appended text may bring a character the name did not have.
    if ((plan.problem = NameRefusal(output)))
        return plan;
    plan.output = NameAsRelativePath(output);
    plan.outputKey = QDir::cleanPath(plan.output);
    plan.outputPath = JoinFolderAndName(app.SavePath, output);
    const SaveFolder::Target target = folder.inspect(plan.output);
    plan.outputExists = target.existing.has_value();
    if (target.problem)
        plan.problem = target.problem;
    else if (target.existing && sourceFiles.contains(*target.existing))
        plan.problem = {NoteCode::WouldReplaceSource, {}};
    return plan;
}

LineSettings LinePlanner::settings() const
{
    return {app.SavePath, folder.identity(), options.reencode, IsUnicode(app.Data.Encoding), options.maxMegapixels};
}

QStringList LinePlanner::outputNames() const
{
    QStringList names;
    for (const QString &name : fileNames)
        names.append(NameAsRelativePath(name));
    return names;
}
