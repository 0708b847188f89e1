#include "engine/run/workerprotocol.h"

#include "model/xmpfields.h"

#include <QDataStream>
#include <QIODevice>

namespace {
// More is no line of this program's.
constexpr qint64 MaxValuesPerLine = 1024;
constexpr qint64 MaxNotesPerLine = 1024;
constexpr qint64 MaxDetailsPerNote = 256;
constexpr qint64 MaxReleasedPerMessage = 1 << 20;
constexpr qint64 MaxTagNotes = 1024;

// Both sides are one build, but the format should not drift with Qt's default.
QDataStream &versioned(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_6_0);
    return stream;
}

// A message of `kind` whose body `write` puts on the stream, framed.
template <typename Write> QByteArray message(WorkerMessage kind, Write write)
{
    QByteArray bytes(FrameHeaderBytes, '\0');
    {
        QDataStream stream(&bytes, QIODevice::WriteOnly | QIODevice::Append);
        versioned(stream) << quint8(kind);
        write(stream);
    }
    const quint32 size = quint32(bytes.size() - FrameHeaderBytes);
    for (int i = 0; i < FrameHeaderBytes; ++i)
        bytes[i] = char(size >> (8 * (FrameHeaderBytes - 1 - i)));
    return bytes;
}

QDataStream &operator<<(QDataStream &stream, const FileIdentity &id)
{
    return stream << id.device << id.inode;
}

QDataStream &operator>>(QDataStream &stream, FileIdentity &id)
{
    return stream >> id.device >> id.inode;
}

bool readWhole(const QDataStream &stream)
{
    return stream.status() == QDataStream::Ok && stream.atEnd();
}

// A list's count is checked before anything is taken for it: Qt's own
// reading reserves room for whatever count the bytes claim.
QDataStream &readDetails(QDataStream &stream, QStringList &details)
{
    quint32 count = 0;
    stream >> count;
    if (count > MaxDetailsPerNote) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return stream;
    }
    details.clear();
    for (quint32 n = 0; n < count && stream.status() == QDataStream::Ok; ++n) {
        QString detail;
        stream >> detail;
        details.append(detail);
    }
    return stream;
}

bool noteCode(qint32 code)
{
    return code >= 0 && code < int(NoteCode::EndOfNoteCodes);
}

std::optional<WorkerAnswer> decodeTags(QDataStream &stream)
{
    qint32 line = 0;
    ImageTags tags;
    stream >> line;
    for (QString &value : tags.values)
        stream >> value;
    qint64 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok || line < 1 || count < 0 || count > MaxTagNotes)
        return std::nullopt;
    for (qint64 n = 0; n < count; ++n) {
        qint32 code = 0;
        qint32 slot = 0;
        TagReadNote note;
        stream >> code >> slot;
        readDetails(stream, note.details);
        if (stream.status() != QDataStream::Ok || code < 0 || code >= int(TagReadCode::EndOfTagReadCodes) || slot < 0
            || slot > AllSlotCount)
            return std::nullopt;
        note.code = TagReadCode(code);
        note.slot = slot;
        tags.notes.append(note);
    }
    qint32 failure = 0;
    stream >> failure;
    readDetails(stream, tags.failure.details);
    if (!readWhole(stream) || !noteCode(failure))
        return std::nullopt;
    tags.failure.code = NoteCode(failure);
    WorkerAnswer answer;
    answer.line = line;
    answer.outcome = tags.failure ? LineOutcome::refused(tags.failure) : LineOutcome::saved({});
    answer.tags = std::move(tags);
    return answer;
}

// The stream over `bytes` past its first byte, when that is `kind`.
bool opens(QDataStream &stream, WorkerMessage &kind)
{
    quint8 first = 0;
    versioned(stream) >> first;
    kind = WorkerMessage(first);
    return stream.status() == QDataStream::Ok;
}
} // namespace

QByteArray EncodeSettings(const LineSettings &settings)
{
    return message(WorkerMessage::Settings, [&](QDataStream &stream) {
        stream << settings.saveFolder << settings.saveFolderIdentity << settings.reencode << settings.unicodeData
               << qint32(settings.maxMegapixels) << qint32(settings.thumbnailLines);
    });
}

