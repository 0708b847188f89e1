#include "engine/metadata/xmpeditor.h"

#include "model/codepage.h"

#include <QHash>
#include <QStringDecoder>
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace {
const QString RdfUri = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QString XmlUri = QStringLiteral("http://www.w3.org/XML/1998/namespace");
// Far beyond any real packet (the largest seen hold a few megabytes).
constexpr qsizetype MaxPacketBytes = qsizetype(64) << 20;
constexpr int MaxDepth = 200;
constexpr int MaxAttributes = 100000;
// Between a name's namespace, local name and prefix as the reader reports
// them: a character no XML name or namespace may hold.
constexpr char NameSeparator = '\x01';

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A start tag [start, end): from its "<" to past its ">"; empty for "<x/>".
struct Tag {
    qsizetype start = 0;
    qsizetype end = 0;
    bool empty = false;
};

struct Item {
    QString qname;
    QString lang;
    Tag tag;
    qsizetype contentEnd = 0; // where its end tag starts
    QString text;
};

// A field of a structure: an element or an attribute.
struct Field {
    QString uri;
    QString name;
    QString qname;
    bool attribute = false;
    Tag tag;                  // element: its start tag
    qsizetype start = 0;      // element: its "<"; attribute: the whitespace before its name
    qsizetype end = 0;        // past the end tag or the closing quote
    qsizetype valueStart = 0; // attribute: inside the quotes
    qsizetype contentEnd = 0; // element: where its end tag starts
    QString text;
    bool nested = false;      // element: it holds elements, so its text is not its value
};

// Where a property's structure keeps its fields: the property element
// (rdf:parseType="Resource", or fields as attributes), the first item of its
// array, or an rdf:Description inside either.
struct Structure {
    bool found = false;
    Tag tag;
    QString qname;
    int depth = 0;
    bool attributesOnly = false; // fields written as attributes of a property element: no element may be added
    qsizetype contentEnd = -1;   // where its end tag starts
    QList<Field> fields;
};

// Offsets are bytes of the packet's UTF-8 text.
struct Property {
    int node = 0;
    QString uri;
    QString name;
    QString qname;
    bool attribute = false;
    qsizetype start = 0; // element: its "<"; attribute: the whitespace before its name
    qsizetype end = 0;   // past the end tag or the closing quote
    qsizetype valueStart = 0; // attribute: inside the quotes
    QString text;        // a simple value
    bool rdfHere = false; // whether the packet's rdf prefix means RDF at the element
    QString array;       // Bag, Seq or Alt when the value is one
    QString arrayQName;
    bool arrayBindsRdf = false; // whether the array's start tag binds its own prefix
    QString declarations; // the namespaces the element's start tag binds, as written there
    Tag arrayTag;
    QList<Item> items;
    Structure structure;
};

// x:xmpmeta, rdf:RDF or one of its nodes, which new properties or a new node may go into.
struct Container {
    QString qname;
    Tag tag;
    qsizetype lastChildEnd = -1; // past its last child element
    qsizetype firstChild = -1;   // its first child element's "<"
    QHash<QString, QString> scope; // prefix -> namespace in scope at its start tag
};

struct Parsed {
    QString error;
    bool hasRdf = false;
    Container rdf; // the first rdf:RDF
    bool hasXmpmeta = false;
    Container xmpmeta; // the first x:xmpmeta, where a packet without rdf:RDF gets one
    QList<Container> nodes;
    QList<Property> properties;
    QString rdfPrefix; // as the first rdf:RDF writes it
};

struct Attribute {
    QByteArray qname;
    qsizetype start = 0; // of the whitespace before it
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0; // the closing quote
};

// The attributes of a start tag the reader accepted, with where they stand.
QList<Attribute> attributesOf(const QByteArray &text, const Tag &tag)
{
    QList<Attribute> found;
    qsizetype i = tag.start + 1;
    const qsizetype end = tag.end - (tag.empty ? 2 : 1);
    while (i < end && !isSpace(text[i]))
        ++i;
    while (i < end) {
        const qsizetype space = i;
        while (i < end && isSpace(text[i]))
            ++i;
        const qsizetype name = i;
        while (i < end && text[i] != '=' && !isSpace(text[i]))
            ++i;
        const QByteArray qname = text.mid(name, i - name);
        while (i < end && text[i] != '\'' && text[i] != '"')
            ++i;
        if (i >= end)
            break;
        const char quote = text[i];
        const qsizetype value = ++i;
        while (i < end && text[i] != quote)
            ++i;
        found.append({qname, space, value, i});
        ++i;
    }
    return found;
}

struct ExpatDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

// One pass of expat over the packet, which tells each tag's bytes; names
// come as namespace, local name and prefix.
class Reader {
public:
    explicit Reader(const QByteArray &text) : text(text) {}

    Parsed read()
    {
        if (text.size() > MaxPacketBytes) {
            parsed.error = QStringLiteral("it is larger than %1 MB").arg(MaxPacketBytes >> 20);
            return parsed;
        }
        // UTF-8 whatever the declaration says: the text was made UTF-8 before.
        parser.reset(XML_ParserCreateNS("UTF-8", NameSeparator));
        XML_Parser p = parser.get();
        XML_SetReturnNSTriplet(p, 1);
        XML_SetUserData(p, this);
        XML_SetElementHandler(p, &Reader::onStart, &Reader::onEnd);
        XML_SetCharacterDataHandler(p, &Reader::onText);
        XML_SetNamespaceDeclHandler(p, &Reader::onBind, &Reader::onUnbind);
        XML_SetStartDoctypeDeclHandler(p, &Reader::onDoctype);
        bound.insert(QStringLiteral("xml"), {XmlUri});
        if (XML_Parse(p, text.constData(), int(text.size()), 1) == XML_STATUS_ERROR && parsed.error.isEmpty())
            parsed.error = QStringLiteral("%1 (line %2)")
                               .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(p))))
                               .arg(XML_GetCurrentLineNumber(p));
        return parsed;
    }

