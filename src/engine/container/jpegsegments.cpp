#include "engine/container/jpegsegments.h"

#include "engine/platform/bytereader.h"

JpegLayout JpegSegments(QByteArrayView file)
{
    JpegLayout layout;
    ByteReader reader(file, 2);
    while (!reader.atEnd()) {
        const qsizetype pos = reader.at();
        if (reader.peek() != 0xFF || reader.peek(1) == 0x00) {
            // Bytes that start no marker: libjpeg skips them to the next 0xFF, and so does this walk.
            reader.skip(reader.peek() == 0xFF ? 2 : 0);
            if (!reader.skipTo(0xFF))
                return layout; // what ends the file is no segment
            layout.stray += reader.at() - pos;
            continue;
        }
        reader.skip(1);
        const int marker = reader.u8();
        if (!reader.ok())
            return layout;
        if (marker == 0xFF) { // fill byte
            reader.seek(pos + 1);
            continue;
        }
        if (marker == 0xDA) {
            layout.scan = pos;
            layout.whole = true;
            return layout;
        }
        if (marker == 0xD9) {
            layout.whole = true;
            return layout;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) // no length
            continue;
        const qsizetype length = reader.u16();
        if (!reader.ok() || length < 2 || !reader.skip(length - 2))
            return layout;
        layout.segments.append({quint8(marker), pos, pos + 4, reader.at()});
    }
    // Segments that end with the file are a whole file without an end marker.
    layout.whole = reader.ok();
    return layout;
}
