#include "model/settingsstore.h"

#include "model/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <QSet>

#include <algorithm>
#include <new>
#include <functional>
#include <map>
#include <set>
#include <vector>
#include <iterator>
#include <optional>
#include <utility>

namespace {
// Section and key names never hold a line break, so this pair is unambiguous.
QString seenKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('\n') + key;
}

// UTF-8 to text, keeping a leading U+FEFF that QString::fromUtf8 would drop.
QString fromUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// Far beyond any real store; refused so a stray device or huge file is never read whole.
constexpr qint64 MaxStoreBytes = 64 * 1024 * 1024;

bool isHexDigit(char16_t ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

int digitValue(char ch, int base)
{
    const int value = ch >= '0' && ch <= '9' ? ch - '0'
                      : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                      : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                               : 99;
    return value < base ? value : -1;
}

// The text QSettings writes for a string, which every earlier version of this
// program used: older copies of the program still read what we write.
QByteArray encodeValue(const QString &value)
{
    QString text = value;
    if (text.contains(QChar::Null))
        text = QStringLiteral("@String(") + text + QLatin1Char(')');
    else if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    QByteArray out;
    out.reserve(text.size() * 3 / 2);
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(ch)) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        static constexpr char Named[][2] = {{'\a', 'a'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'},
                                            {'\t', 't'}, {'\v', 'v'}, {'"', '"'},   {'\\', '\\'}};
        const auto named = std::find_if(std::begin(Named), std::end(Named), [ch](const char *n) { return n[0] == ch; });
        if (ch == 0) {
            out += "\\0";
            escapeNextIfDigit = true;
        } else if (named != std::end(Named)) {
            out += '\\';
            out += (*named)[1];
        } else if (ch <= 0x1F) {
            out += "\\x" + QByteArray::number(ch, 16);
            escapeNextIfDigit = true;
        } else if (ch < 0x80) {
            out += char(ch);
        } else {
            const bool pair = QChar::isHighSurrogate(ch) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
            out += text.mid(i, pair ? 2 : 1).toUtf8();
            i += pair ? 1 : 0;
        }
    }
    if (needsQuotes || out.startsWith(' ') || out.endsWith(' '))
        out = '"' + out + '"';
    return out;
}

// Undoes encodeValue; nullopt for text it cannot have written.
std::optional<QString> decodeEncoded(QByteArrayView raw)
{
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
        raw = raw.sliced(1, raw.size() - 2);
    QString out;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < raw.size();) {
        if (raw[i] == '"')
            return std::nullopt;
        if (raw[i] != '\\') {
            ++i;
            continue;
        }
        out += fromUtf8(raw.sliced(runStart, i - runStart));
        if (++i == raw.size())
            return std::nullopt;
        const char escape = raw[i++];
        static constexpr char Named[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'},
                                            {'t', '\t'}, {'v', '\v'}, {'"', '"'},   {'\\', '\\'}};
        const auto named =
            std::find_if(std::begin(Named), std::end(Named), [escape](const char *n) { return n[0] == escape; });
        if (named != std::end(Named)) {
            out += QLatin1Char((*named)[1]);
        } else if (escape == 'x' || digitValue(escape, 8) >= 0) {
            const int base = escape == 'x' ? 16 : 8;
            char16_t code = escape == 'x' ? 0 : char16_t(escape - '0');
            const qsizetype digitsStart = i;
            for (; i < raw.size() && digitValue(raw[i], base) >= 0; ++i)
                code = char16_t(code * base + digitValue(raw[i], base));
            if (base == 16 && i == digitsStart)
                return std::nullopt;
            out += QChar(code);
        } else {
            return std::nullopt;
        }
        runStart = i;
    }
    out += fromUtf8(raw.sliced(runStart));
    if (out.startsWith(QLatin1String("@String(")) && out.endsWith(QLatin1Char(')')))
        return out.sliced(8).chopped(1);
    if (out.startsWith(QLatin1String("@@")))
        return out.sliced(1);
    return out;
}

// Text in exactly the form encodeValue gives is what it encodes; anything
// else, hand-edited, means what it says.
QString decodeValue(QByteArrayView raw)
{
    const std::optional<QString> decoded = decodeEncoded(raw);
    if (decoded && encodeValue(*decoded) == raw)
        return *decoded;
    return fromUtf8(raw);
}