private:
    const QByteArray &text;
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ExpatDeleter> parser;
    Parsed parsed;
    QHash<QString, QStringList> bound; // prefix -> namespaces, innermost last
    QList<Tag> open;
    int rdfDepth = -1;
    int xmpmetaDepth = -1;
    bool inFirstRdf = false;
    bool inArray = false;
    bool inItem = false;
    int property = -1;
    QStringList binding; // the prefixes the next start tag binds
    int structDepth = -1; // the depth of the open structure's element
    int field = -1;       // the structure's field element open now

    void stop(const QString &why)
    {
        if (parsed.error.isEmpty())
            parsed.error = why;
        XML_StopParser(parser.get(), XML_FALSE);
    }

    QHash<QString, QString> scope() const
    {
        QHash<QString, QString> now;
        for (auto it = bound.cbegin(); it != bound.cend(); ++it) {
            if (!it.value().isEmpty())
                now.insert(it.key(), it.value().last());
        }
        return now;
    }

    struct Name {
        QString uri;
        QString local;
        QString prefix;
        QString qname() const { return prefix.isEmpty() ? local : prefix + u':' + local; }
    };
    static Name nameOf(const char *raw)
    {
        const char *first = std::strchr(raw, NameSeparator);
        if (!first)
            return {{}, QString::fromUtf8(raw), {}};
        const char *second = std::strchr(first + 1, NameSeparator);
        const char *localEnd = second ? second : first + 1 + std::strlen(first + 1);
        return {QString::fromUtf8(raw, first - raw), QString::fromUtf8(first + 1, localEnd - first - 1),
                second ? QString::fromUtf8(second + 1) : QString()};
    }

    static void onDoctype(void *self, const XML_Char *, const XML_Char *, const XML_Char *, int)
    {
        static_cast<Reader *>(self)->stop(QStringLiteral("it declares a document type"));
    }
    static void onBind(void *self, const XML_Char *prefix, const XML_Char *uri)
    {
        Reader &r = *static_cast<Reader *>(self);
        r.bound[QString::fromUtf8(prefix ? prefix : "")].append(QString::fromUtf8(uri ? uri : ""));
        r.binding.append(QString::fromUtf8(prefix ? prefix : ""));
    }
    static void onUnbind(void *self, const XML_Char *prefix)
    {
        QStringList &uris = static_cast<Reader *>(self)->bound[QString::fromUtf8(prefix ? prefix : "")];
        if (!uris.isEmpty())
            uris.removeLast();
    }
    static void onText(void *self, const XML_Char *data, int size)
    {
        Reader &r = *static_cast<Reader *>(self);
        if (r.property < 0)
            return;
        const int level = int(r.open.size()) - r.rdfDepth;
        Property &p = r.parsed.properties[r.property];
        if (r.field >= 0 && int(r.open.size()) == r.structDepth + 1)
            p.structure.fields[r.field].text += QString::fromUtf8(data, size);
        if (level == 2)
            p.text += QString::fromUtf8(data, size);
        else if (level == 4 && r.inItem)
            p.items.last().text += QString::fromUtf8(data, size);
    }
    static void onStart(void *self, const XML_Char *raw, const XML_Char **attributes)
    {
        static_cast<Reader *>(self)->start(raw, attributes);
    }
    static void onEnd(void *self, const XML_Char *) { static_cast<Reader *>(self)->end(); }

    void start(const char *raw, const char **attributes)
    {
        if (open.size() >= MaxDepth)
            return stop(QStringLiteral("its elements nest deeper than %1").arg(MaxDepth));
        if (XML_GetSpecifiedAttributeCount(parser.get()) > 2 * MaxAttributes)
            return stop(QStringLiteral("an element has more than %1 attributes").arg(MaxAttributes));
        const qsizetype at = qsizetype(XML_GetCurrentByteIndex(parser.get()));
        const qsizetype end = at + XML_GetCurrentByteCount(parser.get());
        const Tag tag{at, end, end - at >= 2 && text[end - 2] == '/'};
        open.append(tag);
        const QStringList binds = std::exchange(binding, {});
        const Name name = nameOf(raw);
        if (rdfDepth < 0) {
            if (!parsed.hasXmpmeta && name.uri == u"adobe:ns:meta/" && name.local == u"xmpmeta") {
                parsed.hasXmpmeta = true;
                parsed.xmpmeta = {name.qname(), tag, -1, -1, scope()};
                xmpmetaDepth = int(open.size());
            }
            if (name.uri != RdfUri || name.local != u"RDF")
                return;
            rdfDepth = int(open.size());
            if (!parsed.hasRdf) {
                parsed.hasRdf = true;
                inFirstRdf = true;
                parsed.rdf = {name.qname(), tag, -1, -1, scope()};
                parsed.rdfPrefix = name.prefix;
            }
            return;
        }
        const int level = int(open.size()) - rdfDepth;
        if (level == 1) {
            if (inFirstRdf && parsed.rdf.firstChild < 0)
                parsed.rdf.firstChild = tag.start;
            parsed.nodes.append({name.qname(), tag, -1, -1, parsed.nodes.isEmpty() ? scope() : QHash<QString, QString>()});
            // Expat reports the attributes in the tag's order, without the namespace declarations.
            const char **next = attributes;
            for (const Attribute &attribute : attributesOf(text, tag)) {
                if (attribute.qname == "xmlns" || attribute.qname.startsWith("xmlns:"))
                    continue;
                if (!*next)
                    return stop(QStringLiteral("its attributes cannot be followed"));
                const Name n = nameOf(next[0]);
                const char *value = next[1];
                next += 2;
                if (!attribute.qname.endsWith(n.local.toUtf8()))
                    return stop(QStringLiteral("its attributes cannot be followed"));
                if (n.uri.isEmpty() || n.uri == RdfUri || n.uri == XmlUri)
                    continue;
                Property p;
                p.node = int(parsed.nodes.size()) - 1;
                p.uri = n.uri;
                p.name = n.local;
                p.qname = n.qname();
                p.attribute = true;
                p.start = attribute.start;
                p.end = attribute.valueEnd + 1;
                p.valueStart = attribute.valueStart;
                p.text = QString::fromUtf8(value);
                parsed.properties.append(p);
            }
        } else if (level == 2) {
            Container &node = parsed.nodes.last();
            if (node.firstChild < 0)
                node.firstChild = tag.start;
            Property p;
            p.node = int(parsed.nodes.size()) - 1;
            p.uri = name.uri;
            p.name = name.local;
            p.qname = name.qname();
            p.start = tag.start;
            // A value written anew keeps what the element binds: its own name, or its array's, may need it.
            for (const Attribute &attribute : binds.isEmpty() ? QList<Attribute>() : attributesOf(text, tag)) {
                if (attribute.qname == "xmlns" || attribute.qname.startsWith("xmlns:"))
                    p.declarations += QString::fromUtf8(text.mid(attribute.start, attribute.valueEnd + 1 - attribute.start));
            }
            const QStringList &rdf = bound.value(parsed.rdfPrefix);
            p.rdfHere = !parsed.rdfPrefix.isEmpty() && !rdf.isEmpty() && rdf.last() == RdfUri;
            property = int(parsed.properties.size());
            parsed.properties.append(p);
        } else if (level == 3 && property >= 0 && name.uri == RdfUri
                   && (name.local == u"Bag" || name.local == u"Seq" || name.local == u"Alt")) {
            Property &p = parsed.properties[property];
            if (p.array.isEmpty()) {
                p.array = name.local;
                p.arrayQName = name.qname();
                p.arrayBindsRdf = binds.contains(name.prefix);
                p.arrayTag = tag;
                inArray = true;
            }
        } else if (level == 4 && inArray && name.uri == RdfUri && name.local == u"li") {
            QString lang;
            for (const char **a = attributes; *a; a += 2) {
                const Name attribute = nameOf(*a);
                if (attribute.uri == XmlUri && attribute.local == u"lang")
                    lang = QString::fromUtf8(a[1]);
            }
            parsed.properties[property].items.append({name.qname(), lang, tag, end, {}});
            inItem = true;
        }
        if (property >= 0 && level >= 2)
            structureStart(name, tag, level, attributes);
    }

    // The attributes of a start tag that are properties, as Field records.
    bool propertyAttributes(const Tag &tag, const char **attributes, QList<Field> &fields)
    {
        const char **next = attributes;
        for (const Attribute &attribute : attributesOf(text, tag)) {
            if (attribute.qname == "xmlns" || attribute.qname.startsWith("xmlns:"))
                continue;
            if (!*next)
                return false;
            const Name n = nameOf(next[0]);
            const char *value = next[1];
            next += 2;
            if (!attribute.qname.endsWith(n.local.toUtf8()))
                return false;
            if (n.uri.isEmpty() || n.uri == RdfUri || n.uri == XmlUri)
                continue;
            fields.append({n.uri, n.local, n.qname(), true, tag, attribute.start, attribute.valueEnd + 1, attribute.valueStart, 0,
                           QString::fromUtf8(value), false});
        }
        return true;
    }

    static bool resourceType(const char **attributes)
    {
        for (const char **a = attributes; *a; a += 2) {
            const Name attribute = nameOf(*a);
            if (attribute.uri == RdfUri && attribute.local == u"parseType" && std::strcmp(a[1], "Resource") == 0)
                return true;
        }
        return false;
    }

    void structureStart(const Name &name, const Tag &tag, int level, const char **attributes)
    {
        Property &p = parsed.properties[property];
        Structure &s = p.structure;
        const int depth = int(open.size());
        if (structDepth >= 0) {
            if (depth == structDepth + 1) {
                field = int(s.fields.size());
                s.fields.append({name.uri, name.local, name.qname(), false, tag, tag.start, tag.end, 0, tag.end, {}, false});
            } else if (field >= 0) {
                s.fields[field].nested = true;
            }
            return;
        }
        if (s.found)
            return;
        const bool description = name.uri == RdfUri && name.local == u"Description";
        const bool firstItem = inArray && p.items.size() == 1;
        const bool resource = resourceType(attributes);
        bool container = false;
        bool attributesOnly = false;
        if (level == 2) {
            container = true;
            attributesOnly = !resource;
        } else if (level == 3) {
            container = description && p.array.isEmpty();
        } else if (level == 4) {
            container = firstItem && name.uri == RdfUri && name.local == u"li";
            attributesOnly = !resource;
        } else if (level == 5) {
            container = firstItem && inItem && description;
        }
        if (!container)
            return;
        QList<Field> fields;
        if (!propertyAttributes(tag, attributes, fields))
            return stop(QStringLiteral("its attributes cannot be followed"));
        // A property or item written as an element with neither fields nor
        // parseType is a simple value, or holds the element that carries them.
        if (attributesOnly && fields.isEmpty() && !tag.empty)
            return;
        s = {true, tag, name.qname(), depth, attributesOnly, -1, fields};
        if (!tag.empty)
            structDepth = depth;
    }

    void end()
    {
        const Tag tag = open.takeLast();
        const qsizetype at = qsizetype(XML_GetCurrentByteIndex(parser.get()));
        const qsizetype after = tag.empty ? tag.end : at + XML_GetCurrentByteCount(parser.get());
        const qsizetype endTag = tag.empty ? tag.end : at;
        if (structDepth >= 0 && property >= 0) {
            Structure &s = parsed.properties[property].structure;
            if (int(open.size()) == structDepth && field >= 0) {
                s.fields[field].end = after;
                s.fields[field].contentEnd = endTag;
                field = -1;
            } else if (int(open.size()) + 1 == structDepth) {
                s.contentEnd = endTag;
                structDepth = -1;
            }
        }
        if (int(open.size()) == xmpmetaDepth)
            parsed.xmpmeta.lastChildEnd = after;
        else if (int(open.size()) + 1 == xmpmetaDepth)
            xmpmetaDepth = -1;
        if (rdfDepth < 0)
            return;
        const int level = int(open.size()) + 1 - rdfDepth;
        if (level == 0) {
            rdfDepth = -1;
            inFirstRdf = false;
        } else if (level == 1 && inFirstRdf) {
            parsed.rdf.lastChildEnd = after;
        } else if (level == 2 && property >= 0) {
            parsed.properties[property].end = after;
            parsed.nodes.last().lastChildEnd = after;
            property = -1;
        } else if (level == 3 && inArray) {
            inArray = false;
        } else if (level == 4 && inItem) {
            parsed.properties[property].items.last().contentEnd = endTag;
            inItem = false;
        }
    }
};