QByteArray EncodeLine(const LinePlan &plan, WorkerMessage kind)
{
    return message(kind, [&](QDataStream &stream) {
        stream << qint32(plan.line) << plan.name << plan.source << plan.output << plan.sidecar << plan.sidecarSource
               << qint64(plan.values.size());
        for (const TagValue &value : plan.values)
            stream << qint32(value.slot) << value.text;
    });
}

QByteArray EncodeRelease(const QList<int> &lines)
{
    return message(WorkerMessage::Release, [&](QDataStream &stream) {
        stream << qint64(lines.size());
        for (const int line : lines)
            stream << qint32(line);
    });
}

QByteArray EncodeHello()
{
    return message(WorkerMessage::Hello, [](QDataStream &) {});
}

QByteArray EncodeSkip()
{
    return message(WorkerMessage::Skip, [](QDataStream &) {});
}

QByteArray EncodeAnswer(const WorkerAnswer &answer)
{
    return message(WorkerMessage::Answer, [&](QDataStream &stream) {
        stream << qint32(answer.line) << qint32(answer.outcome.status) << qint64(answer.outcome.notes.size());
        for (const Note &note : answer.outcome.notes)
            stream << qint32(note.code) << note.details;
        for (const auto *written : {&answer.written, &answer.sidecar}) {
            stream << written->has_value();
            if (*written)
                stream << (*written)->temporary << (*written)->folder << (*written)->file << (*written)->bytes;
        }
        stream << qint8(answer.place ? int(*answer.place) : -1) << answer.thumbnail;
    });
}

QByteArray EncodeReadTags(const LinePlan &plan)
{
    return message(WorkerMessage::ReadTags, [&](QDataStream &stream) { stream << qint32(plan.line) << plan.source; });
}

QByteArray EncodeTags(int line, const ImageTags &tags)
{
    return message(WorkerMessage::Tags, [&](QDataStream &stream) {
        stream << qint32(line);
        for (const QString &value : tags.values)
            stream << value;
        stream << qint64(tags.notes.size());
        for (const TagReadNote &note : tags.notes)
            stream << qint32(note.code) << qint32(note.slot) << note.details;
        stream << qint32(tags.failure.code) << tags.failure.details;
    });
}