struct StoreFile {
    bool exists = false;
    QByteArray bytes;
    QString error; // set when the file is there but cannot be read
};

StoreFile readStoreFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (info.isSymLink() && !info.exists())
        return {true, {}, QStringLiteral("it is a link to %1, which does not exist")
                              .arg(QDir::toNativeSeparators(info.symLinkTarget()))};
    if (!info.exists())
        return {};
    if (info.isDir())
        return {true, {}, QStringLiteral("it is a folder")};
    if (!info.isFile())
        return {true, {}, QStringLiteral("it is not a plain file")};
    const QString tooLarge =
        QStringLiteral("it is larger than %1 MB, far too large for a scheme store").arg(MaxStoreBytes / (1024 * 1024));
    if (info.size() > MaxStoreBytes)
        return {true, {}, tooLarge};
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {true, {}, file.errorString()};
    StoreFile result{true, file.readAll(), {}};
    if (file.error() != QFileDevice::NoError)
        result.error = file.errorString();
    else if (result.bytes.size() > MaxStoreBytes)
        result.error = tooLarge;
    return result;
}

bool writeFileAtomically(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

// Lines end with "\n", "\r\n" or "\r".
struct LineSpan {
    qsizetype start = 0;
    qsizetype stop = 0; // where its line end begins
    qsizetype next = 0; // where the line after it begins
};

LineSpan lineAt(QByteArrayView text, qsizetype start)
{
    qsizetype stop = start;
    while (stop < text.size() && text[stop] != '\n' && text[stop] != '\r')
        ++stop;
    const qsizetype end = stop == text.size() ? 0 : text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n' ? 2 : 1;
    return {start, stop, stop + end};
}

QByteArrayView trimmedView(QByteArrayView bytes)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    qsizetype from = 0;
    qsizetype to = bytes.size();
    while (from < to && space(bytes[from]))
        ++from;
    while (to > from && space(bytes[to - 1]))
        --to;
    return bytes.sliced(from, to - from);
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

struct IniLine {
    enum Kind { Blank, Comment, Header, Entry, Broken };
    Kind kind = Blank;
    QByteArrayView name; // Header: between the brackets; Entry: before the '='; untrimmed

    static IniLine of(QByteArrayView text)
    {
        const QByteArrayView trimmed = trimmedView(text);
        if (trimmed.isEmpty())
            return {Blank, {}};
        if (trimmed.startsWith(';') || trimmed.startsWith('#'))
            return {Comment, {}};
        if (trimmed.startsWith('[')) {
            const QByteArrayView inner = trimmed.size() >= 2 ? trimmed.sliced(1, trimmed.size() - 2) : QByteArrayView();
            const bool header = trimmed.endsWith(']') && !fromUtf8(inner).trimmed().isEmpty();
            return {header ? Header : Broken, inner};
        }
        const qsizetype equals = text.indexOf('=');
        if (equals > 0 && !trimmedView(text.first(equals)).isEmpty())
            return {Entry, text.first(equals)};
        return {Broken, {}};
    }
    QString decodedName() const { return fromUtf8(name).trimmed(); }
    // Whether the name is `wanted` (whose UTF-8 is `utf8`), decoding only where bytes cannot tell.
    bool named(const QString &wanted, const QByteArray &utf8) const
    {
        const QByteArrayView trimmed = trimmedView(name);
        if (isAscii(utf8) && isAscii(trimmed))
            return trimmed == utf8;
        return decodedName() == wanted;
    }
};

bool isText(QByteArrayView line)
{
    return !line.contains('\0') && (isAscii(line) || fromUtf8(line).toUtf8() == line);
}

// A line a save replaces or removes, as the consent question names it.
struct LostLine {
    QByteArrayView text;
    IniLine::Kind kind;
    QString name;
    int number;
};
using LossSink = std::function<void(const LostLine &, const QString &section)>;

// Losses as a save finds them, for the consent question.
struct IniLoss {
    QString section;
    QString reason;
    int line;
    QString key;
};

// One line for each run of losses in one section for one reason.
QStringList describeLosses(const QList<IniLoss> &losses)
{
    constexpr qsizetype NamedKeys = 3;
    QStringList described;
    for (qsizetype i = 0; i < losses.size();) {
        const IniLoss &first = losses.at(i);
        qsizetype j = i + 1;
        while (j < losses.size() && losses.at(j).section == first.section && losses.at(j).reason == first.reason)
            ++j;
        QStringList keys;
        for (qsizetype k = i; k < j && keys.size() < NamedKeys; ++k) {
            if (!losses.at(k).key.isEmpty())
                keys << losses.at(k).key;
        }
        if (j - i > NamedKeys)
            keys << QStringLiteral("%1 more").arg(j - i - NamedKeys);
        QStringList where{first.section.isEmpty() ? QString() : QStringLiteral("[%1]").arg(first.section),
                          keys.join(QStringLiteral(", "))};
        if (first.line != 0 && j - i == 1)
            where << QStringLiteral("(line %1)").arg(first.line);
        else if (first.line != 0)
            where << QStringLiteral("(lines %1 to %2)").arg(first.line).arg(losses.at(j - 1).line);
        where.removeAll(QString());
        described << where.join(QLatin1Char(' ')) + QStringLiteral(": ") + first.reason;
        i = j;
    }
    return described;
}
} // namespace

