// Whatever a packet holds, the edited packet reads again, holds the values
// set, keeps every other property's value, and a second edit changes nothing.
#include "engine/metadata/xmpeditor.h"
#include "fuzzcheck.h"

#include <QMap>
#include <QXmlStreamReader>

#include <cstdint>
#include <optional>

namespace {
constexpr size_t MaxInput = 64 * 1024;
const QString RdfUri = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");

// The top-level properties of every node of rdf:RDF, each value as the names,
// attributes and text below it, read apart from the editor's own reader.
// Empty when this reader cannot read the packet (it is stricter about some declarations).
std::optional<QMap<QString, QStringList>> properties(const QByteArray &packet)
{
    QMap<QString, QStringList> found;
    QString text;
    XmpPacketText(packet, &text);
    QXmlStreamReader reader(text);
    int depth = 0;
    int rdf = -1;
    QString key;
    QString value;
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        if (reader.isStartElement()) {
            ++depth;
            if (rdf < 0 && reader.namespaceUri() == RdfUri && reader.name() == u"RDF")
                rdf = depth;
            else if (rdf > 0 && depth == rdf + 1) {
                for (const QXmlStreamAttribute &attribute : reader.attributes()) {
                    if (!attribute.namespaceUri().isEmpty() && attribute.namespaceUri() != RdfUri
                        && attribute.namespaceUri() != u"http://www.w3.org/XML/1998/namespace")
                        found[attribute.namespaceUri().toString() + u' ' + attribute.name().toString()].append(attribute.value().toString());
                }
            } else if (rdf > 0 && depth == rdf + 2) {
                key = reader.namespaceUri().toString() + u' ' + reader.name().toString();
                value.clear();
            }
            if (rdf > 0 && depth > rdf + 2) {
                value += u'<' + reader.namespaceUri().toString() + u' ' + reader.name().toString();
                for (const QXmlStreamAttribute &attribute : reader.attributes())
                    value += u' ' + attribute.namespaceUri().toString() + u' ' + attribute.name().toString() + u'=' + attribute.value().toString();
            }
        } else if (reader.isEndElement()) {
            if (rdf > 0 && depth == rdf + 2)
                found[key].append(value);
            if (depth == rdf)
                rdf = -1;
            --depth;
        } else if (reader.isCharacters() && rdf > 0 && depth >= rdf + 2) {
            value += reader.text();
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return found;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput)
        return -1;
    const QByteArray packet(reinterpret_cast<const char *>(input), qsizetype(size));
    const QString dc = QStringLiteral("http://purl.org/dc/elements/1.1/");
    const QList<XmpSetting> settings{
        {{dc, QStringLiteral("dc"), QStringLiteral("description")}, XmpForm::Alt, {QStringLiteral("a <caption> & \"more\"")}},
        {{dc, QStringLiteral("dc"), QStringLiteral("subject")}, XmpForm::Bag, {QStringLiteral("k1"), QStringLiteral("k'2")}},
        {{QStringLiteral("http://ns.adobe.com/photoshop/1.0/"), QStringLiteral("photoshop"), QStringLiteral("City")},
         XmpForm::Text, {QStringLiteral("Zürich")}},
    };
    const XmpEditResult edited = EditXmp(packet, settings);
    if (!edited.unreadable.isEmpty() || !edited.unwritable.isEmpty())
        return 0;
    QList<XmpName> names;
    for (const XmpSetting &setting : settings)
        names.append(setting.property);
    const XmpRead read = ReadXmp(edited.packet, names);
    Require(read.unreadable.isEmpty(), "an edited packet reads again");
    for (qsizetype i = 0; i < settings.size(); ++i)
        Require(read.values[i] == settings[i].items, "an edited packet holds the values set");

    std::optional<QMap<QString, QStringList>> before = properties(packet);
    std::optional<QMap<QString, QStringList>> after = properties(edited.packet);
    if (before && !packet.isEmpty()) {
        Require(after.has_value(), "what one reader read before, it reads after");
        for (const XmpName &name : names) {
            before->remove(name.uri + u' ' + name.name);
            Require(after->take(name.uri + u' ' + name.name).size() == 1, "a property set stands once");
        }
        Require(before == after, "every other property keeps its value");
    }
    Require(EditXmp(edited.packet, settings).packet == edited.packet, "a second edit changes nothing");
    return 0;
}
