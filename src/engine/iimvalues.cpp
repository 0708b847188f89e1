#include "engine/iimvalues.h"

#include "model/codepage.h"
#include "model/tagslots.h"

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

IimValues ToIimValues(const QList<TagValue> &values, bool utf8)
{
    IimValues result;
    for (const TagValue &value : values) {
        const TagSlotInfo &info = slotInfo(value.slot);
        const bool list = info.role == SlotRole::List;
        const QStringList pieces = list ? ListItems(value.text) : QStringList{value.text};
        const bool fixedForm = !list && info.role != SlotRole::Text;
        if (fixedForm && encoded(value.text, utf8).size() > info.maxBytes) {
            result.warnings << QStringLiteral("%1 \"%2\" not written: IPTC allows %3 byte(s)")
                                   .arg(SlotKey(value.slot), value.text)
                                   .arg(info.maxBytes);
            continue;
        }
        result.xmpValues.append(value);
        for (const QString &piece : pieces) {
            QByteArray bytes = encoded(piece, utf8);
            if (bytes.size() > info.maxBytes) {
                bytes = cutToFit(piece, info.maxBytes, utf8);
                result.warnings << QStringLiteral("%1 cut from %2 to %3 bytes to fit IPTC (the XMP holds it whole)")
                                       .arg(SlotKey(value.slot))
                                       .arg(encoded(piece, utf8).size())
                                       .arg(bytes.size());
            }
            result.items.append({value.slot, info.dataset, bytes});
        }
    }
    return result;
}