QString PrintableName(const QString &name)
{
    constexpr qsizetype Longest = 40;
    QString shown = name.size() > Longest ? name.left(Longest) + QStringLiteral("...") : name;
    for (QChar &ch : shown) {
        if (ch.category() == QChar::Other_Control || ch.category() == QChar::Other_Format || ch.isSurrogate())
            ch = QChar::ReplacementCharacter;
    }
    return shown;
}

// The file's text as read, and an index of its section and key lines: the
// lines between (blank, comments, lines not understood) live only in the
// text, so that a file of short lines costs little more than its bytes.
// A save's changes are kept beside the text until it is written out.
struct IniDocument {
    enum Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE };
    Encoding encoding = Utf8;
    bool brokenEncoding = false; // UTF-16 with broken characters, replaced when read
    QByteArray text;             // UTF-8; a byte-order mark stays in front of `begin`
    qsizetype begin = 0;
    std::vector<quint32> marks;  // where each section and key line begins, in file order
    std::vector<std::pair<uint, quint32>> sectionIndex; // (hash of the name, mark) of each section line, sorted
    std::vector<quint32> lineBreaks; // line breaks before each CheckpointBytes of text, so that a line's number is found quickly
    QStringList problems;

    static IniDocument parse(const QByteArray &bytes);
    QByteArray serialize() const;
    // The key line whose value counts: the last of the key in the last block of the section; -1 when none.
    qsizetype find(const QString &section, const QString &key) const;
    LineSpan span(qsizetype mark) const { return lineAt(text, marks[size_t(mark)]); }
    QByteArrayView lineText(qsizetype mark) const
    {
        const LineSpan line = span(mark);
        return QByteArrayView(text).sliced(line.start, line.stop - line.start);
    }
    IniLine line(qsizetype mark) const { return IniLine::of(lineText(mark)); }
    bool isHeader(qsizetype mark) const { return trimmedView(lineText(mark)).startsWith('['); }
    int numberAt(qsizetype at) const;
    bool breaksAt(qsizetype i) const; // whether a line ends at byte i
    // The section lines of `section` that a save has not removed, in file order.
    QList<qsizetype> blocks(const QString &section) const;
    // One past the last mark of the block that begins at `header`.
    qsizetype blockEnd(qsizetype header) const;

    QStringList sectionNames(qsizetype most) const;
    QStringList keyNames(const QString &section, qsizetype most) const;

    void set(const QString &section, const QString &key, const QString &value, const LossSink &lost);
    void remove(const QString &section, const LossSink &lost);

private:
    static constexpr qsizetype CheckpointBytes = 4096;
    static constexpr qsizetype MaxProblems = 200;
    struct NewSection {
        QString name;
        QList<std::pair<QString, QByteArray>> entries; // key, line
    };
    QByteArray lineEnd() const;
    qsizetype insertionPoint(qsizetype header) const;
    void forEachLineOf(qsizetype header, const std::function<void(const LineSpan &, int number)> &visit) const;

    std::map<qsizetype, QByteArray> replaced;         // mark -> its new line
    std::set<qsizetype> removedBlocks;                 // section lines whose blocks a save removed
    QSet<QString> removedSections;
    std::map<qsizetype, QList<std::pair<QString, QByteArray>>> added; // section line -> key lines after its block
    QList<NewSection> appended;
};

