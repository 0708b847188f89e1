#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The 8-bit code page in which the data file is read and tag values and
// paths are handed on: Windows-1252, the ANSI code page of the Windows
// systems the data files come from. Its five undefined bytes map to the C1
// controls of the same number, so every byte survives a round trip.
QString DecodeAnsi(QByteArrayView bytes);

// Characters outside the code page become '?' and clear *exact.
QByteArray EncodeAnsi(QStringView text, bool *exact = nullptr);

// The encodings a data file is read in.
enum class TextEncoding { Windows1252, Utf8, Utf16LE, Utf16BE };

// True for the encodings that hold every character, where values need UTF-8 on output.
constexpr bool IsUnicode(TextEncoding encoding)
{
    return encoding != TextEncoding::Windows1252;
}

// "Windows-1252", "UTF-8", "UTF-16 LE" or "UTF-16 BE", for the user.
QString EncodingName(TextEncoding encoding);

// The command line's names: windows-1252, utf-8 or utf-16 (little-endian
// unless a byte-order mark says otherwise), in any letter case.
std::optional<TextEncoding> EncodingFromOption(QStringView name);

// A byte-order mark decides; otherwise bytes that are valid UTF-8 and hold a
// non-ASCII byte are UTF-8, and anything else is Windows-1252. A forced
// encoding wins, except that a forced UTF-16 takes its byte order from a mark.
TextEncoding DetectEncoding(QByteArrayView bytes, std::optional<TextEncoding> forced = std::nullopt);

// Decodes `bytes`, dropping a byte-order mark of a Unicode encoding. Malformed
// sequences and a lone last byte of UTF-16 become U+FFFD.
QString DecodeText(QByteArrayView bytes, TextEncoding encoding);
