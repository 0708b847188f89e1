// Whatever bytes a worker or a run sends, cutting them into messages and
// decoding them ends, allocates no more than the bytes justify, and a
// message that decodes encodes to bytes that decode to the same message.
#include "engine/run/workerprotocol.h"
#include "fuzzcheck.h"

#include <cstdint>

namespace {
constexpr size_t MaxInput = 256 * 1024;

// The message's bytes as this side would send it again, without its length.
QByteArray again(const WorkerRequest &request)
{
    switch (request.kind) {
    case WorkerMessage::Settings:
        return EncodeSettings(request.settings);
    case WorkerMessage::Line:
    case WorkerMessage::Check:
        return EncodeLine(request.plan, request.kind);
    case WorkerMessage::Skip:
        return EncodeSkip();
    case WorkerMessage::Release:
        return EncodeRelease(request.released);
    case WorkerMessage::ReadTags:
        return EncodeReadTags(request.plan);
    default:
        return {};
    }
}

QByteArray again(const WorkerAnswer &answer)
{
    if (answer.line == 0)
        return EncodeHello();
    return answer.tags ? EncodeTags(answer.line, *answer.tags) : EncodeAnswer(answer);
}

template <typename Decode> void stable(const QByteArray &frame, Decode decode)
{
    const auto first = decode(frame);
    if (!first)
        return;
    const QByteArray bytes = again(*first).mid(FrameHeaderBytes);
    const auto second = decode(bytes);
    Require(second.has_value(), "an encoded message decodes");
    Require(again(*second).mid(FrameHeaderBytes) == bytes, "decoding and encoding again changes nothing");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput || size < 1)
        return -1;
    const QByteArray stream(reinterpret_cast<const char *>(input), qsizetype(size));
    // The first byte chooses how the stream arrives: in pieces of that many bytes.
    const qsizetype piece = 1 + uchar(stream[0]);
    FrameReader reader;
    for (qsizetype at = 1; at < stream.size() && !reader.garbled(); at += piece) {
        reader.append(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at)));
        while (const std::optional<QByteArray> frame = reader.next()) {
            stable(*frame, [](QByteArrayView bytes) { return DecodeRequest(bytes); });
            stable(*frame, [](QByteArrayView bytes) { return DecodeAnswer(bytes); });
        }
    }
    return 0;
}
