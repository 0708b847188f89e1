#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <QList>

#include <optional>

// The 8-bit code page in which the data file is read and tag values and
// paths are handed on: Windows-1252, the ANSI code page of the Windows
// systems the data files come from. Its five undefined bytes map to the C1
// controls of the same number, so every byte survives a round trip.
QString DecodeAnsi(QByteArrayView bytes);

// Characters outside the code page become '?' and clear *exact.
QByteArray EncodeAnsi(QStringView text, bool *exact = nullptr);

// The encodings a data file is read in.
enum class TextEncoding {
    Windows1252,
    Utf8,
    Utf16LE,
    Utf16BE,
    Windows1250,
    Windows1251,
    Windows1253,
    Windows1254,
    Windows1257,
};

// The one rule for IPTC's character set: values read in any encoding but
// Windows-1252 (which IPTC without a 1:90 marker means by convention) go to
// IPTC as UTF-8 wherever they need more than ASCII.
constexpr bool IsUnicode(TextEncoding encoding)
{
    return encoding != TextEncoding::Windows1252;
}

// "Windows-1252", "UTF-8", "UTF-16 LE", "UTF-16 BE", "Windows-1250"..., for the user.
QString EncodingName(TextEncoding encoding);

// One way to read a data file, as the window's chooser and --encoding name it.
struct EncodingChoice {
    QString name;                       // "Automatic", "UTF-8", "UTF-16", "Windows-1252", ...
    std::optional<TextEncoding> forced; // none: the bytes decide
};

// Automatic, UTF-8, UTF-16 (little-endian unless a byte-order mark says
// otherwise), Windows-1252, then whichever of Windows-1250, 1251, 1253, 1254
// and 1257 this Qt can decode.
QList<EncodingChoice> EncodingChoices();

// The choice of that name, in any letter case; nullopt for any other name.
std::optional<EncodingChoice> EncodingChoiceNamed(QStringView name);

// A byte-order mark decides; otherwise bytes that are valid UTF-8 and hold a
// non-ASCII byte are UTF-8, and anything else is Windows-1252. A forced
// encoding wins, except that a forced UTF-16 takes its byte order from a mark.
TextEncoding DetectEncoding(QByteArrayView bytes, std::optional<TextEncoding> forced = std::nullopt);

// Decodes `bytes`, dropping a byte-order mark of a Unicode encoding. Malformed
// sequences and a lone last byte of UTF-16 become U+FFFD.
QString DecodeText(QByteArrayView bytes, TextEncoding encoding);
