#include "engine/metadata/iimvalues.h"

#include "model/codepage.h"
#include "model/xmpfields.h"

#include <QDate>
#include <QTime>

#include <algorithm>

namespace {
QByteArray encoded(const QString &text, bool utf8)
{
    return utf8 ? text.toUtf8() : EncodeAnsi(text);
}

// The longest start of `text` whose encoding fits in `limit` bytes, never
// splitting a character.
QByteArray cutToFit(const QString &text, int limit, bool utf8)
{
    QByteArray result;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray piece = encoded(text.mid(i, length), utf8);
        if (result.size() + piece.size() > limit)
            break;
        result += piece;
        i += length;
    }
    return result;
}
} // namespace

QStringList ListItems(const QString &value)
{
    QStringList items = value.split(QLatin1Char(';'));
    items.removeAll(QString());
    return items;
}

bool IsAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return false;
    }
    return true;
}

namespace {
bool isDigits(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}
} // namespace

bool IsIimDate(const QString &text)
{
    return text.size() == 8 && isDigits(text) && QDate::fromString(text, QStringLiteral("yyyyMMdd")).isValid();
}

bool IsIimTime(const QString &text)
{
    if (text.size() != 11 || (text.at(6) != u'+' && text.at(6) != u'-'))
        return false;
    const QString clock = text.left(6);
    const QString zone = text.mid(7);
    return isDigits(clock) && isDigits(zone) && QTime::fromString(clock, QStringLiteral("HHmmss")).isValid()
        && zone.left(2).toInt() <= 23 && zone.mid(2).toInt() <= 59;
}

namespace {
// The form a fixed-form value breaks, in the words of the value-not-written note; empty when it is right.
QString brokenForm(SlotRole role, const QString &text)
{
    switch (role) {
    case SlotRole::Date:
        return IsIimDate(text) ? QString() : QStringLiteral("a date (CCYYMMDD)");
    case SlotRole::Time:
        return IsIimTime(text) ? QString() : QStringLiteral("a time (HHMMSS+HHMM or HHMMSS-HHMM)");
    case SlotRole::Digit:
        // IIM reserves 0 and leaves 9 to private use; XMP's Urgency holds 1 to 8.
        return text.size() == 1 && text.at(0) >= u'1' && text.at(0) <= u'8' ? QString()
                                                                           : QStringLiteral("an urgency from 1 to 8");
    case SlotRole::Code:
        return text.size() == 3
                && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isLetter() && c.unicode() < 0x80; })
            ? QString()
            : QStringLiteral("a three-letter country code");
    case SlotRole::Text:
    case SlotRole::List:
    case SlotRole::Name:
        break;
    }
    return {};
}

// The characters of `text` that XML 1.0 cannot carry (C0 controls but TAB,
// LF and CR; U+FFFE, U+FFFF; a lone surrogate), each replaced by U+FFFD,
// and the code of the first as U+XXXX; no code when there is none.
std::pair<QString, QString> withoutXmlForbidden(const QString &text)
{
    QString shown = text;
    QString first;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i;
            continue;
        }
        if ((c >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r') && c != 0xFFFE && c != 0xFFFF && !QChar::isSurrogate(c))
            continue;
        if (first.isEmpty())
            first = QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        shown[i] = QChar::ReplacementCharacter;
    }
    return {shown, first};
}
} // namespace

IimValues ToIimValues(const QList<TagValue> &values, bool utf8, bool iptc)
{
    IimValues result;
    for (const TagValue &value : values) {
        if (isXmpSlot(value.slot)) {
            if (const auto [shown, first] = withoutXmlForbidden(value.text); !first.isEmpty()) {
                result.notes.append({NoteCode::ValueNotWritten, {SlotKey(value.slot), shown, QStringLiteral("text XML can hold (it holds %1)").arg(first)}});
                continue;
            }
            QString rule;
            if (const std::optional<QString> written = XmpFieldValue(value.slot, value.text, &rule))
                result.xmpValues.append({value.slot, *written});
            else
                result.notes.append({NoteCode::ValueOutOfForm, {SlotKey(value.slot), value.text, rule}});
            continue;
        }
        const TagSlotInfo &info = slotInfo(value.slot);
        // The XMP cannot hold it, and an IPTC that held it alone would say what the XMP does not.
        if (const auto [shown, first] = withoutXmlForbidden(value.text); !first.isEmpty()) {
            result.notes.append({NoteCode::ValueNotWritten, {SlotKey(value.slot), shown, QStringLiteral("text XML can hold (it holds %1)").arg(first)}});
            continue;
        }
        if (const QString rule = brokenForm(info.role, value.text); !rule.isEmpty()) {
            result.notes.append({NoteCode::ValueNotWritten, {SlotKey(value.slot), value.text, rule}});
            continue;
        }
        result.xmpValues.append(value);
        if (!iptc)
            continue;
        const QStringList pieces = info.role == SlotRole::List ? ListItems(value.text) : QStringList{value.text};
        for (const QString &piece : pieces) {
            QByteArray bytes = encoded(piece, utf8);
            if (bytes.size() > info.maxBytes) {
                bytes = cutToFit(piece, info.maxBytes, utf8);
                result.notes.append({NoteCode::ValueCut, {SlotKey(value.slot), QString::number(encoded(piece, utf8).size()),
                                                          QString::number(bytes.size())}});
            }
            result.items.append({value.slot, info.dataset, bytes});
        }
    }
    return result;
}
