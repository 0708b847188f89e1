#include "engine/xmpeditor.h"

#include "model/codepage.h"

#include <QHash>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>

namespace {
const QString RdfUri = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QString XmlUri = QStringLiteral("http://www.w3.org/XML/1998/namespace");
// Far beyond any real packet (the largest seen hold a few megabytes).
constexpr qsizetype MaxPacketChars = qsizetype(64) << 20;
constexpr int MaxDepth = 200;
constexpr qsizetype MaxAttributes = 100000;

bool isSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// A start tag [start, end): from its "<" to past its ">"; empty for "<x/>".
struct Tag {
    qsizetype start = 0;
    qsizetype end = 0;
    bool empty = false;
};

struct Item {
    QString lang;
    Tag tag;
    qsizetype contentEnd = 0; // where its end tag starts
    QString text;
};

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
    Tag arrayTag;
    QList<Item> items;
};

// rdf:RDF or one of its nodes, which new properties or a new node may go into.
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
    QString qname;
    qsizetype start = 0; // of the whitespace before it
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0; // the closing quote
};

// The attributes of a start tag the reader accepted, with where they stand.
QList<Attribute> attributesOf(const QString &text, const Tag &tag)
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
        while (i < end && text[i] != u'=' && !isSpace(text[i]))
            ++i;
        const QString qname = text.mid(name, i - name);
        while (i < end && text[i] != u'\'' && text[i] != u'"')
            ++i;
        if (i >= end)
            break;
        const QChar quote = text[i];
        const qsizetype value = ++i;
        while (i < end && text[i] != quote)
            ++i;
        found.append({qname, space, value, i});
        ++i;
    }
    return found;
}