std::optional<WorkerRequest> DecodeRequest(QByteArrayView bytes)
{
    const QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
    QDataStream stream(data);
    WorkerRequest request;
    if (!opens(stream, request.kind))
        return std::nullopt;
    switch (request.kind) {
    case WorkerMessage::Settings: {
        LineSettings &settings = request.settings;
        qint32 limit = 0;
        qint32 thumbnails = 0;
        stream >> settings.saveFolder >> settings.saveFolderIdentity >> settings.reencode >> settings.unicodeData >> limit
            >> thumbnails;
        settings.thumbnailLines = thumbnails;
        settings.maxMegapixels = limit;
        return readWhole(stream) && limit > 0 ? std::optional(request) : std::nullopt;
    }
    case WorkerMessage::Line:
    case WorkerMessage::Check: {
        LinePlan &plan = request.plan;
        qint32 line = 0;
        qint64 count = 0;
        stream >> line >> plan.name >> plan.source >> plan.output >> plan.sidecar >> plan.sidecarSource >> count;
        if (stream.status() != QDataStream::Ok || count < 0 || count > MaxValuesPerLine)
            return std::nullopt;
        plan.line = line;
        for (qint64 n = 0; n < count; ++n) {
            qint32 slot = 0;
            QString text;
            stream >> slot >> text;
            if (!isValueSlot(slot))
                return std::nullopt;
            plan.values.append({slot, text});
        }
        return readWhole(stream) ? std::optional(request) : std::nullopt;
    }
    case WorkerMessage::ReadTags: {
        qint32 line = 0;
        stream >> line >> request.plan.source;
        request.plan.line = line;
        return readWhole(stream) && line > 0 ? std::optional(request) : std::nullopt;
    }
    case WorkerMessage::Skip:
        return stream.atEnd() ? std::optional(request) : std::nullopt;
    case WorkerMessage::Release: {
        qint64 count = 0;
        stream >> count;
        if (stream.status() != QDataStream::Ok || count < 0 || count > MaxReleasedPerMessage)
            return std::nullopt;
        for (qint64 n = 0; n < count && stream.status() == QDataStream::Ok; ++n) {
            qint32 line = 0;
            stream >> line;
            request.released.append(line);
        }
        return readWhole(stream) ? std::optional(request) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<WorkerAnswer> DecodeAnswer(QByteArrayView bytes)
{
    const QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
    QDataStream stream(data);
    WorkerMessage kind {};
    if (!opens(stream, kind))
        return std::nullopt;
    if (kind == WorkerMessage::Hello)
        return stream.atEnd() ? std::optional(WorkerAnswer()) : std::nullopt;
    if (kind == WorkerMessage::Tags)
        return decodeTags(stream);
    if (kind != WorkerMessage::Answer)
        return std::nullopt;
    WorkerAnswer answer;
    qint32 line = 0;
    qint32 status = -1;
    qint64 count = 0;
    stream >> line >> status >> count;
    if (stream.status() != QDataStream::Ok || line < 1 || status < int(LineStatus::Saved)
        || status > int(LineStatus::Skipped) || count < 0 || count > MaxNotesPerLine)
        return std::nullopt;
    answer.line = line;
    answer.outcome.status = LineStatus(status);
    for (qint64 n = 0; n < count; ++n) {
        qint32 code = 0;
        Note note;
        stream >> code;
        readDetails(stream, note.details);
        if (stream.status() != QDataStream::Ok || code <= 0 || code >= int(NoteCode::EndOfNoteCodes))
            return std::nullopt;
        note.code = NoteCode(code);
        answer.outcome.notes.append(note);
    }
    for (auto *written : {&answer.written, &answer.sidecar}) {
        bool has = false;
        stream >> has;
        if (has) {
            WrittenOutput output;
            stream >> output.temporary >> output.folder >> output.file >> output.bytes;
            *written = output;
        }
    }
    qint8 place = -1;
    stream >> place;
    if (place < -1 || place > qint8(TagPlace::Nowhere))
        return std::nullopt;
    if (place >= 0)
        answer.place = TagPlace(place);
    quint32 thumbnailBytes = 0;
    stream >> thumbnailBytes;
    // Counted before Qt reserves room for what the bytes claim.
    if (thumbnailBytes != 0xFFFFFFFFu && thumbnailBytes > quint32(MaxThumbnailBytes))
        return std::nullopt;
    if (thumbnailBytes != 0xFFFFFFFFu && thumbnailBytes > 0) {
        answer.thumbnail.resize(thumbnailBytes);
        if (stream.readRawData(answer.thumbnail.data(), int(thumbnailBytes)) != int(thumbnailBytes))
            return std::nullopt;
    }
    // A written line has its output; a line not written has none, nor a sidecar.
    if (!readWhole(stream) || answer.written.has_value() != answer.outcome.written() || (answer.sidecar && !answer.written))
        return std::nullopt;
    return answer;
}

quint32 FrameLength(const char *header)
{
    quint32 size = 0;
    for (int i = 0; i < FrameHeaderBytes; ++i)
        size = (size << 8) | uchar(header[i]);
    return size;
}

std::optional<QByteArray> FrameReader::next()
{
    if (bad || buffer.size() - taken < FrameHeaderBytes)
        return std::nullopt;
    const quint32 size = FrameLength(buffer.constData() + taken);
    if (size > MaxWorkerMessageBytes) {
        bad = true;
        return std::nullopt;
    }
    if (buffer.size() - taken - FrameHeaderBytes < qsizetype(size))
        return std::nullopt;
    QByteArray frame = buffer.mid(taken + FrameHeaderBytes, size);
    taken += FrameHeaderBytes + size;
    // Keeps the buffer from growing with every message.
    if (taken == buffer.size()) {
        buffer.clear();
        taken = 0;
    } else if (taken > (1 << 16)) {
        buffer.remove(0, taken);
        taken = 0;
    }
    return frame;
}
