#include "model/codepage.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <utility>

namespace {
// Unicode of the bytes 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> HighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

const QHash<char16_t, char> &reverseTable()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> t;
        for (int i = 0; i < int(HighControls.size()); ++i)
            t.insert(HighControls[i], char(0x80 + i));
        return t;
    }();
    return table;
}
} // namespace

QString DecodeAnsi(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(HighControls[b - 0x80]) : QChar(b);
    }
    return text;
}

QByteArray EncodeAnsi(QStringView text, bool *exact)
{
    if (exact)
        *exact = true;
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            *out++ = char(u);
            continue;
        }
        const auto it = reverseTable().constFind(u);
        if (it != reverseTable().constEnd()) {
            *out++ = *it;
            continue;
        }
        *out++ = '?';
        if (exact)
            *exact = false;
    }
    return bytes;
}

namespace {
constexpr QByteArrayView Utf8Mark("\xEF\xBB\xBF");
constexpr QByteArrayView Utf16LEMark("\xFF\xFE");
constexpr QByteArrayView Utf16BEMark("\xFE\xFF");

bool isUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE;
}

QString decodeUtf16(QByteArrayView bytes, bool bigEndian)
{
    const qsizetype units = bytes.size() / 2;
    QString text(units + bytes.size() % 2, Qt::Uninitialized);
    QChar *out = text.data();
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype i = 0; i < units; ++i, in += 2)
        *out++ = QChar(bigEndian ? char16_t(in[0] << 8 | in[1]) : char16_t(in[1] << 8 | in[0]));
    if (bytes.size() % 2)
        *out = QChar::ReplacementCharacter;
    return text;
}
} // namespace

namespace {
// The Windows code pages besides 1252, which Qt decodes through ICU where it has it.
constexpr std::array<std::pair<TextEncoding, const char *>, 5> OtherCodePages{{
    {TextEncoding::Windows1250, "windows-1250"},
    {TextEncoding::Windows1251, "windows-1251"},
    {TextEncoding::Windows1253, "windows-1253"},
    {TextEncoding::Windows1254, "windows-1254"},
    {TextEncoding::Windows1257, "windows-1257"},
}};

const char *codePageName(TextEncoding encoding)
{
    for (const auto &[known, name] : OtherCodePages) {
        if (known == encoding)
            return name;
    }
    return nullptr;
}
} // namespace

QString EncodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case TextEncoding::Utf16LE:
        return QStringLiteral("UTF-16 LE");
    case TextEncoding::Utf16BE:
        return QStringLiteral("UTF-16 BE");
    case TextEncoding::Windows1252:
        break;
    default:
        return QStringLiteral("Windows-") + QLatin1String(codePageName(encoding)).sliced(8);
    }
    return QStringLiteral("Windows-1252");
}

QList<EncodingChoice> EncodingChoices()
{
    static const QList<EncodingChoice> choices = [] {
        QList<EncodingChoice> list{{QStringLiteral("Automatic"), std::nullopt},
                                   {QStringLiteral("UTF-8"), TextEncoding::Utf8},
                                   {QStringLiteral("UTF-16"), TextEncoding::Utf16LE},
                                   {QStringLiteral("Windows-1252"), TextEncoding::Windows1252}};
        for (const auto &[encoding, name] : OtherCodePages) {
            if (QStringDecoder(name).isValid())
                list.append({EncodingName(encoding), encoding});
        }
        return list;
    }();
    return choices;
}

std::optional<EncodingChoice> EncodingChoiceNamed(QStringView name)
{
    for (const EncodingChoice &choice : EncodingChoices()) {
        if (name.compare(choice.name, Qt::CaseInsensitive) == 0)
            return choice;
    }
    return std::nullopt;
}

TextEncoding DetectEncoding(QByteArrayView bytes, std::optional<TextEncoding> forced)
{
    if (bytes.startsWith(Utf16LEMark) && (!forced || isUtf16(*forced)))
        return TextEncoding::Utf16LE;
    if (bytes.startsWith(Utf16BEMark) && (!forced || isUtf16(*forced)))
        return TextEncoding::Utf16BE;
    if (forced)
        return *forced;
    if (bytes.startsWith(Utf8Mark))
        return TextEncoding::Utf8;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    return !ascii && bytes.isValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

QString DecodeText(QByteArrayView bytes, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return QString::fromUtf8(bytes.startsWith(Utf8Mark) ? bytes.sliced(Utf8Mark.size()) : bytes);
    case TextEncoding::Utf16LE:
        return decodeUtf16(bytes.startsWith(Utf16LEMark) ? bytes.sliced(2) : bytes, false);
    case TextEncoding::Utf16BE:
        return decodeUtf16(bytes.startsWith(Utf16BEMark) ? bytes.sliced(2) : bytes, true);
    case TextEncoding::Windows1252:
        break;
    default:
        // Only offered where the decoder exists; without it the bytes read as Windows-1252.
        if (QStringDecoder decoder(codePageName(encoding)); decoder.isValid())
            return decoder.decode(bytes);
    }
    return DecodeAnsi(bytes);
}
