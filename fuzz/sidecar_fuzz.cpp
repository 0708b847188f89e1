// Whatever a photo's existing sidecar holds, the sidecar made from it
// either fails its line or carries the new caption and reads back as XMP.
#include "engine/metadata/xmppacket.h"
#include "engine/metadata/xmpsidecar.h"
#include "fuzzcheck.h"

#include <cstdint>

namespace {
// Sidecars are a few kilobytes; longer inputs only slow each run down.
constexpr size_t MaxInput = 64 * 1024;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput)
        return -1;
    static XmpMemory memory;
    const QByteArray existing(reinterpret_cast<const char *>(input), qsizetype(size));
    const SidecarOutcome made = WriteSidecar(&existing, TagEdit{{{1, QStringLiteral("fuzz caption")}}, true}, memory);
    if (!made.outcome.written())
        return 0;
    Require(made.bytes.contains("fuzz caption"), "a written sidecar carries the caption");
    // Made again from itself, it must read: what a line wrote, the next run builds on.
    const SidecarOutcome again = WriteSidecar(&made.bytes, TagEdit{{{1, QStringLiteral("fuzz caption")}}, true}, memory);
    Require(again.outcome.written(), "a written sidecar reads back");
    return 0;
}