IniDocument IniDocument::parse(const QByteArray &bytes)
{
    IniDocument doc;
    doc.text = bytes;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        doc.encoding = Utf8Bom;
        doc.begin = 3;
    } else if (const TextEncoding marked = DetectEncoding(QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 2)));
               marked == TextEncoding::Utf16LE || marked == TextEncoding::Utf16BE) {
        doc.encoding = marked == TextEncoding::Utf16LE ? Utf16LE : Utf16BE;
        const QString decoded = DecodeText(bytes, marked);
        doc.text = decoded.toUtf8();
        // A lone last byte reads as U+FFFD, an unpaired surrogate as '?'.
        bool unpaired = false;
        for (qsizetype i = 0; i < decoded.size() && !unpaired; ++i) {
            const QChar c = decoded.at(i);
            if (c.isHighSurrogate() && i + 1 < decoded.size() && decoded.at(i + 1).isLowSurrogate())
                ++i;
            else
                unpaired = c.isSurrogate();
        }
        doc.brokenEncoding = bytes.size() % 2 != 0 || unpaired;
        if (doc.brokenEncoding)
            doc.problems << QStringLiteral("the file is UTF-16 text with broken characters");
    }
    const QByteArrayView text(doc.text);

    // Counted first, so that the index takes no more room than it needs.
    qsizetype marks = 0;
    qsizetype entries = 0;
    for (qsizetype pos = doc.begin; pos < text.size();) {
        const LineSpan line = lineAt(text, pos);
        const IniLine::Kind kind = IniLine::of(text.sliced(pos, line.stop - pos)).kind;
        marks += kind == IniLine::Header || kind == IniLine::Entry;
        entries += kind == IniLine::Entry;
        pos = line.next;
    }
    doc.marks.reserve(size_t(marks));
    doc.lineBreaks.reserve(size_t(text.size() / CheckpointBytes + 1));
    quint32 breaks = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i % CheckpointBytes == 0)
            doc.lineBreaks.push_back(breaks);
        breaks += i >= doc.begin && doc.breaksAt(i);
    }
    if (text.size() % CheckpointBytes == 0)
        doc.lineBreaks.push_back(breaks);

    // Keys given twice in a section: (hash of section and key, mark) sorted, each later one then
    // paired with the one before it. Only the later lines' numbers go into the problems.
    // Their index would take more than twice the file only for a file of little but the shortest key lines.
    const bool lookForRepeats = entries * qsizetype(sizeof(std::pair<uint, quint32>)) <= 2 * text.size();
    std::vector<std::pair<uint, quint32>> keyed;
    keyed.reserve(size_t(lookForRepeats ? entries : 0));
    QString section;
    uint sectionHash = 0;
    qsizetype number = 1;
    for (qsizetype pos = doc.begin; pos < text.size(); ++number) {
        const LineSpan line = lineAt(text, pos);
        const IniLine parsed = IniLine::of(text.sliced(pos, line.stop - pos));
        if (parsed.kind == IniLine::Header) {
            section = parsed.decodedName();
            sectionHash = qHash(section);
            doc.sectionIndex.emplace_back(sectionHash, quint32(doc.marks.size()));
        }
        if (parsed.kind == IniLine::Entry && !section.isEmpty() && lookForRepeats)
            keyed.emplace_back(sectionHash ^ (qHash(parsed.decodedName()) * 0x9E3779B1u), quint32(doc.marks.size()));
        if (parsed.kind == IniLine::Header || parsed.kind == IniLine::Entry)
            doc.marks.push_back(quint32(pos));
        pos = line.next;
    }
    std::sort(doc.sectionIndex.begin(), doc.sectionIndex.end());
    std::sort(keyed.begin(), keyed.end());
    // Each later line of a key, with the line of the same key just before it.
    qsizetype repeats = 0;
    for (size_t i = 0; i < keyed.size();) {
        size_t j = i + 1;
        while (j < keyed.size() && keyed[j].first == keyed[i].first)
            ++j;
        for (size_t k = i + 1; k < j; ++k) {
            for (size_t earlier = k; earlier-- > i;) {
                if (doc.line(keyed[earlier].second).decodedName() == doc.line(keyed[k].second).decodedName()) {
                    keyed[size_t(repeats++)] = {keyed[earlier].second, keyed[k].second};
                    break;
                }
            }
        }
        i = j;
    }
    keyed.resize(size_t(repeats));
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.second < b.second; });

    // The problems in line order, as many as a report can show, then how many more.
    qsizetype unlisted = 0;
    const auto problem = [&](const auto &text) {
        if (doc.problems.size() < MaxProblems)
            doc.problems << text();
        else
            ++unlisted;
    };
    if (!lookForRepeats)
        problem([&] { return QStringLiteral("keys given twice are not looked for among %1 key lines of a few bytes each").arg(entries); });
    section.clear();
    auto repeat = keyed.cbegin();
    qsizetype mark = 0;
    number = 1;
    for (qsizetype pos = doc.begin; pos < text.size(); ++number) {
        const LineSpan line = lineAt(text, pos);
        const QByteArrayView lineBytes = text.sliced(pos, line.stop - pos);
        const IniLine parsed = IniLine::of(lineBytes);
        pos = line.next;
        if (parsed.kind == IniLine::Header)
            section = parsed.decodedName();
        const auto where = [&] { return section.isEmpty() ? QString() : QStringLiteral(" in [%1]").arg(PrintableName(section)); };
        if (!isText(lineBytes))
            problem([&] { return QStringLiteral("line %1%2 is not UTF-8 text").arg(number).arg(where()); });
        if (parsed.kind == IniLine::Broken)
            problem([&] { return QStringLiteral("line %1%2 is neither a [section] nor a key=value line").arg(number).arg(where()); });
        if (parsed.kind == IniLine::Entry && section.isEmpty())
            problem([&] {
                return QStringLiteral("line %1 holds %2 before any [section]").arg(QString::number(number), PrintableName(parsed.decodedName()));
            });
        if (parsed.kind == IniLine::Entry && repeat != keyed.cend() && repeat->second == quint32(mark)) {
            problem([&] {
                return QStringLiteral("line %1 gives %2 of [%3] again, after line %4; the later one counts")
                    .arg(QString::number(number), PrintableName(parsed.decodedName()), PrintableName(section),
                         QString::number(doc.numberAt(doc.marks[repeat->first])));
            });
            ++repeat;
        }
        mark += parsed.kind == IniLine::Header || parsed.kind == IniLine::Entry;
    }
    if (unlisted > 0)
        doc.problems << QStringLiteral("%1 more lines are not understood").arg(unlisted);
    return doc;
}

