#include "model/codepage.h"
#include "model/datafile.h"
#include "model/datafilewriter.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QStringEncoder>
#include <QTemporaryDir>

namespace {
class DataFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    IptcDataFile data;

    DataFileResult load(const QByteArray &bytes, std::optional<TextEncoding> forced = std::nullopt)
    {
        WriteFileBytes(dir.filePath("data.txt"), bytes);
        return LoadDataFile(dir.filePath("data.txt"), data, forced);
    }

    QString cell(int line, int field) const { return data.FieldGrid.cell(line, field).toString(); }
};
} // namespace

TEST_F(DataFileTest, EveryLineEndStyleGivesTheSameLinesAndBlankLinesAreSkipped)
{
    for (const QByteArray &eol : {QByteArray("\r\n"), QByteArray("\r"), QByteArray("\n")}) {
        const QByteArray text = "   " + eol + "Name\tCity" + eol + eol + "img1.jpg\tRome" + eol + "  " + eol
            + "\t" + eol + "img2.jpg\t Oslo " + eol + eol;
        const DataFileResult result = load(text);
        ASSERT_EQ(result.problem.kind(), Problem::Kind::None);
        EXPECT_EQ(result.summary, QStringLiteral("IPTC data file contains 4 entries each consisting of 2 tags"));
        ASSERT_EQ(data.LastDataLine, 3);
        EXPECT_EQ(data.DataLines[0], QStringLiteral("Name\tCity"));
        EXPECT_EQ(cell(1, 2), QStringLiteral("Rome"));
        // A TAB-only line is not blank: two empty fields.
        EXPECT_EQ(data.DataLines[2], QStringLiteral("\t"));
        EXPECT_EQ(cell(2, 1), QString());
        EXPECT_EQ(cell(3, 2), QStringLiteral(" Oslo "));
        // Rows as the file numbers them, blank lines counted.
        EXPECT_EQ(data.Rows, (QList<int>{2, 4, 6, 7}));
    }
    // Mixed line ends in one file, and a last line without an end.
    load("H\r\na\rb\nc\r\n\rd");
    EXPECT_EQ(data.DataLines, (QStringList{"H", "a", "b", "c", "d"}));
}

TEST_F(DataFileTest, FieldsSplitByPositionWithEmptyCellsBeyondEachLinesEnd)
{
    load("h1\th2\th3\th4\th5\n"
         "a\tb\n"
         "\tlead\n"
         "trail\t\n"
         "x\ty\tz\tw\tv\textra\n");
    EXPECT_EQ(data.FieldCount, 6); // the widest line wins, header or not
    const QList<QStringList> rows{{"a", "b", "", "", "", ""}, {"", "lead", "", "", "", ""},
                                  {"trail", "", "", "", "", ""}, {"x", "y", "z", "w", "v", "extra"}};
    ASSERT_EQ(data.FieldGrid.rowCount(), rows.size());
    for (int line = 1; line <= 4; ++line) {
        for (int field = 1; field <= 6; ++field)
            EXPECT_EQ(cell(line, field), rows[line - 1][field - 1]) << line << ',' << field;
    }
    // Outside the grid there is nothing, never another line's text.
    for (const auto &[line, field] : {std::pair{0, 1}, {5, 1}, {1, 7}, {1, 0}})
        EXPECT_EQ(cell(line, field), QString());

    const DataFileResult headerOnly = load("only\ta header\r\n");
    EXPECT_EQ(headerOnly.summary, QStringLiteral("IPTC data file contains 1 entries each consisting of 2 tags"));
    EXPECT_EQ(data.FieldGrid.rowCount(), 0);

    const DataFileResult nothing = load("  \r\n\r\n");
    EXPECT_EQ(nothing.summary, QStringLiteral("IPTC data file contains 0 entries each consisting of 1 tags"));
    EXPECT_EQ(data.LastDataLine, -1);
    EXPECT_TRUE(data.DataLines.isEmpty());
}

