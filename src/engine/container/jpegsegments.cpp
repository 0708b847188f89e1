#include "engine/container/jpegsegments.h"

#include "engine/platform/bytereader.h"

#include <cstring>

JpegLayout JpegSegments(QByteArrayView file)
{
    JpegLayout layout;
    const unsigned char *data = Bytes(file);
    const qsizetype size = file.size();
    qsizetype pos = 2;
    while (pos < size) {
        if (data[pos] != 0xFF || (pos + 1 < size && data[pos + 1] == 0x00)) {
            // Bytes that start no marker: libjpeg skips them to the next 0xFF, and so does this walk.
            const qsizetype from = data[pos] == 0xFF ? pos + 2 : pos;
            const void *next = from < size ? std::memchr(data + from, 0xFF, size_t(size - from)) : nullptr;
            if (!next)
                return layout; // what ends the file is no segment
            const qsizetype to = static_cast<const unsigned char *>(next) - data;
            layout.stray += to - pos;
            pos = to;
            continue;
        }
        if (pos + 2 > size)
            break;
        const unsigned char marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA) {
            layout.scan = pos;
            layout.whole = true;
            break;
        }
        if (marker == 0xD9) {
            layout.whole = true;
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            pos += 2;
            continue;
        }
        if (pos + 4 > size)
            break;
        const qsizetype length = Be16(data + pos + 2);
        if (length < 2 || pos + 2 + length > size)
            break;
        layout.segments.append({marker, pos, pos + 4, pos + 2 + length});
        pos += 2 + length;
    }
    // Segments that end with the file are a whole file without an end marker.
    if (pos == size)
        layout.whole = true;
    return layout;
}
