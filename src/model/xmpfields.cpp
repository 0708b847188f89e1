#include "model/xmpfields.h"

#include <QUrl>

namespace {
QString latin(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

struct Vocabulary {
    const char *base;
    std::initializer_list<const char *> codes;
};

// http://cv.iptc.org/newscodes/digitalsourcetype/, the retired codes included:
// files made before they were retired carry them.
const Vocabulary DigitalSourceTypes{
    "http://cv.iptc.org/newscodes/digitalsourcetype/",
    {"digitalCapture", "computationalCapture", "negativeFilm", "positiveFilm", "print", "humanEdits", "minorHumanEdits",
     "compositeCapture", "algorithmicallyEnhanced", "dataDrivenMedia", "digitalCreation", "digitalArt", "virtualRecording",
     "composite", "compositeSynthetic", "trainedAlgorithmicMedia", "compositeWithTrainedAlgorithmicMedia",
     "algorithmicMedia", "screenCapture", "softwareImage"}};
const Vocabulary ModelReleases{"http://ns.useplus.org/ldf/vocab/", {"MR-NON", "MR-NAP", "MR-UMR", "MR-LMR"}};
const Vocabulary PropertyReleases{"http://ns.useplus.org/ldf/vocab/", {"PR-NON", "PR-NAP", "PR-UPR", "PR-LPR"}};
const Vocabulary DataMinings{
    "http://ns.useplus.org/ldf/vocab/",
    {"DMI-UNSPECIFIED", "DMI-ALLOWED", "DMI-PROHIBITED-AIMLTRAINING", "DMI-PROHIBITED-GENAIMLTRAINING",
     "DMI-PROHIBITED-EXCEPTSEARCHENGINEINDEXING", "DMI-PROHIBITED", "DMI-PROHIBITED-SEECONSTRAINT",
     "DMI-PROHIBITED-SEEEMBEDDEDRIGHTSEXPR", "DMI-PROHIBITED-SEELINKEDRIGHTSEXPR"}};

// The full URI of a code given short or in full; empty when it is not one of them.
QString fromVocabulary(const Vocabulary &vocabulary, const QString &text)
{
    const QString base = QString::fromLatin1(vocabulary.base);
    const QString code = text.startsWith(base) ? text.sliced(base.size()) : text;
    for (const char *each : vocabulary.codes) {
        if (code.compare(QLatin1String(each), Qt::CaseInsensitive) == 0)
            return base + QLatin1String(each);
    }
    return {};
}

bool isWebAddress(const QString &text)
{
    if (text.contains(QLatin1Char(' ')))
        return false;
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}

bool isEmailAddress(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at < 1 || at != text.lastIndexOf(QLatin1Char('@')))
        return false;
    const QString domain = text.sliced(at + 1);
    const qsizetype dot = domain.indexOf(QLatin1Char('.'));
    return dot > 0 && !domain.endsWith(QLatin1Char('.'))
        && std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSpace() || c == u'<' || c == u'>'; });
}
} // namespace

QString XmpFieldUri(const XmpFieldInfo &field)
{
    if (field.prefix == "Iptc4xmpCore")
        return latin(Iptc4xmpCoreUri);
    if (field.prefix == "Iptc4xmpExt")
        return latin(Iptc4xmpExtUri);
    if (field.prefix == "xmpRights")
        return latin(XmpRightsUri);
    return latin(PlusUri);
}

QString XmpFieldLabel(int slot)
{
    return QString::fromUtf8(xmpField(slot).label.data(), qsizetype(xmpField(slot).label.size()));
}

int XmpSlotOfKey(const QString &key)
{
    for (int slot = FirstXmpSlot; slot <= AllSlotCount; ++slot) {
        if (key == latin(xmpField(slot).key))
            return slot;
    }
    return 0;
}

std::optional<QString> XmpFieldValue(int slot, const QString &text, QString *rule)
{
    const auto vocabulary = [&](const Vocabulary &words, const char *name) -> std::optional<QString> {
        const QString uri = fromVocabulary(words, text.trimmed());
        if (!uri.isEmpty())
            return uri;
        *rule = QString::fromLatin1(name);
        return std::nullopt;
    };
    switch (xmpField(slot).rule) {
    case XmpRule::Free:
        return text;
    case XmpRule::Url:
        if (isWebAddress(text))
            return text;
        *rule = QStringLiteral("web address");
        return std::nullopt;
    case XmpRule::Email:
        if (isEmailAddress(text))
            return text;
        *rule = QStringLiteral("e-mail address");
        return std::nullopt;
    case XmpRule::DigitalSourceType:
        return vocabulary(DigitalSourceTypes, "digital source type");
    case XmpRule::ModelRelease:
        return vocabulary(ModelReleases, "model release status");
    case XmpRule::PropertyRelease:
        return vocabulary(PropertyReleases, "property release status");
    case XmpRule::DataMining:
        return vocabulary(DataMinings, "data mining");
    }
    return text;
}

QString SlotKey(int slot)
{
    const std::string_view key = isXmpSlot(slot) ? xmpField(slot).key : slotInfo(slot).key;
    return QString::fromLatin1(key.data(), qsizetype(key.size()));
}

QString SlotLabel(int slot)
{
    const std::string_view label = isXmpSlot(slot) ? xmpField(slot).label : slotInfo(slot).label;
    return QString::fromUtf8(label.data(), qsizetype(label.size()));
}