bool IniDocument::breaksAt(qsizetype i) const
{
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'));
}

int IniDocument::numberAt(qsizetype at) const
{
    const qsizetype checkpoint = at / CheckpointBytes;
    int breaks = int(lineBreaks[size_t(checkpoint)]);
    for (qsizetype i = std::max(checkpoint * CheckpointBytes, begin); i < at; ++i)
        breaks += breaksAt(i);
    return breaks + 1;
}

QList<qsizetype> IniDocument::blocks(const QString &section) const
{
    QList<qsizetype> found;
    if (removedSections.contains(section))
        return found;
    const QByteArray utf8 = section.toUtf8();
    const uint hash = qHash(section);
    for (auto it = std::lower_bound(sectionIndex.begin(), sectionIndex.end(), std::pair<uint, quint32>(hash, 0));
         it != sectionIndex.end() && it->first == hash; ++it) {
        if (line(it->second).named(section, utf8))
            found.append(it->second);
    }
    return found;
}

qsizetype IniDocument::blockEnd(qsizetype header) const
{
    qsizetype end = header + 1;
    while (end < qsizetype(marks.size()) && !isHeader(end))
        ++end;
    return end;
}

qsizetype IniDocument::find(const QString &section, const QString &key) const
{
    const QByteArray utf8 = key.toUtf8();
    const QList<qsizetype> found = blocks(section);
    for (auto b = found.crbegin(); b != found.crend(); ++b) {
        for (qsizetype mark = blockEnd(*b); --mark > *b;) {
            if (line(mark).named(key, utf8))
                return mark;
        }
    }
    return -1;
}

