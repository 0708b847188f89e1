#pragma once

#include "engine/batchline.h"
#include "engine/metadata/tagreading.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// The messages between a run and its workers. Each is framed as its length
// (4 bytes, big-endian) and then its bytes, the first of which says what it
// is. A run sends a worker its settings once, then lines and releases; the
// worker greets once it is ready and answers each line. A check sends the
// same lines as Check requests; an export sends images whose tags to read.

// No message of this program's is larger; anything larger is garbage.
inline constexpr quint32 MaxWorkerMessageBytes = 64u << 20;
inline constexpr qsizetype FrameHeaderBytes = 4;

enum class WorkerMessage : quint8 {
    Settings = 'S', // run -> worker: LineSettings
    Line = 'L',     // run -> worker: a LinePlan without a problem
    Check = 'C',    // check -> worker: the same, to be done as the run does it up to the write, writing nothing
    Release = 'R',  // run -> worker: the lines whose outputs were put in place or given up
    Skip = 'K',     // run -> worker: leave the lines sent and not begun; answered with a Hello
    Hello = 'H',    // worker -> run: ready for lines (this one byte and nothing else)
    Answer = 'A',   // worker -> run: a WorkerAnswer
    ReadTags = 'T', // export -> worker: a LinePlan's line and source, the image whose tags to read
    Tags = 'G',     // worker -> export: the ImageTags of that image
};

// What a worker made of one line.
struct WorkerAnswer {
    int line = 0;
    LineOutcome outcome;
    std::optional<WrittenOutput> written; // for a written line: where its output waits
    std::optional<WrittenOutput> sidecar; // and its sidecar's, for a photo whose tags go beside it
    std::optional<ImageTags> tags;        // for an image whose tags were read; its outcome is then
                                          // Saved, or refused for the failure
    // For a checked line: where its tags would go, and a small preview of its
    // image (JPEG or PNG bytes, at most MaxThumbnailBytes), empty when none.
    std::optional<TagPlace> place;
    QByteArray thumbnail;
};

inline constexpr qsizetype MaxThumbnailBytes = 64 << 10;

// The answer for a line no worker wrote: it only has its outcome.
inline WorkerAnswer UnwrittenAnswer(int line, LineOutcome outcome)
{
    WorkerAnswer answer;
    answer.line = line;
    answer.outcome = std::move(outcome);
    return answer;
}

QByteArray EncodeSettings(const LineSettings &settings);
QByteArray EncodeLine(const LinePlan &plan, WorkerMessage kind = WorkerMessage::Line);
QByteArray EncodeRelease(const QList<int> &lines);
QByteArray EncodeHello();
QByteArray EncodeSkip();
QByteArray EncodeAnswer(const WorkerAnswer &answer);
QByteArray EncodeReadTags(const LinePlan &plan);
QByteArray EncodeTags(int line, const ImageTags &tags);

// One message as the worker reads it.
struct WorkerRequest {
    WorkerMessage kind = WorkerMessage::Line;
    LineSettings settings;
    LinePlan plan;
    QList<int> released;
};

// Decoders take a message's bytes without its length; nullopt when they
// are not exactly one message of the kinds each side reads.
std::optional<WorkerRequest> DecodeRequest(QByteArrayView bytes);
// Hello decodes to an answer for line 0.
std::optional<WorkerAnswer> DecodeAnswer(QByteArrayView bytes);

// The length a frame's header (FrameHeaderBytes at `header`) announces.
quint32 FrameLength(const char *header);

// Cuts a stream into messages as its bytes arrive.
class FrameReader {
public:
    void append(QByteArrayView bytes) { buffer.append(bytes.data(), bytes.size()); }
    // The next whole message, if one has arrived.
    std::optional<QByteArray> next();
    // A length above MaxWorkerMessageBytes was announced.
    bool garbled() const { return bad; }
    bool empty() const { return buffer.size() == taken; }

private:
    QByteArray buffer;
    qsizetype taken = 0;
    bool bad = false;
};
