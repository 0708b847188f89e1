#include "engine/batchcheck.h"

#include "engine/sourceimage.h"
#include "engine/iimvalues.h"
#include "model/tagslots.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {
bool isCountryCode(const QString &text)
{
    return text.size() == 3
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isLetter() && c.unicode() < 0x80; });
}

// Why a fixed-form value would be wrong in IIM; empty when it is right.
QString formProblem(const TagValue &value)
{
    const QString key = SlotKey(value.slot);
    switch (slotInfo(value.slot).role) {
    case SlotRole::Date:
        if (!IsIimDate(value.text))
            return QStringLiteral("%1 \"%2\" is not a date in the form CCYYMMDD").arg(key, value.text);
        break;
    case SlotRole::Time:
        if (!IsIimTime(value.text))
            return QStringLiteral("%1 \"%2\" is not a time in the form HHMMSS+HHMM or HHMMSS-HHMM").arg(key, value.text);
        break;
    case SlotRole::Digit:
        if (value.text.size() != 1 || value.text.at(0) < u'1' || value.text.at(0) > u'8')
            return QStringLiteral("%1 \"%2\" is not a digit from 1 to 8").arg(key, value.text);
        break;
    case SlotRole::Code:
        if (!isCountryCode(value.text))
            return QStringLiteral("%1 \"%2\" is not a three-letter country code").arg(key, value.text);
        break;
    case SlotRole::Text:
    case SlotRole::List:
    case SlotRole::Name:
        break;
    }
    return {};
}

QStringList valueProblems(const QList<TagValue> &values, const LineSettings &settings)
{
    QStringList problems;
    QList<TagValue> freeText;
    bool ascii = true;
    for (const TagValue &value : values) {
        ascii = ascii && IsAscii(value.text);
        const SlotRole role = slotInfo(value.slot).role;
        if (role == SlotRole::Text || role == SlotRole::List)
            freeText.append(value);
        else if (const QString problem = formProblem(value); !problem.isEmpty())
            problems << problem;
    }
    // Lengths are counted as the tags-only writer will encode them; a source
    // that itself declares UTF-8 is not opened to find out.
    const bool utf8 = settings.unicodeData && !ascii;
    return problems + ToIimValues(freeText, utf8).warnings;
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
