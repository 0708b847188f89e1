#include "engine/metadata/tagreading.h"
#include "engine/metadata/xmppacket.h"
#include "model/tagslots.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {
using Slots = QMap<int, QString>;
using enum TagReadCode;

// An IIM block of record-2 datasets, declared UTF-8 by dataset 1:90 when asked.
QByteArray iim(const QList<std::pair<int, QByteArray>> &datasets, bool utf8 = false)
{
    QByteArray block = utf8 ? QByteArray("\x1c\x01\x5a\x00\x03\x1b%G", 8) : QByteArray();
    for (const auto &[dataset, bytes] : datasets)
        block += QByteArray("\x1c\x02") + char(dataset) + BigEndian(quint32(bytes.size()), 2) + bytes;
    return block;
}

// A packet as a run writes it for these values.
QByteArray runXmp(const Slots &values)
{
    QList<TagValue> list;
    for (auto it = values.begin(); it != values.end(); ++it)
        list.append({it.key(), it.value()});
    XmpMemory memory;
    return UpdateXmpPacket({}, list, memory).packet;
}

QByteArray xmpDate(const char *date)
{
    return QByteArray("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                      "<rdf:Description rdf:about='' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' "
                      "photoshop:DateCreated='")
        + date + "'/></rdf:RDF></x:xmpmeta>";
}

Slots valuesOf(const TagReading &read)
{
    Slots values;
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        if (!read.value(slot).isEmpty())
            values.insert(slot, read.value(slot));
    }
    return values;
}
} // namespace

TEST(TagReading, EachFieldComesFromWhereTheGuidelinesSayAndWhatCannotComeBackIsNamed)
{
    using enum IptcDigest;
    const QString caption = QStringLiteral("Two\r\nlines,\ta \"quote\"\nand\rmore");
    const QByteArray oldNew = iim({{120, "old"}, {90, "Oslo"}});
    const QByteArray c32(32, 'c');
    const struct {
        const char *what;
        QByteArray iim;
        QByteArray xmp;
        IptcDigest digest;
        Slots values;
        QList<TagReadNote> notes;
    } cases[] = {
        {"Latin-1 IPTC", iim({{120, "Caf\xe9 \x93q\x94"}, {25, "one"}, {25, "two"}, {55, "20240131"}, {60, "101530+0100\0"}}),
         {}, Absent, {{1, u"Café “q”"_qs}, {5, "one;two"}, {7, "20240131"}, {22, "101530+0100"}}, {}},
        {"UTF-8 IPTC", iim({{90, "\xc5\x81\xc3\xb3" "d\xc5\xba"}, {80, "A"}, {80, "B"}, {101, "caf\xe9"}}, true), {}, Absent,
         {{8, u"Łódź"_qs}, {11, u"caf\ufffd"_qs}, {13, "A;B"}}, {{NotUtf8, 11, {}}, {Repeated, 13, {"2"}}}},
        {"XMP only, as a run writes it", {},
         runXmp({{1, caption}, {5, "k1;k2"}, {7, "20240131"}, {13, "Ann"}, {19, "5"}, {22, "101530+0100"}}), Absent,
         {{1, caption}, {5, "k1;k2"}, {7, "20240131"}, {13, "Ann"}, {19, "5"}, {22, "101530+0100"}}, {}},
        {"both, no digest", oldNew, runXmp({{1, "new"}}), Absent, {{1, "new"}, {8, "Oslo"}}, {{Disagrees, 1, {"IPTC", "old"}}}},
        {"both, digest matches", oldNew, runXmp({{1, "new"}}), Matches, {{1, "new"}, {8, "Oslo"}}, {{Disagrees, 1, {"IPTC", "old"}}}},
        {"both, digest differs", oldNew, runXmp({{1, "new"}}), Differs, {{1, "old"}, {8, "Oslo"}}, {{Disagrees, 1, {"XMP", "new"}}}},
        {"digest differs, IPTC lacks the field", iim({{90, "Oslo"}}), runXmp({{1, "new"}}), Differs, {{8, "Oslo"}},
         {{Disagrees, 1, {"XMP", "new"}}}},
        {"IPTC cut at its limit", iim({{90, c32}}), runXmp({{8, c32 + "more"}}), Differs, {{8, c32 + "more"}}, {}},
        {"caption with line breaks, TABs and quotes", iim({{120, caption.toLatin1()}}), runXmp({{1, caption}}), Matches,
         {{1, caption}}, {}},
        {"list items that would not split back", iim({{25, "a;b"}, {25, ""}, {20, "s"}}), {}, Absent,
         {{5, "a;b;"}, {18, "s"}}, {{ListItemSplit, 5, {"a;b"}}, {ListItemSplit, 5, {""}}}},
        {"XMP date without a time beside an IIM time", iim({{55, "20240130"}, {60, "101530+0100"}}),
         xmpDate("2024-01-31"), Absent, {{7, "20240131"}, {22, "101530+0100"}},
         {{Disagrees, 7, {"IPTC", "20240130 101530+0100"}}}},
        {"XMP date that IIM cannot hold", iim({{60, "101530+0100"}}), xmpDate("2024-01-31T10:15:30"), Absent,
         {{7, "2024-01-31T10:15:30"}}, {{DateForm, 7, {"2024-01-31T10:15:30"}}, {Disagrees, 7, {"IPTC", "101530+0100"}}}},
        {"IIM time out of form, XMP without a time", iim({{55, "20240131"}, {60, "135926.054-0600"}}), xmpDate("2024-01-31"), Differs,
         {{7, "20240131"}, {22, "135926.054-0600"}}, {{Refused, 22, {"135926.054-0600"}}}},
        {"XMP time in Z, whole fraction", {}, xmpDate("2024-01-31T10:15:30.00Z"), Absent,
         {{7, "20240131"}, {22, "101530+0000"}}, {}},
        {"IIM already over its limit, and a value a run refuses", iim({{90, c32 + "xx"}, {10, "12"}}), {}, Absent,
         {{8, c32 + "xx"}, {19, "12"}}, {{OverLimit, 8, {"34", "32"}}, {Refused, 19, {"12"}}}},
        {"Windows-1252 IIM that a run from a Unicode data file writes in UTF-8", iim({{90, QByteArray(16, '\xe9') + QByteArray(16, 'a')}}),
         {}, Absent, {{8, QString(16, u'é') + QString(16, 'a')}}, {{GrowsInUtf8, 8, {"48", "32"}}}},
        {"unreadable XMP", iim({{90, "Oslo"}}), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF", Absent, {{8, "Oslo"}},
         {{XmpUnreadable, 0, {}}}},
        {"nothing", {}, {}, Absent, {}, {}},
    };
    for (const auto &c : cases) {
        // As an export into a UTF-8 data file reads them.
        const TagReading read = ReadTagSlots(c.iim, c.xmp, c.digest, true);
        EXPECT_EQ(valuesOf(read), c.values) << c.what;
        EXPECT_EQ(read.notes, c.notes) << c.what;
    }
}

