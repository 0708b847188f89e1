#include "engine/batchcheck.h"

#include "engine/sourceimage.h"
#include "engine/iimvalues.h"
#include "engine/notetext.h"
#include "model/tagslots.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {
QStringList valueProblems(const QList<TagValue> &values, const LineSettings &settings)
{
    bool ascii = true;
    for (const TagValue &value : values)
        ascii = ascii && IsAscii(value.text);
    // Lengths are counted as the tags-only writer will encode them; a source
    // that itself declares UTF-8 is not opened to find out.
    QStringList problems;
    for (const Note &note : ToIimValues(values, settings.unicodeData && !ascii).notes)
        problems << NoteText(note);
    return problems;
}
} // namespace

qsizetype BatchCheck::problemLines() const
{
    return std::count_if(lines.begin(), lines.end(), [](const CheckedLine &line) { return !line.problems.isEmpty(); });
}

BatchCheck CheckBatch(const BatchState &state, const AppState &app, const BatchOptions &options)
{
    BatchCheck check;
    check.refusal = RunRefusal(state, app);
    if (check.refused())
        return check;
    const BatchRun run(app, options);
    const LineSettings settings = LineSettingsFor(run);
    QHash<QString, int> outputLines; // output -> the first line that writes it
    for (int L = 1; L <= run.app.Data.LastDataLine; ++L) {
        CheckedLine line{PlanLine(run, L), {}};
        const LinePlan &plan = line.plan;
        if (plan.problem)
            line.problems << plan.problem.text();
        else if (DetectFormat(plan.source) == ImageFormat::Unknown)
            line.problems << UnknownImageMessage;
        if (!plan.output.refusal && !plan.output.path.isEmpty()) {
            const int first = outputLines.value(plan.output.key(), 0);
            if (first > 0)
                line.problems << QStringLiteral("the output would replace that of line %1").arg(first);
            else if (QFileInfo::exists(plan.output.path))
                line.problems << QStringLiteral("the output would replace an existing file");
            if (first == 0)
                outputLines.insert(plan.output.key(), L);
        }
        line.problems << valueProblems(plan.values, settings);
        check.lines.append(std::move(line));
    }
    return check;
}