Parsed parse(const QString &text)
{
    Parsed parsed;
    if (text.size() > MaxPacketChars) {
        parsed.error = QStringLiteral("it is larger than %1 MB").arg(MaxPacketChars >> 20);
        return parsed;
    }
    QXmlStreamReader reader(text);
    QHash<QString, QStringList> bound{{QStringLiteral("xml"), {XmlUri}}};
    QList<QStringList> declared; // per open element
    QList<Tag> open;
    int rdfDepth = -1;
    int xmpmetaDepth = -1;
    bool inFirstRdf = false;
    bool inArray = false;
    int property = -1;
    const auto scope = [&bound] {
        QHash<QString, QString> now;
        for (auto it = bound.cbegin(); it != bound.cend(); ++it) {
            if (!it.value().isEmpty())
                now.insert(it.key(), it.value().last());
        }
        return now;
    };
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        const qsizetype at = qsizetype(reader.characterOffset());
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference) {
            parsed.error = QStringLiteral("it declares a document type");
            return parsed;
        }
        if (token == QXmlStreamReader::Characters && property >= 0) {
            const int level = int(open.size()) - rdfDepth;
            Property &p = parsed.properties[property];
            if (level == 2)
                p.text += reader.text();
            else if (level == 4 && inArray && !p.items.isEmpty())
                p.items.last().text += reader.text();
            continue;
        }
        if (token == QXmlStreamReader::StartElement) {
            if (open.size() >= MaxDepth) {
                parsed.error = QStringLiteral("its elements nest deeper than %1").arg(MaxDepth);
                return parsed;
            }
            const QXmlStreamNamespaceDeclarations declarations = reader.namespaceDeclarations();
            const QXmlStreamAttributes attributes = reader.attributes();
            if (declarations.size() + attributes.size() > MaxAttributes) {
                parsed.error = QStringLiteral("an element has more than %1 attributes").arg(MaxAttributes);
                return parsed;
            }
            QStringList prefixes;
            for (const QXmlStreamNamespaceDeclaration &declaration : declarations) {
                bound[declaration.prefix().toString()].append(declaration.namespaceUri().toString());
                prefixes.append(declaration.prefix().toString());
            }
            declared.append(prefixes);
            const Tag tag{text.lastIndexOf(u'<', at - 1), at, at >= 2 && text[at - 2] == u'/'};
            open.append(tag);
            const QStringView uri = reader.namespaceUri();
            const QStringView local = reader.name();
            const QString qname = reader.qualifiedName().toString();
            if (rdfDepth < 0) {
                if (!parsed.hasXmpmeta && uri == u"adobe:ns:meta/" && local == u"xmpmeta") {
                    parsed.hasXmpmeta = true;
                    parsed.xmpmeta = {qname, tag, -1, -1, scope()};
                    xmpmetaDepth = int(open.size());
                }
                if (uri != RdfUri || local != u"RDF")
                    continue;
                rdfDepth = int(open.size());
                if (!parsed.hasRdf) {
                    parsed.hasRdf = true;
                    inFirstRdf = true;
                    parsed.rdf = {qname, tag, -1, -1, scope()};
                    parsed.rdfPrefix = reader.prefix().toString();
                }
                continue;
            }
            const int level = int(open.size()) - rdfDepth;
            if (level == 1) {
                if (inFirstRdf && parsed.rdf.firstChild < 0)
                    parsed.rdf.firstChild = tag.start;
                parsed.nodes.append({qname, tag, -1, -1, parsed.nodes.isEmpty() ? scope() : QHash<QString, QString>()});
                // By name: finding each attribute by a search of the list would be quadratic.
                QHash<QString, const QXmlStreamAttribute *> byName;
                for (const QXmlStreamAttribute &attribute : attributes)
                    byName.insert(attribute.qualifiedName().toString(), &attribute);
                for (const Attribute &attribute : attributesOf(text, tag)) {
                    const QXmlStreamAttribute *read = byName.value(attribute.qname);
                    const QString ns = read ? read->namespaceUri().toString() : QString();
                    if (ns.isEmpty() || ns == RdfUri || ns == XmlUri)
                        continue;
                    Property p;
                    p.node = int(parsed.nodes.size()) - 1;
                    p.uri = ns;
                    p.name = attribute.qname.mid(attribute.qname.indexOf(u':') + 1);
                    p.qname = attribute.qname;
                    p.attribute = true;
                    p.start = attribute.start;
                    p.end = attribute.valueEnd + 1;
                    p.valueStart = attribute.valueStart;
                    p.text = read->value().toString();
                    parsed.properties.append(p);
                }
            } else if (level == 2) {
                Container &node = parsed.nodes.last();
                if (node.firstChild < 0)
                    node.firstChild = tag.start;
                Property p;
                p.node = int(parsed.nodes.size()) - 1;
                p.uri = uri.toString();
                p.name = local.toString();
                p.qname = qname;
                p.start = tag.start;
                const QStringList &rdf = bound.value(parsed.rdfPrefix);
                p.rdfHere = !parsed.rdfPrefix.isEmpty() && !rdf.isEmpty() && rdf.last() == RdfUri;
                property = int(parsed.properties.size());
                parsed.properties.append(p);
            } else if (level == 3 && property >= 0 && uri == RdfUri
                       && (local == u"Bag" || local == u"Seq" || local == u"Alt")) {
                Property &p = parsed.properties[property];
                if (p.array.isEmpty()) {
                    p.array = local.toString();
                    p.arrayQName = qname;
                    p.arrayTag = tag;
                    inArray = true;
                }
            } else if (level == 4 && inArray && uri == RdfUri && local == u"li") {
                parsed.properties[property].items.append({attributes.value(XmlUri, QStringLiteral("lang")).toString(), tag, at, {}});
            }
            continue;
        }
        if (token != QXmlStreamReader::EndElement)
            continue;
        const Tag tag = open.takeLast();
        for (const QString &prefix : declared.takeLast())
            bound[prefix].removeLast();
        const qsizetype endTag = tag.empty ? at : text.lastIndexOf(u'<', at - 1);
        if (int(open.size()) == xmpmetaDepth)
            parsed.xmpmeta.lastChildEnd = at;
        else if (int(open.size()) + 1 == xmpmetaDepth)
            xmpmetaDepth = -1;
        if (rdfDepth < 0)
            continue;
        const int level = int(open.size()) + 1 - rdfDepth;
        if (level == 0) {
            rdfDepth = -1;
            inFirstRdf = false;
        } else if (level == 1 && inFirstRdf) {
            parsed.rdf.lastChildEnd = at;
        } else if (level == 2 && property >= 0) {
            parsed.properties[property].end = at;
            parsed.nodes.last().lastChildEnd = at;
            property = -1;
        } else if (level == 3 && inArray) {
            inArray = false;
        } else if (level == 4 && inArray) {
            Property &p = parsed.properties[property];
            if (!p.items.isEmpty())
                p.items.last().contentEnd = endTag;
        }
    }
    if (reader.hasError())
        parsed.error = reader.errorString();
    return parsed;
}

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
QString indentBefore(const QString &text, qsizetype at)
{
    qsizetype i = at;
    while (i > 0 && (text[i - 1] == u' ' || text[i - 1] == u'\t'))
        --i;
    if (i > 0 && text[i - 1] != u'\n' && text[i - 1] != u'\r')
        return {};
    return text.mid(i, at - i);
}

QString arrayName(XmpForm form)
{
    return form == XmpForm::Alt ? QStringLiteral("Alt") : form == XmpForm::Seq ? QStringLiteral("Seq") : QStringLiteral("Bag");
}