Parsed parse(const QByteArray &text) { return Reader(text).read(); }

QString escaped(const QString &value, bool attribute)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        case u'\r': out += QStringLiteral("&#xD;"); break;
        case u'"': out += attribute ? QStringLiteral("&quot;") : QStringLiteral("\""); break;
        case u'\'': out += attribute ? QStringLiteral("&apos;") : QStringLiteral("'"); break;
        case u'\n': out += attribute ? QStringLiteral("&#xA;") : QStringLiteral("\n"); break;
        case u'\t': out += attribute ? QStringLiteral("&#x9;") : QStringLiteral("\t"); break;
        default: out += c;
        }
    }
    return out;
}

// The spaces that start the line of `at`; none when something else precedes it there.
QString indentBefore(const QByteArray &text, qsizetype at)
{
    qsizetype i = at;
    while (i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t'))
        --i;
    if (i > 0 && text[i - 1] != '\n' && text[i - 1] != '\r')
        return {};
    return QString::fromLatin1(text.mid(i, at - i));
}

QString arrayName(XmpForm form)
{
    return form == XmpForm::Alt ? QStringLiteral("Alt") : form == XmpForm::Seq ? QStringLiteral("Seq") : QStringLiteral("Bag");
}

// The property as an element named `qname` whose lines start with `indent`,
// its array's names with the prefix `rdf`, which the array binds itself when
// `bind` says so; `declarations` go into its start tag as they stand.
QString propertyElement(const QString &qname, const XmpSetting &setting, const QString &indent, const QString &rdf, bool bind,
                        const QString &declarations = {})
{
    if (setting.form == XmpForm::Text)
        return u'<' + qname + declarations + u'>' + escaped(setting.items.value(0), false) + QStringLiteral("</") + qname + u'>';
    const QString array = rdf + u':' + arrayName(setting.form);
    const QString binding = bind ? QStringLiteral(" xmlns:%1=\"%2\"").arg(rdf, RdfUri) : QString();
    const QString language = setting.form == XmpForm::Alt ? QStringLiteral(" xml:lang=\"x-default\"") : QString();
    QString out = u'<' + qname + declarations + QStringLiteral(">\n") + indent + QStringLiteral(" <") + array + binding + u'>';
    for (const QString &item : setting.items)
        out += u'\n' + indent + QStringLiteral("  <") + rdf + QStringLiteral(":li") + language + u'>' + escaped(item, false)
            + QStringLiteral("</") + rdf + QStringLiteral(":li>");
    return out + u'\n' + indent + QStringLiteral(" </") + array + QStringLiteral(">\n") + indent + QStringLiteral("</") + qname + u'>';
}

// The fields of a structure, as elements of the prefix `prefix` whose lines start with `indent`.
QString structFields(const QString &prefix, const QList<const XmpSetting *> &group, const QString &indent)
{
    QString out;
    for (const XmpSetting *setting : group) {
        const QString qname = prefix + u':' + setting->property.part;
        out += u'\n' + indent + u'<' + qname + u'>' + escaped(setting->items.value(0), false) + QStringLiteral("</") + qname + u'>';
    }
    return out;
}

// A structure as a property element, as propertyElement writes a value;
// in the first item of an array when the fields say so.
QString structElement(const QString &qname, const QList<const XmpSetting *> &group, const QString &indent, const QString &rdf,
                      bool bind, const QString &declarations = {})
{
    const QString prefix = qname.section(u':', 0, -2);
    const QString binding = bind ? QStringLiteral(" xmlns:%1=\"%2\"").arg(rdf, RdfUri) : QString();
    const QString resource = u' ' + rdf + QStringLiteral(":parseType=\"Resource\"");
    const QString list = group.front()->property.list;
    if (list.isEmpty())
        return u'<' + qname + declarations + binding + resource + u'>' + structFields(prefix, group, indent + u' ') + u'\n' + indent
            + QStringLiteral("</") + qname + u'>';
    const QString array = rdf + u':' + list;
    const QString li = rdf + QStringLiteral(":li");
    return u'<' + qname + declarations + QStringLiteral(">\n") + indent + QStringLiteral(" <") + array + binding + QStringLiteral(">\n")
        + indent + QStringLiteral("  <") + li + resource + u'>' + structFields(prefix, group, indent + QStringLiteral("   ")) + u'\n'
        + indent + QStringLiteral("  </") + li + QStringLiteral(">\n") + indent + QStringLiteral(" </") + array + QStringLiteral(">\n")
        + indent + QStringLiteral("</") + qname + u'>';
}

struct Edit {
    qsizetype start = 0;
    qsizetype end = 0;
    QString with;
};

// The prefixes to write names of `uri` with at a container, binding new ones
// as needed; chosen the same way every time.
struct Bindings {
    const QHash<QString, QString> &scope;
    QList<std::pair<QString, QString>> added; // prefix, namespace

    QString prefixFor(const QString &uri, const QString &standard)
    {
        for (const auto &[prefix, ns] : added) {
            if (ns == uri)
                return prefix;
        }
        if (scope.value(standard) == uri)
            return standard;
        QString best;
        for (auto it = scope.cbegin(); it != scope.cend(); ++it) {
            if (it.value() == uri && !it.key().isEmpty() && (best.isEmpty() || it.key() < best))
                best = it.key();
        }
        if (!best.isEmpty())
            return best;
        QString prefix = standard;
        for (int n = 1; scope.contains(prefix) || taken(prefix); ++n)
            prefix = standard + QString::number(n);
        added.append({prefix, uri});
        return prefix;
    }
    bool taken(const QString &prefix) const
    {
        return std::any_of(added.begin(), added.end(), [&](const auto &binding) { return binding.first == prefix; });
    }
    QString declarations() const
    {
        QString out;
        for (const auto &[prefix, ns] : added)
            out += QStringLiteral(" xmlns:%1=\"%2\"").arg(prefix, escaped(ns, true));
        return out;
    }
};

QByteArray applied(const QByteArray &text, QList<Edit> edits, bool *overlap)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    QByteArray out;
    out.reserve(text.size() + 1024);
    qsizetype cursor = 0;
    for (const Edit &edit : edits) {
        if (edit.start < cursor) {
            *overlap = true;
            return {};
        }
        out += QByteArrayView(text).sliced(cursor, edit.start - cursor);
        out += edit.with.toUtf8();
        cursor = edit.end;
    }
    out += QByteArrayView(text).sliced(cursor);
    return out;
}

