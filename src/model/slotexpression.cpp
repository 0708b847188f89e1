#include "model/slotexpression.h"

#include "model/datafile.h"
#include "model/parsingscheme.h"

namespace {
std::optional<int> decimalNumber(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return int(value);
}

bool isFieldReference(const QString &expression)
{
    return expression.startsWith(FieldReferencePrefix);
}

// A field's text, empty when the number is malformed or outside the grid.
QString fieldText(std::optional<int> field, int L, const IptcDataFile &data)
{
    if (!field)
        return {};
    return data.FieldGrid.cell(L, *field).toString();
}

// A field piece is "F" and decimal digits; anything else is literal text.
QString pieceValue(const QString &piece, int L, const IptcDataFile &data)
{
    if (piece.startsWith(QLatin1Char('F'))) {
        if (const auto field = decimalNumber(QStringView(piece).mid(1)))
            return fieldText(field, L, data);
    }
    return piece;
}

std::optional<QString> aggregationValue(const QString &expression, int L, const IptcDataFile &data)
{
    const auto groups = AggregationGroups(expression);
    if (!groups)
        return std::nullopt;
    QString joined;
    for (const QString &piece : *groups)
        joined += pieceValue(piece, L, data);
    return joined;
}
} // namespace

std::optional<int> FieldReferenceNumber(const QString &expression)
{
    if (!isFieldReference(expression))
        return std::nullopt;
    return decimalNumber(QStringView(expression).mid(FieldReferencePrefix.size()));
}

std::optional<QString> EvaluateTagSlot(const ParsingScheme &scheme, int slot, int L, const IptcDataFile &data)
{
    const QString &expression = scheme.slot(slot);
    if (isFieldReference(expression)) {
        QString value = fieldText(FieldReferenceNumber(expression), L, data);
        if (value.isEmpty())
            return std::nullopt;
        return value;
    }
    if (expression.isEmpty() || expression == LeaveBlank)
        return std::nullopt;
    if (expression.startsWith(QLatin1Char('['))) {
        // A malformed aggregation is kept as the text the user wrote.
        const auto joined = aggregationValue(expression, L, data);
        if (!joined)
            return expression;
        if (joined->isEmpty())
            return std::nullopt;
        return joined;
    }
    return expression;
}

QList<int> MissingColumns(const ParsingScheme &scheme, int slot, int L, const IptcDataFile &data)
{
    const QString &expression = scheme.slot(slot);
    QList<int> read;
    if (const auto field = FieldReferenceNumber(expression)) {
        read.append(*field);
    } else if (expression.startsWith(QLatin1Char('['))) {
        for (const QString &piece : AggregationGroups(expression).value_or(QStringList())) {
            if (const auto field = piece.startsWith(QLatin1Char('F')) ? decimalNumber(QStringView(piece).mid(1)) : std::nullopt)
                read.append(*field);
        }
    }
    const int cells = data.FieldGrid.fieldCount(L);
    QList<int> missing;
    for (const int field : read) {
        if (field > cells && !missing.contains(field))
            missing.append(field);
    }
    return missing;
}

QString EvaluateFileNameSlot(const ParsingScheme &scheme, int L, const IptcDataFile &data)
{
    const QString &expression = scheme.slot(FileNameSlot);
    if (isFieldReference(expression))
        return fieldText(FieldReferenceNumber(expression), L, data);
    if (expression.startsWith(QLatin1Char('['))) {
        // A malformed aggregation counts as constant text, which means field 1.
        if (auto joined = aggregationValue(expression, L, data))
            return *joined;
    }
    return fieldText(1, L, data);
}

std::optional<QStringList> AggregationGroups(const QString &expression)
{
    QStringList pieces;
    qsizetype pos = 0;
    const qsizetype n = expression.size();
    if (n == 0)
        return std::nullopt;
    while (pos < n) {
        if (expression[pos] != QLatin1Char('['))
            return std::nullopt;
        const qsizetype close = expression.indexOf(QLatin1Char(']'), pos + 1);
        if (close < 0)
            return std::nullopt;
        pieces.append(expression.mid(pos + 1, close - pos - 1));
        pos = close + 1;
    }
    return pieces;
}

QString BuildAggregation(const QStringList &pieces)
{
    QString expression;
    for (const QString &piece : pieces) {
        if (piece.isEmpty())
            continue;
        expression += QLatin1Char('[') + piece + QLatin1Char(']');
    }
    return expression;
}

QStringList ReadAggregationPieces(const QString &expression)
{
    QStringList pieces;
    if (!expression.startsWith(QLatin1Char('[')))
        return pieces;
    QString rest = expression;
    for (;;) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close <= 0)
            break;
        pieces.append(rest.mid(1, close - 1));
        rest = rest.mid(close + 1);
    }
    return pieces;
}

QString PieceFromBoxText(const QString &text)
{
    if (text.startsWith(FieldReferencePrefix))
        return QLatin1Char('F') + text.mid(FieldReferencePrefix.size());
    return text;
}

QString BoxTextFromPiece(const QString &piece)
{
    if (piece.startsWith(QLatin1Char('F')) && decimalNumber(QStringView(piece).mid(1)))
        return FieldReferencePrefix + piece.mid(1);
    return piece;
}