QStringList IniDocument::sectionNames(qsizetype most) const
{
    QStringList names;
    QSet<QString> seen;
    for (qsizetype mark = 0; mark < qsizetype(marks.size()) && names.size() < most; ++mark) {
        if (!isHeader(mark))
            continue;
        const QString name = line(mark).decodedName();
        if (!removedSections.contains(name) && !seen.contains(name)) {
            seen.insert(name);
            names.append(name);
        }
    }
    for (const NewSection &added : appended) {
        if (names.size() < most && !seen.contains(added.name))
            names.append(added.name);
    }
    return names;
}

QStringList IniDocument::keyNames(const QString &section, qsizetype most) const
{
    QStringList names;
    QSet<QString> seen;
    for (const qsizetype header : blocks(section)) {
        for (qsizetype mark = header + 1, end = blockEnd(header); mark < end && names.size() < most; ++mark) {
            const QString name = line(mark).decodedName();
            if (!seen.contains(name)) {
                seen.insert(name);
                names.append(name);
            }
        }
    }
    return names;
}

QByteArray IniDocument::lineEnd() const
{
    const LineSpan first = lineAt(text, begin);
    return first.next > first.stop ? text.mid(first.stop, first.next - first.stop) : QByteArray("\n");
}

void IniDocument::forEachLineOf(qsizetype header, const std::function<void(const LineSpan &, int)> &visit) const
{
    const qsizetype next = blockEnd(header);
    const qsizetype stop = next < qsizetype(marks.size()) ? qsizetype(marks[size_t(next)]) : text.size();
    int number = numberAt(marks[size_t(header)]);
    for (qsizetype pos = marks[size_t(header)]; pos < stop; ++number) {
        const LineSpan line = lineAt(text, pos);
        visit(line, number);
        pos = line.next;
    }
}

// Where a new key line of the block goes: after its last line that is not blank.
qsizetype IniDocument::insertionPoint(qsizetype header) const
{
    qsizetype after = 0;
    forEachLineOf(header, [&](const LineSpan &line, int) {
        if (IniLine::of(QByteArrayView(text).sliced(line.start, line.stop - line.start)).kind != IniLine::Blank)
            after = line.stop;
    });
    return after;
}

void IniDocument::set(const QString &section, const QString &key, const QString &value, const LossSink &lost)
{
    const QByteArray entry = key.toUtf8() + '=' + encodeValue(value);
    for (NewSection &added : appended) {
        if (added.name != section)
            continue;
        for (auto &[name, line] : added.entries) {
            if (name == key) {
                line = entry;
                return;
            }
        }
        added.entries.append({key, entry});
        return;
    }
    const QList<qsizetype> found = blocks(section);
    if (!found.isEmpty()) {
        for (auto &[name, line] : added[found.last()]) {
            if (name == key) {
                line = entry;
                return;
            }
        }
    }
    if (const qsizetype mark = find(section, key); mark >= 0) {
        const auto was = replaced.find(mark);
        const QByteArrayView current = was != replaced.end() ? QByteArrayView(was->second) : lineText(mark);
        // A hand-edited line that says the same keeps its wording.
        if (isText(current) && decodeValue(current.sliced(current.indexOf('=') + 1)) == value)
            return;
        lost({current, IniLine::Entry, key, numberAt(marks[size_t(mark)])}, section);
        replaced[mark] = entry;
        return;
    }
    if (!found.isEmpty()) {
        added[found.last()].append({key, entry});
        return;
    }
    appended.append({section, {{key, entry}}});
}

