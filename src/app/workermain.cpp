// brindleway-worker: writes the lines a batch run hands it (or, for a check,
// does all but the write), or reads the tags of the images an export hands
// it, one at a time, so that whatever an image library does with a file ends
// this process rather than the run. Requests come on standard input, answers
// go out on standard output, each as workerprotocol.h frames them.
#include "engine/platform/workerprocess.h"
#include "engine/run/workerprotocol.h"
#include "engine/worker/imagetags.h"
#include "engine/worker/linewriter.h"

#include <QByteArray>

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <optional>

namespace {
// The next message; nullopt at the end of input (`ended`) or when it is broken.
std::optional<WorkerRequest> readRequest(bool &ended)
{
    char header[FrameHeaderBytes];
    if (!ReadExactly(STDIN_FILENO, header, sizeof header, &ended))
        return std::nullopt;
    const quint32 size = FrameLength(header);
    if (size > MaxWorkerMessageBytes)
        return std::nullopt;
    QByteArray request(qsizetype(size), Qt::Uninitialized);
    if (!ReadExactly(STDIN_FILENO, request.data(), request.size()))
        return std::nullopt;
    return DecodeRequest(request);
}
} // namespace

int main(int argc, char **)
{
    // Run by hand it would wait for requests on standard input and say nothing.
    if (argc > 1 || InputIsTerminal()) {
        std::fputs("brindleway-worker: not meant to be run by hand; brindleway and brindleway-batch start it\n", stderr);
        return 2;
    }
    LimitWorkerResources();
    // Answers get a descriptor of their own; what a library prints on
    // standard output goes to standard error instead of into an answer.
    const int answers = TakeAnswerChannel();
    if (answers < 0)
        return 2;
    bool ended = false;
    const auto first = readRequest(ended);
    if (!first || first->kind != WorkerMessage::Settings)
        return ended ? 0 : 2;
    LineWriter writer(first->settings);
    if (!WriteAll(answers, EncodeHello()))
        return 2;
    // The run sends a few lines ahead. Whatever has come is read before each
    // line, so that a Skip (a cancel) passes the lines sent before it.
    std::deque<WorkerRequest> lines;
    bool closed = false; // the lines already read are still answered
    for (;;) {
        while (!closed && (lines.empty() || InputWaiting(STDIN_FILENO))) {
            auto request = readRequest(ended);
            if (!request && !ended)
                return 2;
            if (!request) {
                closed = true;
                break;
            }
            if (request->kind == WorkerMessage::Release) {
                writer.release(request->released);
            } else if (request->kind == WorkerMessage::Skip) {
                lines.clear();
                if (!WriteAll(answers, EncodeHello()))
                    return 2;
            } else if (request->kind == WorkerMessage::Line || request->kind == WorkerMessage::Check
                       || request->kind == WorkerMessage::ReadTags) {
                lines.push_back(std::move(*request));
            } else {
                return 2;
            }
        }
        if (lines.empty())
            return 0;
        const WorkerRequest request = std::move(lines.front());
        lines.pop_front();
        QByteArray answer;
        if (request.kind == WorkerMessage::ReadTags)
            answer = EncodeTags(request.plan.line, ReadImageTagsAt(request.plan.source, first->settings.unicodeData));
        else if (request.kind == WorkerMessage::Check)
            answer = EncodeAnswer(writer.check(request.plan));
        else
            answer = EncodeAnswer(writer.write(request.plan));
        if (!WriteAll(answers, answer))
            return 2;
    }
}