// ExifTool's MWG module reads the same files field by field, its digest included.
TEST(TagReading, FollowsExifToolsMwgReadingOfRealFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jpg");
    const QString state(32, 'S');
    const struct {
        const char *digest;
        IptcDigest expected;
    } cases[] = {{"", IptcDigest::Absent}, {"new", IptcDigest::Matches},
                 {"00112233445566778899aabbccddeeff", IptcDigest::Differs}};
    for (const auto &c : cases) {
        MakeImage(path, "jpg");
        RunTool("exiftool", {"-q", "-overwrite_original", "-charset", "iptc=Latin", "-IPTC:Caption-Abstract=Old caption",
                             "-XMP-dc:Description=New caption", "-IPTC:Keywords=a", "-IPTC:Keywords=b", "-XMP-dc:Subject=c",
                             "-IPTC:City=Zürich", "-XMP-photoshop:City=Bern", "-IPTC:Province-State=" + state,
                             "-XMP-photoshop:State=" + state + "more", "-IPTC:By-line=Ann", "-XMP-dc:Creator=Bob",
                             "-IPTC:CopyrightNotice=(c) A", "-XMP-photoshop:Country=Norway",
                             "-IPTC:DateCreated=2024:01:31", "-IPTC:TimeCreated=10:15:30+01:00",
                             "-XMP-photoshop:DateCreated=2023:05:06 07:08:09+02:00",
                             QStringLiteral("-Photoshop:IPTCDigest=") + c.digest, path});
        const FileTags tags = ReadTags(path);
        const QByteArray block = QByteArray::fromBase64(tags.tags.value("IPTC:IPTC").mid(7).toLatin1());
        std::optional<QByteArray> stored;
        if (tags.tags.contains("Photoshop:IPTCDigest"))
            stored = QByteArray::fromHex(tags.tags.value("Photoshop:IPTCDigest").toLatin1());
        ASSERT_EQ(DigestState(stored, block), c.expected) << c.digest;

        const TagReading read = ReadTagSlots(block, RunTool("exiftool", {"-b", "-XMP", path}), c.expected);
        const QString date = read.value(DateCreatedSlot);
        const QString time = read.value(TimeCreatedSlot);
        const QString dateTime = date.left(4) + ':' + date.mid(4, 2) + ':' + date.mid(6) + ' ' + time.left(2) + ':'
            + time.mid(2, 2) + ':' + time.mid(4, 5) + ':' + time.mid(9);
        for (const auto &[tag, value] : {std::pair{"MWG:Description", read.value(1)}, {"MWG:Keywords", read.value(5)},
                                         {"MWG:City", read.value(8)}, {"MWG:State", read.value(9)},
                                         {"MWG:Country", read.value(11)}, {"MWG:Creator", read.value(13)},
                                         {"MWG:Copyright", read.value(20)}, {"MWG:DateTimeOriginal", dateTime}})
            EXPECT_EQ(tags.tags.value(tag), value) << tag << ' ' << c.digest;
    }
}