void IniDocument::remove(const QString &section, const LossSink &lost)
{
    for (const qsizetype header : blocks(section)) {
        forEachLineOf(header, [&](const LineSpan &span, int number) {
            const QByteArrayView original = QByteArrayView(text).sliced(span.start, span.stop - span.start);
            const IniLine parsed = IniLine::of(original);
            if (parsed.kind != IniLine::Entry && parsed.kind != IniLine::Broken)
                return;
            QByteArrayView current = original;
            if (parsed.kind == IniLine::Entry) {
                const auto mark = std::lower_bound(marks.begin(), marks.end(), quint32(span.start)) - marks.begin();
                if (const auto was = replaced.find(mark); was != replaced.end())
                    current = was->second;
            }
            lost({current, parsed.kind, parsed.kind == IniLine::Entry ? parsed.decodedName() : QString(), number}, section);
        });
        removedBlocks.insert(header);
        added.erase(header);
    }
    removedSections.insert(section);
    appended.removeIf([&](const NewSection &added) { return added.name == section; });
}

QByteArray IniDocument::serialize() const
{
    const QByteArray end = lineEnd();
    // What replaces each stretch of the text, in its order.
    std::map<qsizetype, std::pair<qsizetype, QByteArray>> changes; // from -> (to, bytes)
    for (const qsizetype header : removedBlocks) {
        const qsizetype next = blockEnd(header);
        changes[marks[size_t(header)]] = {next < qsizetype(marks.size()) ? qsizetype(marks[size_t(next)]) : text.size(), {}};
    }
    const auto removed = [&](qsizetype at) {
        auto it = changes.upper_bound(at);
        return it != changes.begin() && (--it)->second.second.isEmpty() && at >= it->first && at < it->second.first;
    };
    for (const auto &[mark, line] : replaced) {
        const LineSpan span = this->span(mark);
        if (!removed(span.start))
            changes[span.start] = {span.stop, line};
    }
    for (const auto &[header, lines] : added) {
        if (lines.isEmpty())
            continue;
        const qsizetype at = insertionPoint(header);
        const LineSpan last = lineAt(text, at);
        QByteArray bytes = last.next > at ? QByteArray() : end; // a last line without an end gets one
        const qsizetype from = last.next > at ? last.next : at;
        for (const auto &each : lines)
            bytes += each.second + end;
        // Ahead of a removed block that begins there.
        auto here = changes.find(from);
        if (here != changes.end())
            here->second.second.prepend(bytes);
        else
            changes[from] = {from, bytes};
    }
    QByteArray out;
    out.reserve(text.size());
    qsizetype pos = 0;
    for (const auto &[from, change] : changes) {
        out.append(QByteArrayView(text).sliced(pos, from - pos));
        out.append(change.second);
        pos = change.first;
    }
    out.append(QByteArrayView(text).sliced(pos));
    for (const NewSection &section : appended) {
        if (out.size() > begin) {
            if (!out.endsWith('\n') && !out.endsWith('\r'))
                out += end;
            const qsizetype cut = out.size() - (out.endsWith("\r\n") ? 2 : 1);
            qsizetype start = cut;
            while (start > begin && out[start - 1] != '\n' && out[start - 1] != '\r')
                --start;
            if (IniLine::of(QByteArrayView(out).sliced(start, cut - start)).kind != IniLine::Blank)
                out += end;
        }
        out += '[' + section.name.toUtf8() + ']' + end;
        for (const auto &each : section.entries)
            out += each.second + end;
    }
    if (encoding == Utf8 || encoding == Utf8Bom)
        return out;
    QStringEncoder encoder(encoding == Utf16LE ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
    return QByteArray(encoding == Utf16LE ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder(fromUtf8(out)));
}

QString UserStoreFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Brindleway");
}

IniSettingsStore::IniSettingsStore() : IniSettingsStore(UserStoreFolder() + QStringLiteral("/Brindleway.ini")) {}

IniSettingsStore::IniSettingsStore(const QString &fileName, Backup backup)
    : fileName(fileName), backup(backup), document(std::make_unique<IniDocument>())
{
    try {
        const StoreFile file = readStoreFile(fileName);
        loadError = file.error;
        if (loadError.isEmpty())
            *document = IniDocument::parse(file.bytes);
    } catch (const std::bad_alloc &) {
        // Under a memory limit the store is refused, never the program.
        *document = IniDocument();
        loadError = QStringLiteral("there is not enough memory to read it");
    }
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    for (auto it = pending.crbegin(); it != pending.crend(); ++it) {
        if (it->section != section)
            continue;
        if (it->key.isEmpty())
            return defaultValue;
        if (it->key == key)
            return it->value;
    }
    const qsizetype mark = document->find(section, key);
    if (mark < 0)
        return defaultValue;
    const QByteArrayView line = document->lineText(mark);
    // A line that is not text was read only in part; replacing it is a loss.
    if (isText(line))
        seenLines.insert(seenKey(section, key), line.toByteArray());
    return decodeValue(line.sliced(line.indexOf('=') + 1));
}

