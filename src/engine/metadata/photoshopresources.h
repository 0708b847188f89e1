#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Photoshop image resources, as JPEG's APP13 segments, a TIFF's tag 34377,
// a PSD's image resources section and PNG's raw profiles hold them. This
// program owns two of them, the IPTC block and its digest; every other
// resource is carried byte for byte.

inline constexpr quint16 IptcResourceId = 0x0404;
inline constexpr quint16 IptcDigestId = 0x0425;
inline constexpr quint16 XmpResourceId = 0x0424;

struct PhotoshopResource {
    quint16 id = 0;
    qsizetype start = 0; // of its signature
    qsizetype data = 0;  // of its data
    qsizetype size = 0;  // of its data
    qsizetype end = 0;   // one past its padding (or the block's end)
};

// Where the resource at `pos` of `block` ends (past its padding, or at the
// block's end): -1 when it runs past the block, -2 when none starts there.
qsizetype PhotoshopResourceEnd(QByteArrayView block, qsizetype pos);

// The resources of a block, in order, up to the first that is not whole.
// *whole is false when something that is not a whole resource follows them.
QList<PhotoshopResource> ParsePhotoshopResources(QByteArrayView block, bool *whole = nullptr);

// The data of the first resource `id`; *found says whether there was one.
QByteArray PhotoshopResourceData(QByteArrayView block, quint16 id, bool *found = nullptr);

// One resource as it goes into a block, unnamed and padded to an even size.
QByteArray PhotoshopResourceBytes(quint16 id, QByteArrayView data);

struct IptcResourceUpdate {
    QByteArray iim;            // the IPTC block; empty takes the IPTC resource out
    QByteArray digest;         // 16 bytes put over an existing digest resource; empty leaves it
    bool addWhenMissing = true; // a block without an IPTC resource gets one, in id order
};

// The block with its IPTC resource (and digest) replaced as `update` says,
// and its later IPTC resources by `later` in order (those beyond it go);
// everything else, and whatever follows the resources, byte for byte.
QByteArray WithIptcResource(QByteArrayView block, const IptcResourceUpdate &update, const QList<QByteArray> &later = {});

// The block with the resources `id` holds replaced, in order, by `data`
// (each keeps its name; those beyond `data` go), or `data`'s first added in
// id order when it holds none; everything else byte for byte.
QByteArray WithPhotoshopResource(QByteArrayView block, quint16 id, const QList<QByteArray> &data);

// What the IPTC resources of `block` after the first become with the line's
// values, in order: each keeps its own other datasets, which readers that
// take it show (WithIptcResource's `later`).
QList<QByteArray> LaterIptcRecords(QByteArrayView block, const TagEdit &edit);

// The MD5 digest readers compare with the digest resource: of the IPTC
// block as stored, zero-padded to a multiple of `unit` bytes.
QByteArray IptcDigestOf(const QByteArray &iim, int unit = 1);
