#include "engine/run/imagenames.h"

#include <QDir>
#include <QFileInfo>

namespace {
// One form for names that differ only in case or in Unicode normalisation:
// macOS stores "é" decomposed, where a data file typed elsewhere holds it composed.
QString folded(const QString &name)
{
    return name.normalized(QString::NormalizationForm_D).toCaseFolded().normalized(QString::NormalizationForm_D);
}

// The name without its last extension; a leading dot starts a hidden name, not an extension.
QString stemOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

bool isSidecar(const QString &name)
{
    return name.endsWith(QLatin1String(".xmp"), Qt::CaseInsensitive);
}
} // namespace

ImageNames::ImageNames(QString imageFolder, NameMatching how) : folder(std::move(imageFolder)), matching(how) {}

const ImageNames::Listing &ImageNames::listing(const QString &subfolder) const
{
    // One listing a folder, however the data file spells its way there
    // ("sub/", "sub/.", a link to it): else each spelling would list it again.
    const QString path = subfolder.isEmpty() ? folder : folder + QLatin1Char('/') + subfolder;
    const QString key = QFileInfo(path).canonicalFilePath();
    const auto known = listings.constFind(key);
    if (known != listings.constEnd())
        return *known;
    Listing made;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        made.byName[folded(name)].append(name);
        if (!isSidecar(name))
            made.byStem[folded(stemOf(name))].append(name);
    }
    // A folder that does not exist lists nothing, under the empty key.
    return *listings.insert(key, made);
}

ImageNames::Found ImageNames::find(const QString &name) const
{
    QString relative = name;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (matching == NameMatching::Exact || QFileInfo::exists(folder + QLatin1Char('/') + relative))
        return {relative, {}};
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString subfolder = slash < 0 ? QString() : relative.left(slash);
    const QString file = relative.mid(slash + 1);
    const Listing &names = listing(subfolder);
    QStringList candidates = names.byName.value(folded(file));
    if (candidates.isEmpty() && !file.contains(QLatin1Char('.')))
        candidates = names.byStem.value(folded(file));
    const QString prefix = subfolder.isEmpty() ? QString() : subfolder + QLatin1Char('/');
    if (candidates.size() == 1)
        return {prefix + candidates.front(), {}};
    if (candidates.isEmpty())
        return {relative, {}};
    for (QString &candidate : candidates)
        candidate.prepend(prefix);
    return {{}, candidates};
}
