#include "engine/worker/linewriter.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmppacket.h"
#include "engine/metadata/xmpsidecar.h"
#include "engine/platform/outputfile.h"
#include "engine/run/lineplanner.h"
#include "engine/worker/reencode.h"
#include "engine/worker/thumbnail.h"



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

LineWriter::~LineWriter()
{
    CloseDescriptor(sink);
}

WorkerAnswer LineWriter::write(const LinePlan &plan)
{
    return line(plan, false);
}

WorkerAnswer LineWriter::check(const LinePlan &plan)
{
    return line(plan, true);
}

WorkerAnswer LineWriter::line(const LinePlan &plan, bool checking)
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
        return refuse({NoteCode::ReadFailed, {SystemError()}});
    auto temporary = std::make_unique<OutputTemporary>();
    // The check writes the same bytes into nothing, so that its notes are the run's.
    if (checking && sink < 0 && (sink = OpenDiscardingSink()) < 0)
        return refuse({NoteCode::WriteFailed, {SystemError()}});
    if (!checking) {
        if (Note why = temporary->create(folder, plan.output, *sourceIdentity))
            return refuse(why);
    }
    const int out = checking ? sink : temporary->handle();
    const TagEdit edit{plan.values, settings.unicodeData};
    const bool besides = TagPlaceOf(source.format()) == TagPlace::Sidecar;
    // The run planned this line before the file changed into one whose tags go beside it.
    if (besides && plan.sidecar.isEmpty())
        return refuse({NoteCode::ReadFailed, {QStringLiteral("the file changed during the run")}});
    std::unique_ptr<OutputTemporary> sidecar;
    if (besides) {
        // The sidecar first: a line whose sidecar cannot be made leaves no copy behind.
        SidecarOutcome made = writeSidecar(plan, edit, *sourceIdentity, checking ? nullptr : &sidecar);
        if (!made.outcome.written()) {
            answer.outcome = made.outcome;
            return answer;
        }
        answer.outcome = WriteUnchanged(source, out, {});
        if (answer.outcome.written())
            answer.outcome = made.outcome;
        if (checking && answer.outcome.written()) {
            if (!made.bytes.isEmpty())
                answer.sidecar = WrittenOutput();
            return checked(answer, source, made.bytes.isEmpty() ? TagPlace::Nowhere : TagPlace::Sidecar);
        }
    } else {
        answer.outcome = settings.reencode && ReencodingCovers(source.format())
            ? WriteReencoded(source, edit, plan.output, settings.maxMegapixels, out)
            : WriteTagsOnly(source, edit, *memory, out);
    }
    if (!answer.outcome.written())
        return answer;
    if (checking)
        return checked(answer, source, TagPlaceOf(source.format()));
    // The sidecar first: a temporary not finished is removed, so a failure leaves neither behind.
    WrittenOutput beside;
    if (sidecar) {
        if (Note why = sidecar->finish(beside))
            return refuse(why);
    }
    WrittenOutput written;
    if (Note why = temporary->finish(written)) {
        if (sidecar)
            sidecar->discard();
        return refuse(why);
    }
    if (sidecar) {
        answer.sidecar = beside;
        held.emplace(plan.line, std::move(sidecar));
    }
    answer.written = written;
    held.emplace(plan.line, std::move(temporary));
    return answer;
}

WorkerAnswer &LineWriter::checked(WorkerAnswer &answer, const SourceImage &source, TagPlace place) const
{
    answer.written = WrittenOutput();
    answer.place = place;
    // Last: the line's notes are made before the image library sees the file.
    if (answer.line <= settings.thumbnailLines)
        answer.thumbnail = Thumbnail(source, settings.maxMegapixels);
    return answer;
}

SidecarOutcome LineWriter::writeSidecar(const LinePlan &plan, const TagEdit &edit, const FileIdentity &sourceIdentity,
                                        std::unique_ptr<OutputTemporary> *temporary)
{
    SidecarFile existing;
    if (!plan.sidecarSource.isEmpty()) {
        existing = ReadSidecarFile(plan.sidecarSource);
        if (existing.failure)
            return {{}, LineOutcome::failed(existing.failure)};
    }
    SidecarOutcome made = WriteSidecar(plan.sidecarSource.isEmpty() ? nullptr : &existing.bytes, edit, *memory);
    if (!made.outcome.written() || made.bytes.isEmpty() || !temporary)
        return made;
    *temporary = std::make_unique<OutputTemporary>();
    Note why = (*temporary)->create(folder, plan.sidecar, sourceIdentity);
    if (!why) {
        if (const QString problem = WriteAt((*temporary)->handle(), made.bytes, 0); !problem.isEmpty())
            why = {NoteCode::WriteFailed, {problem}};
    }
    if (why) {
        temporary->reset();
        return {{}, LineOutcome::refused(why)};
    }
    return made;
}

void LineWriter::release(const QList<int> &lines)
{
    for (const int line : lines)
        held.erase(line); // the output and its sidecar
}
