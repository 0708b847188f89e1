#pragma once

#include "engine/batchline.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The names of an image folder (and of the subfolders a data file's names
// lead into), listed once a run, so that finding a name costs no more than
// a lookup however long the data file.
class ImageNames {
public:
    ImageNames(QString folder, NameMatching matching);

    struct Found {
        QString name;          // the file found, as the image folder names it ("/"-separated); empty when none
        QStringList candidates; // more than one file it could mean: the line is not guessed
    };
    // The file a data file's name means. A file of exactly that name wins;
    // loosely, else the one file whose name matches without regard to case
    // or Unicode normalisation,
    // else, for a name without an extension, the one file of that stem (XMP
    // sidecars aside).
    Found find(const QString &name) const;

private:
    struct Listing {
        QHash<QString, QStringList> byName; // folded name -> names
        QHash<QString, QStringList> byStem; // folded stem -> names
    };
    const Listing &listing(const QString &subfolder) const;

    QString folder;
    NameMatching matching;
    mutable QHash<QString, Listing> listings; // by the folder's canonical path
};
