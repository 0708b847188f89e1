#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// An XMP packet edited as text: the properties a line sets are found
// wherever they stand and replaced, and every other byte of the packet stays
// as it was. Packets are read with a bounded, non-validating reader: no DTD,
// no entities but the predefined ones, limits on depth, attributes and size.

enum class XmpForm {
    Text, // a simple value
    Bag,  // an unordered array
    Seq,  // an ordered array
    Alt,  // a language alternative; its x-default item is the value
};

struct XmpName {
    QString uri;    // namespace
    QString prefix; // the standard prefix, used where the packet binds none to the namespace
    QString name;   // local name
    // A field of a structure: its local name, in the same namespace; empty for
    // the property itself. With `list` ("Bag" or "Seq") the structure is the
    // first item of an array of them.
    QString part{};
    QString list{};
};

struct XmpSetting {
    XmpName property;
    XmpForm form = XmpForm::Text;
    QStringList items; // one for Text and Alt, and for a field of a structure (whose form is Text)
    bool remove = false; // every occurrence goes, none is added
};

struct XmpEditResult {
    QByteArray packet;  // UTF-8; the input itself when nothing changed
    QString unreadable; // why the packet cannot be read; empty when it could
    QString unwritable; // why the edit cannot be written; empty when it could
};

// Sets each property in `packet`; an empty packet gives a fresh one. A field
// of a structure is set where it stands, and the structure's other fields stay.
XmpEditResult EditXmp(const QByteArray &packet, const QList<XmpSetting> &settings);

struct XmpRead {
    QString unreadable;        // why the packet cannot be read; empty when it could
    QList<QStringList> values; // per name asked for: an array's items, the x-default, the text, or a structure's field; none when absent
    QList<bool> present;       // per name: whether the packet holds it at all
    qsizetype properties = 0;  // how many properties the packet holds, of any name
};

// The values of the named properties, each from its first occurrence.
XmpRead ReadXmp(const QByteArray &packet, const QList<XmpName> &names);

// The XMP packet's text: UTF-16 when its first bytes say so, else UTF-8;
// false when the bytes are not valid in that encoding.
bool XmpPacketText(const QByteArray &packet, QString *text);