qsizetype whitespaceBefore(const QByteArray &text, qsizetype at)
{
    while (at > 0 && isSpace(text[at - 1]))
        --at;
    return at;
}

// The packet the same size as `was` where its padding allows, so a
// container can take it in place.
QByteArray fitPadding(const QByteArray &was, QByteArray now)
{
    const auto paddingOf = [](const QByteArray &packet, qsizetype *trailer) {
        *trailer = packet.lastIndexOf("<?xpacket end=");
        qsizetype i = *trailer;
        while (i > 0 && (packet[i - 1] == ' ' || packet[i - 1] == '\n' || packet[i - 1] == '\r' || packet[i - 1] == '\t'))
            --i;
        return *trailer < 0 ? 0 : *trailer - i;
    };
    qsizetype oldTrailer = 0;
    qsizetype newTrailer = 0;
    // A line break or two before the trailer is layout, not room left for edits.
    if (paddingOf(was, &oldTrailer) <= 2 || now.size() == was.size())
        return now;
    const qsizetype padding = paddingOf(now, &newTrailer);
    if (padding < 1)
        return now;
    if (now.size() < was.size()) {
        now.insert(newTrailer - 1, QByteArray(was.size() - now.size(), ' '));
        return now;
    }
    const qsizetype excess = now.size() - was.size();
    if (padding - 2 < excess)
        return now;
    now.remove(newTrailer - padding + 1, excess);
    return now;
}