TEST_F(DataFileTest, ASecondFileReplacesEverythingOfTheFirstButNotACopysGrid)
{
    load("h\th\th\n1\t2\t3\n4\t5\t6\n7\t8\t9\n");
    const IptcDataFile copy = data;
    load("h\n only \n");
    EXPECT_EQ(data.LastDataLine, 1);
    EXPECT_EQ(data.FieldCount, 1);
    EXPECT_EQ(data.FieldGrid.rowCount(), 1);
    EXPECT_EQ(cell(1, 1), QStringLiteral(" only "));
    EXPECT_EQ(cell(2, 1), QString());
    EXPECT_EQ(cell(1, 2), QString());
    EXPECT_EQ(copy.FieldGrid.cell(3, 2).toString(), QStringLiteral("8"));
}

TEST_F(DataFileTest, MissingAndUnreadableFilesLeaveTheTablesUntouched)
{
    load("h\tc\nimg.jpg\tRome\n");
    const QStringList linesBefore = data.DataLines;

    const auto kind = [this](const QString &path) { return LoadDataFile(path, data).problem.kind(); };
    EXPECT_EQ(kind(dir.filePath(QStringLiteral("nope.txt"))), Problem::Kind::MissingFile);
    EXPECT_EQ(kind(dir.path()), Problem::Kind::MissingFile);

    // A path through a plain file names nothing.
    EXPECT_EQ(kind(dir.filePath("data.txt/inside.txt")), Problem::Kind::MissingFile);
    // A file that opens but fails to read; even root cannot read the start
    // of its own address space.
    const DataFileResult failingRead = LoadDataFile(QStringLiteral("/proc/self/mem"), data);
    EXPECT_EQ(failingRead.problem.kind(), Problem::Kind::Stated);
    EXPECT_FALSE(failingRead.problem.text().isEmpty());
    EXPECT_EQ(data.DataLines, linesBefore);
    EXPECT_EQ(data.LastDataLine, 1);
    EXPECT_EQ(data.FieldCount, 2);
    EXPECT_EQ(cell(1, 2), QStringLiteral("Rome"));
}

TEST_F(DataFileTest, EveryByteOfTheCodePageSurvivesTheRoundTrip)
{
    QByteArray all;
    for (int b = 0x20; b < 0x100; ++b)
        all.append(char(b));
    load("header\n" + all + "\n");
    ASSERT_EQ(data.LastDataLine, 1);
    const QString text = data.DataLines[1];
    bool exact = false;
    EXPECT_EQ(EncodeAnsi(text, &exact), all);
    EXPECT_TRUE(exact);
    EXPECT_EQ(text[0xE9 - 0x20], QChar(0x00E9));
    EXPECT_EQ(text[0x80 - 0x20], QChar(0x20AC)); // the euro sign
    EXPECT_EQ(text[0x81 - 0x20], QChar(0x0081)); // undefined in the code page

    EXPECT_EQ(EncodeAnsi(QStringLiteral("日本"), &exact), QByteArray("??"));
    EXPECT_FALSE(exact);
}

