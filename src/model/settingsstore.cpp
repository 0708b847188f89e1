#include "model/settingsstore.h"

#include "model/codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
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

struct IniLine {
    enum Kind { Blank, Comment, Header, Entry, Broken };
    QByteArray text; // UTF-8, without the line end
    QByteArray end;  // "\n", "\r\n", "\r", or empty on a last line without one
    int number = 0;  // in the file as read; 0 for lines a save added
    Kind kind = Blank;
    bool isText = true; // valid UTF-8 without NUL bytes
    QString name;       // Header: the section; Entry: the key

    QByteArrayView value() const { return QByteArrayView(text).sliced(text.indexOf('=') + 1); }
};

struct IniSection {
    QString name;          // empty for the lines before the first header
    QList<IniLine> lines;  // from the header on
    bool removed = false;
};

// Losses as a save finds them, for the consent question.
struct IniLoss {
    QString section;
    QString reason;
    int line;
    QString key;
};
using LossSink = std::function<void(const IniLine &, const QString &section)>;

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

struct IniDocument {
    enum Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE };
    Encoding encoding = Utf8;
    bool brokenEncoding = false; // UTF-16 with broken characters, replaced when read
    QList<IniSection> sections{IniSection{}};
    QHash<QString, QList<qsizetype>> blocks; // section name: where in `sections`, in file order; live ones only
    QStringList problems;

    static IniDocument parse(const QByteArray &bytes);
    QByteArray serialize() const;
    const IniLine *find(const QString &section, const QString &key) const;
    IniSection *lastBlock(const QString &section);
    void set(const QString &section, const QString &key, const QString &value, const LossSink &lost);
    void remove(const QString &section, const LossSink &lost);

private:
    QByteArray lineEnd() const;
};

IniDocument IniDocument::parse(const QByteArray &bytes)
{
    IniDocument doc;
    QByteArray text = bytes;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        doc.encoding = Utf8Bom;
        text = bytes.sliced(3);
    } else if (const TextEncoding marked = DetectEncoding(QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 2)));
               marked == TextEncoding::Utf16LE || marked == TextEncoding::Utf16BE) {
        doc.encoding = marked == TextEncoding::Utf16LE ? Utf16LE : Utf16BE;
        const QString decoded = DecodeText(bytes, marked);
        text = decoded.toUtf8();
        // A lone last byte reads as U+FFFD, an unpaired surrogate as '?'.
        doc.brokenEncoding = bytes.size() % 2 != 0 || fromUtf8(text) != decoded;
        if (doc.brokenEncoding)
            doc.problems << QStringLiteral("the file is UTF-16 text with broken characters");
    }

    QHash<QString, QHash<QString, int>> keyLines; // section, key: line of its last value
    for (qsizetype pos = 0, number = 1; pos < text.size(); ++number) {
        qsizetype stop = pos;
        while (stop < text.size() && text[stop] != '\n' && text[stop] != '\r')
            ++stop;
        const qsizetype endLength = stop == text.size() ? 0 : text.mid(stop, 2) == "\r\n" ? 2 : 1;
        IniLine line;
        line.text = text.mid(pos, stop - pos);
        line.end = text.mid(stop, endLength);
        line.number = int(number);
        pos = stop + endLength;

        line.isText = !line.text.contains('\0') && fromUtf8(line.text).toUtf8() == line.text;
        const QByteArray trimmed = line.text.trimmed();
        const qsizetype equals = line.text.indexOf('=');
        if (trimmed.isEmpty()) {
            line.kind = IniLine::Blank;
        } else if (trimmed.startsWith(';') || trimmed.startsWith('#')) {
            line.kind = IniLine::Comment;
        } else if (trimmed.startsWith('[')) {
            line.name = fromUtf8(trimmed.mid(1, trimmed.size() - 2)).trimmed();
            line.kind = trimmed.endsWith(']') && !line.name.isEmpty() ? IniLine::Header : IniLine::Broken;
        } else if (equals > 0 && !line.text.left(equals).trimmed().isEmpty()) {
            line.kind = IniLine::Entry;
            line.name = fromUtf8(line.text.left(equals)).trimmed();
        } else {
            line.kind = IniLine::Broken;
        }

        if (line.kind == IniLine::Header) {
            doc.blocks[line.name].append(doc.sections.size());
            doc.sections.append(IniSection{line.name, {}});
        }
        const QString &section = doc.sections.constLast().name;
        const QString where = section.isEmpty() ? QString() : QStringLiteral(" in [%1]").arg(PrintableName(section));
        if (!line.isText)
            doc.problems << QStringLiteral("line %1%2 is not UTF-8 text").arg(number).arg(where);
        if (line.kind == IniLine::Broken)
            doc.problems
                << QStringLiteral("line %1%2 is neither a [section] nor a key=value line").arg(number).arg(where);
        if (line.kind == IniLine::Entry && section.isEmpty())
            doc.problems << QStringLiteral("line %1 holds %2 before any [section]")
                                .arg(QString::number(number), PrintableName(line.name));
        if (line.kind == IniLine::Entry && !section.isEmpty()) {
            int &last = keyLines[section][line.name];
            if (last != 0)
                doc.problems << QStringLiteral("line %1 gives %2 of [%3] again, after line %4; the later one counts")
                                    .arg(QString::number(number), PrintableName(line.name), PrintableName(section),
                                         QString::number(last));
            last = int(number);
        }
        doc.sections.last().lines.append(line);
    }
    return doc;
}