const char *const FreshPacket = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                                "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                                " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                                "  <rdf:Description rdf:about=\"\"/>\n"
                                " </rdf:RDF>\n"
                                "</x:xmpmeta>\n"
                                "<?xpacket end=\"w\"?>";
} // namespace

namespace {
// Packets may be stored in UTF-16, as the XMP specification allows: told by
// a byte-order mark, or by the NUL byte of its first character.
std::optional<TextEncoding> utf16(const QByteArray &packet)
{
    if (packet.size() < 2)
        return std::nullopt;
    if (packet.startsWith("\xFE\xFF") || packet.at(0) == '\0')
        return TextEncoding::Utf16BE;
    if (packet.startsWith("\xFF\xFE") || packet.at(1) == '\0')
        return TextEncoding::Utf16LE;
    return std::nullopt;
}

// The packet as UTF-8, which is how it is written again: a UTF-16 packet's
// declaration says so too.
QByteArray utf8Of(const QByteArray &packet)
{
    const std::optional<TextEncoding> wide = utf16(packet);
    if (!wide)
        return packet;
    QByteArray text = DecodeText(packet, *wide).toUtf8();
    const qsizetype start = text.indexOf("<?xml");
    const qsizetype end = start >= 0 && start < 8 ? text.indexOf("?>", start) : -1;
    const qsizetype encoding = end > 0 ? text.indexOf("encoding=", start) : -1;
    if (encoding < 0 || encoding + 10 > end)
        return text;
    const qsizetype close = text.indexOf(text[encoding + 9], encoding + 10);
    if (close > 0 && close < end)
        text.replace(encoding + 10, close - encoding - 10, "UTF-8");
    return text;
}
} // namespace