TEST_F(DataFileTest, EncodingComesFromTheMarkOrTheBytesUnlessForced)
{
    using enum TextEncoding;
    // A leading blank line: an unstripped byte-order mark would make it the header.
    const QString text = u"\r\nh\tc\r\na.jpg\tŁódź Αθήνα 東京\rb\n"_qs;
    const QString unicode = u"Łódź Αθήνα 東京"_qs;
    auto utf16 = [&](QStringConverter::Encoding encoding, QStringConverter::Flags flags) {
        return QByteArray(QStringEncoder(encoding, flags).encode(text));
    };
    const QByteArray utf16be = utf16(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
    const struct {
        const char *what;
        QByteArray bytes;
        std::optional<TextEncoding> forced;
        TextEncoding read;
        QString cell;
    } cases[] = {
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text.toUtf8(), {}, Utf8, unicode},
        {"UTF-8 without mark", text.toUtf8(), {}, Utf8, unicode},
        {"UTF-16 LE", utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom), {}, Utf16LE, unicode},
        {"UTF-16 BE", utf16be, {}, Utf16BE, unicode},
        {"curly apostrophe and em dash", "h\tc\na.jpg\tit\x92s \x97 so\n", {}, Windows1252, u"it\u2019s \u2014 so"_qs},
        {"pure ASCII", "h\tc\na.jpg\tplain\n", {}, Windows1252, "plain"},
        {"invalid UTF-8", "h\tc\na.jpg\tcaf\xE9 \xC3\xA9\n", {}, Windows1252, u"caf\u00E9 \u00C3\u00A9"_qs},
        {"overlong UTF-8", "h\tc\na.jpg\t\xC0\xAF\n", {}, Windows1252, u"\u00C0\u00AF"_qs},
        {"forced UTF-8 on invalid bytes", "h\tc\na.jpg\tcaf\xE9\n", Utf8, Utf8, u"caf\uFFFD"_qs},
        {"forced Windows-1252 on UTF-8", "h\tc\na.jpg\t\xC3\xA9\n", Windows1252, Windows1252, u"\u00C3\u00A9"_qs},
        {"forced Windows-1250", "h\tc\na.jpg\t\xA3\xF3\x64\x9F\n", Windows1250, Windows1250, u"Łódź"_qs},
        {"forced Windows-1251", "h\tc\na.jpg\t\xCC\xEE\xF1\xEA\xE2\xE0\n", Windows1251, Windows1251, u"Москва"_qs},
        {"forced UTF-16 takes the mark's order", utf16be, Utf16LE, Utf16BE, unicode},
        {"forced UTF-16 without mark", utf16(QStringConverter::Utf16LE, {}), Utf16LE, Utf16LE, unicode},
        {"UTF-16 with a lone last byte", QByteArrayLiteral("\xFF\xFEh\0\n\0a\0\t\0b\0c"), {}, Utf16LE, u"b\uFFFD"_qs},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(load(c.bytes, c.forced).problem.kind(), Problem::Kind::None) << c.what;
        EXPECT_EQ(data.Encoding, c.read) << c.what;
        // Also proves the CR LF and CR line ends were found in every encoding.
        EXPECT_EQ(cell(1, 2), c.cell) << c.what;
    }
}

TEST_F(DataFileTest, OneVeryWideLineAmongManyCostsOnlyItsOwnFields)
{
    const QByteArray bytes = "h\n" + QByteArray(50000, '\t') + "last\n" + QByteArray("a.jpg\tx\n").repeated(199999);
    ASSERT_EQ(load(bytes).problem.kind(), Problem::Kind::None);
    EXPECT_EQ(data.FieldCount, 50001);
    EXPECT_EQ(cell(1, 50001), QStringLiteral("last"));
    EXPECT_EQ(cell(200000, 2), QStringLiteral("x"));

    // A quote that never closes is passed over once, not once a line.
    ASSERT_EQ(load("h\n\"open\n" + QByteArray("x\t\"\"\ty\n").repeated(200000)).problem.kind(), Problem::Kind::None);
    EXPECT_EQ(cell(1, 1), QStringLiteral("\"open"));
    EXPECT_EQ(cell(200001, 3), QStringLiteral("y"));
}

// A spreadsheet's quoted fields are one value each; everything else reads as it always did.
TEST_F(DataFileTest, QuotedFieldsReadAsSpreadsheetsWriteThemAndOtherFieldsAsBefore)
{
    const struct {
        QByteArray text; // the header row is "h\t\"x\ty\"\r\n"
        QList<QStringList> lines;
        QList<int> rows;
    } cases[] = {
        // As Excel and LibreOffice save them: TABs, line ends and doubled quotes inside quotes.
        {"\"a\tb\"\t\"one\r\ntwo\nthree\"\t\"say \"\"hi\"\"\"\r\n\r\nnext\t\"\"\t\"\"\"\"\r\n",
         {{"a\tb", "one\r\ntwo\nthree", "say \"hi\""}, {"next", "", "\""}}, {2, 6}},
        {"a\t\"b\rc\"\td\n\"  \"\n\"last\"", {{"a", "b\rc", "d"}, {"  "}, {"last"}}, {2, 4, 5}},
        // A quote not at a field's start, text after the closing quote, a quote never closed.
        {"5\" print\tsaid \"no\"\n\"Title\" by X\ty\n", {{"5\" print", "said \"no\""}, {"\"Title\" by X", "y"}}, {2, 3}},
        {"\"open\tb\r\nnext\t\"c\n", {{"\"open", "b"}, {"next", "\"c"}}, {2, 3}},
        {"\"\"\"\tx\n\"a\"\"b\tc\n", {{"\"\"\"", "x"}, {"\"a\"\"b", "c"}}, {2, 3}},
    };
    for (const auto &c : cases) {
        load("h\t\"x\ty\"\r\n" + c.text);
        EXPECT_EQ(data.FieldGrid.headerCell(2).toString(), QStringLiteral("x\ty")) << c.text.constData();
        QList<QStringList> lines;
        for (int L = 1; L <= data.LastDataLine; ++L) {
            QStringList fields;
            for (int k = 1; k <= data.FieldGrid.fieldCount(L); ++k)
                fields << cell(L, k);
            EXPECT_EQ(fields.join(QLatin1Char('\t')), data.DataLines[L]);
            lines << fields;
        }
        EXPECT_EQ(lines, c.lines) << c.text.constData();
        EXPECT_EQ(data.Rows.mid(1), c.rows) << c.text.constData();
    }
}