// The property as an element named `qname` whose lines start with `indent`;
// `rdf` is the prefix bound to RDF there, or empty to bind one on the array.
QString propertyElement(const QString &qname, const XmpSetting &setting, const QString &indent, const QString &rdf)
{
    if (setting.form == XmpForm::Text)
        return u'<' + qname + u'>' + escaped(setting.items.value(0), false) + QStringLiteral("</") + qname + u'>';
    const QString r = rdf.isEmpty() ? QStringLiteral("rdf") : rdf;
    const QString array = r + u':' + arrayName(setting.form);
    const QString binding = rdf.isEmpty() ? QStringLiteral(" xmlns:rdf=\"%1\"").arg(RdfUri) : QString();
    const QString language = setting.form == XmpForm::Alt ? QStringLiteral(" xml:lang=\"x-default\"") : QString();
    QString out = u'<' + qname + QStringLiteral(">\n") + indent + QStringLiteral(" <") + array + binding + u'>';
    for (const QString &item : setting.items)
        out += u'\n' + indent + QStringLiteral("  <") + r + QStringLiteral(":li") + language + u'>' + escaped(item, false)
            + QStringLiteral("</") + r + QStringLiteral(":li>");
    return out + u'\n' + indent + QStringLiteral(" </") + array + QStringLiteral(">\n") + indent + QStringLiteral("</") + qname + u'>';
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

QString applied(const QString &text, QList<Edit> edits, bool *overlap)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    QString out;
    out.reserve(text.size() + 1024);
    qsizetype cursor = 0;
    for (const Edit &edit : edits) {
        if (edit.start < cursor) {
            *overlap = true;
            return {};
        }
        out += QStringView(text).sliced(cursor, edit.start - cursor);
        out += edit.with;
        cursor = edit.end;
    }
    out += QStringView(text).sliced(cursor);
    return out;
}

qsizetype whitespaceBefore(const QString &text, qsizetype at)
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

bool XmpPacketText(const QByteArray &packet, QString *text)
{
    if (packet.size() >= 2 && (packet.at(0) == '\0' || packet.at(1) == '\0')) {
        *text = DecodeText(packet, packet.at(0) == '\0' ? TextEncoding::Utf16BE : TextEncoding::Utf16LE);
        return true;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    *text = decoder.decode(packet);
    return !decoder.hasError();
}

XmpEditResult EditXmp(const QByteArray &packet, const QList<XmpSetting> &settings)
{
    XmpEditResult result{packet, {}, {}};
    if (settings.isEmpty())
        return result;
    QString text;
    if (packet.isEmpty())
        text = QString::fromUtf8(FreshPacket);
    else if (!XmpPacketText(packet, &text)) {
        result.unreadable = QStringLiteral("it is not valid UTF-8");
        return result;
    }
    const Parsed parsed = parse(text);
    if (!parsed.error.isEmpty() || (!parsed.hasRdf && !parsed.hasXmpmeta)) {
        result.unreadable = parsed.error.isEmpty() ? QStringLiteral("it has no rdf:RDF element") : parsed.error;
        return result;
    }

    QList<Edit> edits;
    QList<const XmpSetting *> missing;
    QHash<QString, QList<int>> byName; // namespace + " " + name -> occurrences in order
    for (int i = 0; i < parsed.properties.size(); ++i)
        byName[parsed.properties[i].uri + u' ' + parsed.properties[i].name].append(i);
    for (const XmpSetting &setting : settings) {
        const QList<int> found = byName.value(setting.property.uri + u' ' + setting.property.name);
        // An array or alternative cannot stand in an attribute: an element of the property is its home.
        int home = -1;
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
                    edits.append({item->tag.end - 2, item->tag.end, u'>' + value + QStringLiteral("</") + li + u'>'});
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
            edits.append({p.start, p.end,
                          propertyElement(p.qname, setting, indentBefore(text, p.start),
                                          p.rdfHere ? parsed.rdfPrefix : QString())});
        }
        if (home < 0 && !setting.remove)
            missing.append(&setting);
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
        const bool structured = make > 0 || std::any_of(missing.begin(), missing.end(), [](const XmpSetting *setting) {
                                    return setting->form != XmpForm::Text;
                                });
        const QString rdf = structured ? bindings.prefixFor(RdfUri, QStringLiteral("rdf")) : QString();
        QString block;
        for (const XmpSetting *setting : missing) {
            const QString prefix = bindings.prefixFor(setting->property.uri, setting->property.prefix);
            block += u'\n' + propertyIndent + propertyElement(prefix + u':' + setting->property.name, *setting, propertyIndent, rdf);
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
    const QString edited = applied(text, edits, &overlap);
    if (overlap) {
        result.unwritable = QStringLiteral("the packet names a property twice in one place");
        return result;
    }
    QByteArray out = edited.toUtf8();
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
    QString text;
    if (!XmpPacketText(packet, &text)) {
        read.unreadable = QStringLiteral("it is not valid UTF-8");
        return read;
    }
    const Parsed parsed = parse(text);
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
