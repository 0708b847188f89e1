#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct ParsingScheme;
struct IptcDataFile;

inline const QString FieldReferencePrefix = QStringLiteral("IPTC_Field");
inline constexpr int MaxAggregateParts = 7;

// The number after "IPTC_Field" when it is plain decimal digits, else nullopt.
std::optional<int> FieldReferenceNumber(const QString &expression);

// Slots 1..23 and the XMP slots: the tag value for data line L, or nullopt for no value.
std::optional<QString> EvaluateTagSlot(const ParsingScheme &scheme, int slot, int L, const IptcDataFile &data);

// The columns that slot `slot` reads and data line L does not have (a short
// line, or a column the data file lacks), in the order it reads them.
QList<int> MissingColumns(const ParsingScheme &scheme, int slot, int L, const IptcDataFile &data);

// Slot 24: the image file name for data line L, possibly empty.
QString EvaluateFileNameSlot(const ParsingScheme &scheme, int L, const IptcDataFile &data);

// Aggregations: a run of groups "[piece]", each piece a field piece "F<n>"
// or literal text without "]".

// The pieces of `expression` when it is a clean run of groups; nullopt
// otherwise (the engine then treats it as constant text).
std::optional<QStringList> AggregationGroups(const QString &expression);

// Joins the non-empty pieces as groups, in order.
QString BuildAggregation(const QStringList &pieces);

// The aggregation editor's read-back: the pieces in order, read the way the
// editor always has (each later group's first character is taken as its "[").
// Returns every piece found, which may be more than the editor's seven boxes.
QStringList ReadAggregationPieces(const QString &expression);

// Converts between a piece and what an aggregation editor box shows:
// "F3" <-> "IPTC_Field3"; text pieces stand as they are.
QString PieceFromBoxText(const QString &text);
QString BoxTextFromPiece(const QString &piece);