QByteArray IniDocument::serialize() const
{
    QByteArray text;
    for (const IniSection &section : sections) {
        if (section.removed)
            continue;
        for (const IniLine &line : section.lines)
            text += line.text + line.end;
    }
    switch (encoding) {
    case Utf8:
        return text;
    case Utf8Bom:
        return "\xEF\xBB\xBF" + text;
    case Utf16LE:
    case Utf16BE:
        break;
    }
    QStringEncoder encoder(encoding == Utf16LE ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
    return QByteArray(encoding == Utf16LE ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder(fromUtf8(text)));
}

// The line whose value counts: the last for the key in the last block of the section.
template <typename Document> auto findLine(Document &doc, const QString &section, const QString &key)
{
    const QList<qsizetype> blocks = doc.blocks.value(section);
    for (auto b = blocks.crbegin(); b != blocks.crend(); ++b) {
        auto &lines = doc.sections[*b].lines;
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->kind == IniLine::Entry && line->name == key)
                return &*line;
        }
    }
    return decltype(&*doc.sections.first().lines.begin())(nullptr);
}

IniSection *IniDocument::lastBlock(const QString &section)
{
    const QList<qsizetype> found = blocks.value(section);
    return found.isEmpty() ? nullptr : &sections[found.last()];
}

const IniLine *IniDocument::find(const QString &section, const QString &key) const
{
    return findLine(*this, section, key);
}

QByteArray IniDocument::lineEnd() const
{
    for (const IniSection &section : sections) {
        for (const IniLine &line : section.lines) {
            if (!line.end.isEmpty())
                return line.end;
        }
    }
    return "\n";
}

void IniDocument::set(const QString &section, const QString &key, const QString &value, const LossSink &lost)
{
    IniLine entry{key.toUtf8() + '=' + encodeValue(value), lineEnd(), 0, IniLine::Entry, true, key};
    if (IniLine *line = findLine(*this, section, key)) {
        // A hand-edited line that says the same keeps its wording.
        if (line->isText && decodeValue(line->value()) == value)
            return;
        lost(*line, section);
        entry.end = line->end;
        entry.number = line->number;
        *line = entry;
        return;
    }
    // A line of its own after the section's last value, or a new section at the end.
    IniSection *target = lastBlock(section);
    if (!target) {
        IniSection *previous = nullptr;
        for (IniSection &s : sections) {
            if (!s.removed && !s.lines.isEmpty())
                previous = &s;
        }
        if (previous && previous->lines.last().end.isEmpty())
            previous->lines.last().end = entry.end;
        if (previous && previous->lines.last().kind != IniLine::Blank)
            previous->lines.append(IniLine{{}, entry.end, 0, IniLine::Blank, true, {}});
        blocks[section].append(sections.size());
        const IniLine header{'[' + section.toUtf8() + ']', entry.end, 0, IniLine::Header, true, section};
        sections.append(IniSection{section, {header}});
        target = &sections.last();
    }
    qsizetype after = target->lines.size();
    while (after > 1 && target->lines.at(after - 1).kind == IniLine::Blank)
        --after;
    if (target->lines.at(after - 1).end.isEmpty())
        target->lines[after - 1].end = lineEnd();
    target->lines.insert(after, entry);
}

void IniDocument::remove(const QString &section, const LossSink &lost)
{
    for (const qsizetype b : blocks.value(section)) {
        IniSection &s = sections[b];
        for (const IniLine &line : std::as_const(s.lines)) {
            if (line.kind == IniLine::Entry || line.kind == IniLine::Broken)
                lost(line, section);
        }
        s.removed = true;
    }
    blocks.remove(section);
}

QString UserStoreFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Brindleway");
}

IniSettingsStore::IniSettingsStore() : IniSettingsStore(UserStoreFolder() + QStringLiteral("/Brindleway.ini")) {}

IniSettingsStore::IniSettingsStore(const QString &fileName, Backup backup)
    : fileName(fileName), backup(backup), document(std::make_unique<IniDocument>())
{
    const StoreFile file = readStoreFile(fileName);
    loadError = file.error;
    if (loadError.isEmpty())
        *document = IniDocument::parse(file.bytes);
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
    const IniLine *line = document->find(section, key);
    if (!line)
        return defaultValue;
    // A line that is not text was read only in part; replacing it is a loss.
    if (line->isText)
        seenLines.insert(seenKey(section, key), line->text);
    return decodeValue(line->value());
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
    const LossSink lost = [&](const IniLine &line, const QString &section) {
        if (line.number == 0)
            return;
        const auto seen = seenLines.constFind(seenKey(section, line.name));
        QString reason = QStringLiteral("never loaded");
        if (line.kind == IniLine::Broken)
            reason = QStringLiteral("not understood");
        else if (!line.isText)
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
    *document = std::move(doc);
    loadError.clear();
    for (const PendingWrite &change : changes) {
        if (const IniLine *line = change.key.isEmpty() ? nullptr : document->find(change.section, change.key))
            seenLines.insert(seenKey(change.section, change.key), line->text);
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

QStringList IniSettingsStore::sections() const
{
    QStringList names;
    for (const IniSection &section : document->sections) {
        if (!section.removed && !section.name.isEmpty())
            names.append(section.name);
    }
    names.removeDuplicates();
    return names;
}

QStringList IniSettingsStore::keys(const QString &section) const
{
    QStringList names;
    for (const qsizetype b : document->blocks.value(section)) {
        const IniSection &s = document->sections.at(b);
        for (const IniLine &line : s.lines) {
            if (line.kind == IniLine::Entry)
                names.append(line.name);
        }
    }
    names.removeDuplicates();
    return names;
}

QStringList IniSettingsStore::problems() const
{
    return document->problems;
}
