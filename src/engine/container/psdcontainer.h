#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArrayView>
#include <QString>

class SourceImage;
class XmpMemory;

// Photoshop documents, PSD and PSB. This program owns three of the image
// resources: IPTC (0x0404), its digest (0x0425) and XMP (0x0424). Every
// other resource, and the header, colour mode data, layers, masks and
// image data, are copied as they stand.

struct PsdLayout {
    qsizetype resources = 0;    // the image resources section's length field
    qsizetype resourcesEnd = 0; // one past that section
    QString damage;             // why the resources cannot be written; empty when they can
    QString laterDamage;        // what is wrong after them (copied as it stands)
};

PsdLayout PsdSections(QByteArrayView file);

FoundMetadata ReadPsdMetadata(QByteArrayView file);

LineOutcome WriteTaggedPsd(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