bool XmpPacketText(const QByteArray &packet, QString *text)
{
    if (const std::optional<TextEncoding> wide = utf16(packet)) {
        *text = DecodeText(packet, *wide);
        return true;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    *text = decoder.decode(packet);
    return !decoder.hasError();
}

namespace {
// The edits that set the fields of one structure where it stands, keeping
// its other fields; a packet without it gets it among the missing. Returns
// why it cannot be set, empty when it can.
QString structureEdits(const QByteArray &text, const Parsed &parsed, const QHash<QString, QList<int>> &byName,
                       const QList<const XmpSetting *> &group, QList<Edit> &edits, QList<QList<const XmpSetting *>> &missing)
{
    const XmpName &property = group.front()->property;
    const QList<int> found = byName.value(property.uri + u' ' + property.name);
    const bool remove = group.front()->remove;
    int home = -1;
    for (const int i : found) {
        if (home < 0 && !remove && !parsed.properties[i].attribute)
            home = i;
    }
    for (const int i : found) {
        const Property &p = parsed.properties[i];
        if (i != home)
            edits.append({p.attribute ? p.start : whitespaceBefore(text, p.start), p.end, {}});
    }
    if (home < 0) {
        if (!remove)
            missing.append(group);
        return {};
    }
    const Property &p = parsed.properties[home];
    const Structure &st = p.structure;
    const bool listed = !property.list.isEmpty();
    if (!st.found || listed == p.array.isEmpty()) {
        if (listed && !p.items.isEmpty())
            return QStringLiteral("its %1 holds items that are not structures").arg(p.qname);
        const QString arrayPrefix = p.arrayQName.section(u':', 0, -2);
        const QString rdf = !arrayPrefix.isEmpty() ? arrayPrefix : p.rdfHere ? parsed.rdfPrefix : QStringLiteral("rdf");
        const bool bind = !arrayPrefix.isEmpty() ? p.arrayBindsRdf : !p.rdfHere;
        edits.append({p.start, p.end, structElement(p.qname, group, indentBefore(text, p.start), rdf, bind, p.declarations)});
        return {};
    }
    const QString prefix = p.qname.section(u':', 0, -2);
    if (prefix.isEmpty())
        return QStringLiteral("its %1 is written without a prefix").arg(p.qname);
    // Fields go where the structure keeps its others: as attributes of an
    // empty element, else as elements.
    const bool asAttributes = st.attributesOnly || (st.tag.empty && st.qname.endsWith(QLatin1String(":Description")));
    const auto element = std::find_if(st.fields.begin(), st.fields.end(), [](const Field &f) { return !f.attribute; });
    const QString indent = element != st.fields.end() ? indentBefore(text, element->start) : indentBefore(text, st.tag.start) + u' ';
    QString attributes;
    QList<const XmpSetting *> added;
    for (const XmpSetting *setting : group) {
        const QString value = setting->items.value(0);
        const auto f = std::find_if(st.fields.begin(), st.fields.end(), [&](const Field &f) {
            return f.uri == setting->property.uri && f.name == setting->property.part;
        });
        if (f == st.fields.end() && asAttributes)
            attributes += QStringLiteral(" %1:%2=\"%3\"").arg(prefix, setting->property.part, escaped(value, true));
        else if (f == st.fields.end())
            added.append(setting);
        else if (f->attribute)
            edits.append({f->valueStart, f->end - 1, escaped(value, true)});
        else if (f->nested)
            edits.append({f->start, f->end, u'<' + f->qname + u'>' + escaped(value, false) + QStringLiteral("</") + f->qname + u'>'});
        else if (f->tag.empty)
            edits.append({f->tag.end - 2, f->tag.end, u'>' + escaped(value, false) + QStringLiteral("</") + f->qname + u'>'});
        else
            edits.append({f->tag.end, f->contentEnd, escaped(value, false)});
    }
    if (!attributes.isEmpty()) {
        const qsizetype at = st.tag.end - (st.tag.empty ? 2 : 1);
        edits.append({at, at, attributes});
    }
    if (added.isEmpty())
        return {};
    if (st.tag.empty) {
        edits.append({st.tag.end - 2, st.tag.end,
                      u'>' + structFields(prefix, added, indent) + u'\n' + indentBefore(text, st.tag.start) + QStringLiteral("</") + st.qname + u'>'});
        return {};
    }
    const qsizetype at = std::max(st.tag.end, whitespaceBefore(text, st.contentEnd));
    edits.append({at, at, structFields(prefix, added, indent)});
    return {};
}
} // namespace

XmpEditResult EditXmp(const QByteArray &packet, const QList<XmpSetting> &settings)
{
    XmpEditResult result{packet, {}, {}};
    if (settings.isEmpty())
        return result;
    const QByteArray text = packet.isEmpty() ? QByteArray(FreshPacket) : utf8Of(packet);
    const Parsed parsed = parse(text);
    if (!parsed.error.isEmpty() || (!parsed.hasRdf && !parsed.hasXmpmeta)) {
        result.unreadable = parsed.error.isEmpty() ? QStringLiteral("it has no rdf:RDF element") : parsed.error;
        return result;
    }

    QList<Edit> edits;
    QList<QList<const XmpSetting *>> missing; // a property's settings: one, or the fields of one structure
    QHash<QString, QList<int>> byName; // namespace + " " + name -> occurrences in order
    for (int i = 0; i < parsed.properties.size(); ++i)
        byName[parsed.properties[i].uri + u' ' + parsed.properties[i].name].append(i);
    QList<QList<const XmpSetting *>> structures;
    for (const XmpSetting &setting : settings) {
        if (!setting.property.part.isEmpty()) {
            const auto same = std::find_if(structures.begin(), structures.end(), [&](const QList<const XmpSetting *> &group) {
                return group.front()->property.uri == setting.property.uri && group.front()->property.name == setting.property.name;
            });
            if (same == structures.end())
                structures.append({&setting});
            else
                same->append(&setting);
            continue;
        }
        const QList<int> found = byName.value(setting.property.uri + u' ' + setting.property.name);
        // An array or alternative cannot stand in an attribute: an element of the property is its home.
        // An alternative keeps its other languages, so one of them is the home where there is one.
        int home = -1;
        for (const int i : found) {
            const Property &p = parsed.properties[i];
            if (home < 0 && !setting.remove && setting.form == XmpForm::Alt && p.array == u"Alt")
                home = i;
        }
        for (const int i : found) {
            if (home < 0 && !setting.remove && (setting.form == XmpForm::Text || !parsed.properties[i].attribute))
                home = i;
        }
        for (const int i : found) {
            const Property &p = parsed.properties[i];
            if (i != home) {
                edits.append({p.attribute ? p.start : whitespaceBefore(text, p.start), p.end, {}});
                continue;
            }
            if (p.attribute) {
                edits.append({p.valueStart, p.end - 1, escaped(setting.items.value(0), true)});
                continue;
            }
            if (setting.form == XmpForm::Alt && p.array == u"Alt") {
                const QString value = escaped(setting.items.value(0), false);
                const auto item = std::find_if(p.items.begin(), p.items.end(), [](const Item &item) {
                    return item.lang.compare(u"x-default", Qt::CaseInsensitive) == 0;
                });
                const QString li = p.arrayQName.left(p.arrayQName.indexOf(u':') + 1) + QStringLiteral("li");
                if (item != p.items.end() && item->tag.empty)
                    edits.append({item->tag.end - 2, item->tag.end, u'>' + value + QStringLiteral("</") + item->qname + u'>'});
                else if (item != p.items.end())
                    edits.append({item->tag.end, item->contentEnd, value});
                else {
                    // The default goes first, where readers look for it.
                    const QString indent = p.items.isEmpty() ? indentBefore(text, p.arrayTag.start) + u' '
                                                             : indentBefore(text, p.items.first().tag.start);
                    const QString added = u'\n' + indent + u'<' + li + QStringLiteral(" xml:lang=\"x-default\">") + value
                        + QStringLiteral("</") + li + u'>';
                    if (p.arrayTag.empty)
                        edits.append({p.arrayTag.end - 2, p.arrayTag.end,
                                      u'>' + added + u'\n' + indentBefore(text, p.arrayTag.start) + QStringLiteral("</")
                                          + p.arrayQName + u'>'});
                    else
                        edits.append({p.arrayTag.end, p.arrayTag.end, added});
                }
                continue;
            }
            // The RDF prefix its array has, so a second edit writes the same bytes; else the
            // packet's own where it holds here, else one bound on the array.
            const QString arrayPrefix = p.arrayQName.section(u':', 0, -2);
            const QString rdf = !arrayPrefix.isEmpty() ? arrayPrefix : p.rdfHere ? parsed.rdfPrefix : QStringLiteral("rdf");
            const bool bind = !arrayPrefix.isEmpty() ? p.arrayBindsRdf : !p.rdfHere;
            edits.append({p.start, p.end, propertyElement(p.qname, setting, indentBefore(text, p.start), rdf, bind, p.declarations)});
        }
        if (home < 0 && !setting.remove)
            missing.append({&setting});
    }
    for (const QList<const XmpSetting *> &group : structures) {
        if (const QString why = structureEdits(text, parsed, byName, group, edits, missing); !why.isEmpty()) {
            result.unwritable = why;
            return result;
        }
    }

    if (!missing.isEmpty()) {
        // New properties go into the first node; a packet without one gets a
        // node, and an empty x:xmpmeta an rdf:RDF too.
        const int make = !parsed.hasRdf ? 2 : parsed.nodes.isEmpty() ? 1 : 0;
        const Container &into = make == 2 ? parsed.xmpmeta : make == 1 ? parsed.rdf : parsed.nodes.first();
        Bindings bindings{into.scope, {}};
        const QString indent = indentBefore(text, into.tag.start);
        const QString rdfIndent = indent + u' ';
        const QString nodeIndent = make == 2 ? rdfIndent + u' ' : rdfIndent;
        const QString propertyIndent = make > 0 ? nodeIndent + u' '
            : into.firstChild >= 0              ? indentBefore(text, into.firstChild)
                                                : indent + u' ';
        const bool structured = make > 0 || std::any_of(missing.begin(), missing.end(), [](const QList<const XmpSetting *> &group) {
                                    return group.front()->form != XmpForm::Text || !group.front()->property.part.isEmpty();
                                });
        const QString rdf = structured ? bindings.prefixFor(RdfUri, QStringLiteral("rdf")) : QString();
        QString block;
        for (const QList<const XmpSetting *> &group : missing) {
            const XmpSetting *setting = group.front();
            const QString qname = bindings.prefixFor(setting->property.uri, setting->property.prefix) + u':' + setting->property.name;
            block += u'\n' + propertyIndent
                + (setting->property.part.isEmpty() ? propertyElement(qname, *setting, propertyIndent, rdf, false)
                                                    : structElement(qname, group, propertyIndent, rdf, false));
        }
        // The namespaces are bound on the outermost element written.
        const QString declarations = bindings.declarations();
        if (make > 0) {
            const QString description = rdf + QStringLiteral(":Description");
            block = u'\n' + nodeIndent + u'<' + description + u' ' + rdf + QStringLiteral(":about=\"\"")
                + (make == 1 ? declarations : QString()) + u'>' + block + u'\n' + nodeIndent + QStringLiteral("</") + description + u'>';
        }
        if (make == 2) {
            const QString rdfName = rdf + QStringLiteral(":RDF");
            block = u'\n' + rdfIndent + u'<' + rdfName + declarations + u'>' + block + u'\n' + rdfIndent + QStringLiteral("</") + rdfName + u'>';
        }
        if (into.tag.empty) {
            edits.append({into.tag.end - 2, into.tag.end,
                          (make == 0 ? declarations : QString()) + u'>' + block + u'\n' + indent + QStringLiteral("</") + into.qname + u'>'});
        } else {
            if (make == 0)
                edits.append({into.tag.end - 1, into.tag.end - 1, declarations});
            const qsizetype at = into.lastChildEnd >= 0 ? into.lastChildEnd : into.tag.end;
            edits.append({at, at, block});
        }
    }

    bool overlap = false;
    const QByteArray out = applied(text, edits, &overlap);
    if (overlap) {
        result.unwritable = QStringLiteral("the packet names a property twice in one place");
        return result;
    }
    if (out == packet)
        return result;
    result.packet = fitPadding(packet, out);
    return result;
}

XmpRead ReadXmp(const QByteArray &packet, const QList<XmpName> &names)
{
    XmpRead read;
    read.values.resize(names.size());
    read.present.fill(false, names.size());
    const Parsed parsed = parse(utf8Of(packet));
    if (!parsed.error.isEmpty() || (!parsed.hasRdf && !parsed.hasXmpmeta)) {
        read.unreadable = parsed.error.isEmpty() ? QStringLiteral("it has no rdf:RDF element") : parsed.error;
        return read;
    }
    read.properties = parsed.properties.size();
    QHash<QString, QList<int>> wanted;
    for (int i = 0; i < names.size(); ++i)
        wanted[names[i].uri + u' ' + names[i].name].append(i);
    for (const Property &p : parsed.properties) {
        for (const int i : wanted.value(p.uri + u' ' + p.name)) {
            if (read.present[i])
                continue;
            if (!names[i].part.isEmpty()) {
                if (!p.structure.found || names[i].list.isEmpty() != p.array.isEmpty())
                    continue;
                for (const Field &f : p.structure.fields) {
                    if (read.present[i] || f.uri != names[i].uri || f.name != names[i].part)
                        continue;
                    read.present[i] = true;
                    read.values[i] = QStringList{f.nested ? QString() : f.text};
                }
                continue;
            }
            read.present[i] = true;
            if (p.array.isEmpty()) {
                read.values[i] = QStringList{p.text};
                continue;
            }
            for (const Item &item : p.items) {
                if (p.array != u"Alt")
                    read.values[i].append(item.text);
                else if (item.lang.compare(u"x-default", Qt::CaseInsensitive) == 0 && read.values[i].isEmpty())
                    read.values[i] = QStringList{item.text};
            }
        }
    }
    return read;
}