void IniSettingsStore::write(const QString &section, const QString &key, const QString &value)
{
    pending.append({section, key, value});
}

void IniSettingsStore::removeSection(const QString &section)
{
    pending.append({section, QString(), QString()});
}

bool IniSettingsStore::fail(const QString &reason)
{
    syncError = reason;
    return false;
}

bool IniSettingsStore::sync(const LossConsent &consent)
{
    try {
        return syncPending(consent);
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("There is not enough memory to save it."));
    }
}

bool IniSettingsStore::syncPending(const LossConsent &consent)
{
    const QList<PendingWrite> changes = std::exchange(pending, {});
    syncError.clear();
    if (changes.isEmpty())
        return true;
    // The file as it is now, which may have changed since it was loaded.
    const StoreFile current = readStoreFile(fileName);
    if (!current.error.isEmpty())
        return fail(QStringLiteral("The file cannot be read: %1.").arg(current.error));
    IniDocument doc = IniDocument::parse(current.bytes);

    QList<IniLoss> losses;
    const LossSink lost = [&](const LostLine &line, const QString &section) {
        const auto seen = seenLines.constFind(seenKey(section, line.name));
        QString reason = QStringLiteral("never loaded");
        if (line.kind == IniLine::Broken)
            reason = QStringLiteral("not understood");
        else if (!isText(line.text))
            reason = QStringLiteral("not UTF-8 text, read only in part");
        else if (seen != seenLines.cend() && *seen == line.text)
            return;
        else if (seen != seenLines.cend())
            reason = QStringLiteral("changed in the file since it was loaded");
        losses.append({PrintableName(section), reason, line.number,
                       line.kind == IniLine::Entry ? PrintableName(line.name) : QString()});
    };
    for (const PendingWrite &change : changes) {
        if (change.key.isEmpty())
            doc.remove(change.section, lost);
        else
            doc.set(change.section, change.key, change.value, lost);
    }
    const QByteArray bytes = doc.serialize();
    if (current.exists ? bytes != current.bytes : !bytes.isEmpty()) {
        if (doc.brokenEncoding)
            losses.append({{}, QStringLiteral("replaced when read"), 0, QStringLiteral("broken UTF-16 characters")});
        if (!losses.isEmpty() && !(consent && consent(describeLosses(losses))))
            return false;
        const QString folder = QFileInfo(fileName).absolutePath();
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("The folder %1 cannot be created.").arg(QDir::toNativeSeparators(folder)));
        QString error;
        if (current.exists && backup == Backup::Keep && !writeFileAtomically(backupLocation(), current.bytes, &error))
            return fail(QStringLiteral("The previous file cannot be kept as %1: %2")
                            .arg(QDir::toNativeSeparators(backupLocation()), error));
        if (!writeFileAtomically(fileName, bytes, &error))
            return fail(error);
    }
    // The document as written, with no more than one copy of the file's text held at a time.
    doc = IniDocument();
    *document = IniDocument();
    *document = IniDocument::parse(bytes);
    loadError.clear();
    for (const PendingWrite &change : changes) {
        if (const qsizetype mark = change.key.isEmpty() ? -1 : document->find(change.section, change.key); mark >= 0)
            seenLines.insert(seenKey(change.section, change.key), document->lineText(mark).toByteArray());
    }
    return true;
}

QString IniSettingsStore::location() const
{
    return fileName;
}

QString IniSettingsStore::backupLocation() const
{
    return fileName + QStringLiteral(".bak");
}

QStringList IniSettingsStore::sections(qsizetype most) const
{
    return document->sectionNames(most);
}

QStringList IniSettingsStore::keys(const QString &section, qsizetype most) const
{
    return document->keyNames(section, most);
}

QStringList IniSettingsStore::problems() const
{
    return document->problems;
}