TEST_F(DataFileTest, WrittenFilesReadBackTheSameFieldsAndRefuseWhatTheyCannotHold)
{
    const QStringList header{"File", "Caption\tlong", "\"Keywords\""};
    QList<QStringList> rows{{"a.jpg", "two\r\nlines\nand\rmore", "x;\"y\";z"},
                            {" b.jpg ", "\t", "\"\"", "5\" print", "end\"", "caf\u00e9 \u20ac"},
                            {"   "}, {}, {"", "", ""}, {"\r\n"}, {"\"start"}};
    for (const DataFileFormat format : {DataFileFormat{}, DataFileFormat{TextEncoding::Windows1252, false},
                                        DataFileFormat{TextEncoding::Utf16BE, true}}) {
        const QString path = dir.filePath("out.txt");
        QFile::remove(path);
        ASSERT_TRUE(WriteDataFile(path, header, rows, format).written());
        const QByteArray bytes = ReadFileBytes(path);
        EXPECT_TRUE(format.encoding != TextEncoding::Utf8 || bytes.startsWith("\xEF\xBB\xBF" "File\t\"Caption\tlong\"\t\"\"\"Keywords\"\"\"\r\n"));
        ASSERT_TRUE(LoadDataFile(path, data, format.encoding).loaded());
        ASSERT_EQ(data.LastDataLine, rows.size());
        for (int k = 1; k <= header.size(); ++k)
            EXPECT_EQ(data.FieldGrid.headerCell(k).toString(), header[k - 1]);
        for (int L = 1; L <= rows.size(); ++L) {
            EXPECT_EQ(data.FieldGrid.fieldCount(L), std::max<qsizetype>(rows[L - 1].size(), 1));
            for (int k = 1; k <= data.FieldCount; ++k)
                EXPECT_EQ(cell(L, k), rows[L - 1].value(k - 1)) << L << ',' << k;
        }
    }
    // Nothing is replaced unless asked, and nothing half-written is left.
    const QString path = dir.filePath("out.txt");
    const QByteArray before = ReadFileBytes(path);
    EXPECT_EQ(WriteDataFile(path, header, {}).problem.kind(), Problem::Kind::FileExists);
    rows[1][3] = QStringLiteral("\u65e5\u672c");
    const DataFileWriteResult refused = WriteDataFile(path, header, rows, {TextEncoding::Windows1252}, true);
    EXPECT_EQ(refused.problem.kind(), Problem::Kind::Stated);
    ASSERT_EQ(refused.unheld.size(), 1);
    EXPECT_EQ(std::pair(refused.unheld[0].row, refused.unheld[0].column), std::pair(3, 4));
    // Every value it cannot hold is named, up to a bound, and the rest counted.
    const DataFileWriteResult many = WriteDataFile(path, header, QList<QStringList>(60, {"\u0141", "a", "\u65e5"}),
                                                   {TextEncoding::Windows1252}, true);
    EXPECT_EQ(many.unheld.size(), MaxUnheldNamed);
    EXPECT_EQ(many.moreUnheld, 120 - MaxUnheldNamed);
    EXPECT_EQ(std::pair(many.unheld[1].row, many.unheld[1].column), std::pair(2, 3));
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});
    EXPECT_TRUE(WriteDataFile(path, {"only"}, {}, {}, true).written());
    EXPECT_EQ(ReadFileBytes(path), QByteArray("\xEF\xBB\xBF" "only\r\n"));
    EXPECT_EQ(WriteDataFile(dir.filePath("no/such/folder.txt"), header, {}).problem.kind(), Problem::Kind::Stated);
}
