#include "engine/linewriter.h"

#include "engine/lineplanner.h"
#include "engine/reencode.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "engine/xmppacket.h"

#include <cerrno>
#include <cstring>

Note OpenLineSource(SourceImage &source, const QString &path)
{
    if (Note why = source.open(path))
        return why;
    if (source.format() == ImageFormat::Unknown)
        return {NoteCode::UnknownType, {}};
    return {};
}

LineWriter::LineWriter(const LineSettings &lineSettings)
    : settings(lineSettings), memory(std::make_unique<XmpMemory>())
{
    if (const QString why = folder.open(settings.saveFolder, settings.saveFolderIdentity); !why.isEmpty())
        folderProblem = {NoteCode::SaveFolderChanged, {why}};
}

LineWriter::~LineWriter() = default;

WorkerAnswer LineWriter::write(const LinePlan &plan)
{
    WorkerAnswer answer;
    answer.line = plan.line;
    const auto refuse = [&answer](Note why) {
        answer.outcome = LineOutcome::refused(std::move(why));
        return answer;
    };
    if (folderProblem)
        return refuse(folderProblem);
    // The run refuses these names; a worker does not rely on it.
    if (Note why = NameRefusal(plan.output))
        return refuse(why);
    SourceImage source;
    if (Note why = OpenLineSource(source, plan.source))
        return refuse(why);
    const auto sourceIdentity = IdentityOf(source.handle());
    if (!sourceIdentity)
        return refuse({NoteCode::ReadFailed, {QString::fromLocal8Bit(std::strerror(errno))}});
    auto temporary = std::make_unique<OutputTemporary>();
    if (Note why = temporary->create(folder, plan.output, *sourceIdentity))
        return refuse(why);
    const TagEdit edit{plan.values, settings.unicodeData};
    answer.outcome = settings.reencode && ReencodingCovers(source.format())
        ? WriteReencoded(source, edit, plan.output, settings.maxMegapixels, temporary->handle())
        : WriteTagsOnly(source, edit, temporary->handle(), *memory);
    if (!answer.outcome.written())
        return answer;
    WrittenOutput written;
    if (Note why = temporary->finish(written))
        return refuse(why);
    answer.written = written;
    held[plan.line] = std::move(temporary);
    return answer;
}

void LineWriter::release(const QList<int> &lines)
{
    for (const int line : lines)
        held.erase(line);
}
