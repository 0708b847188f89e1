#include "model/datafilewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>

QString DataFileField(const QString &text)
{
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('"');
    });
    if (plain)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString DataFileLine(const QStringList &fields)
{
    const QString first = fields.value(0);
    // One field of spaces alone would make a blank line, which readers skip.
    if (fields.size() <= 1 && std::all_of(first.begin(), first.end(), [](QChar c) { return c == QLatin1Char(' '); }))
        return QLatin1Char('"') + first + QLatin1Char('"');
    QStringList line;
    for (const QString &field : fields)
        line.append(DataFileField(field));
    return line.join(QLatin1Char('\t'));
}

namespace {
QStringConverter::Encoding unicodeEncoding(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16LE:
        return QStringConverter::Utf16LE;
    case TextEncoding::Utf16BE:
        return QStringConverter::Utf16BE;
    default:
        return QStringConverter::Utf8;
    }
}

QByteArray encoded(const QString &text, TextEncoding encoding, bool *exact)
{
    if (encoding == TextEncoding::Windows1252)
        return EncodeAnsi(text, exact);
    QStringEncoder encoder(unicodeEncoding(encoding));
    QByteArray bytes = encoder.encode(text);
    *exact = !encoder.hasError();
    return bytes;
}

// The first character of `text` the encoding cannot hold, for the user; empty when it holds all.
QString firstUnheld(const QString &text, TextEncoding encoding)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        bool exact = true;
        encoded(character, encoding, &exact);
        if (!exact) {
            const char32_t code = length == 2 ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
            return QStringLiteral("\u201c%1\u201d (U+%2)")
                .arg(character, QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
        }
        i += length - 1;
    }
    return {};
}
} // namespace

DataFileWriteResult WriteDataFile(const QString &path, const QStringList &header, const QList<QStringList> &rows,
                                  const DataFileFormat &format, bool replace)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!replace && (info.exists() || info.isSymLink()))
        return {{Problem::Kind::FileExists, QStringLiteral("%1 already exists").arg(shown)}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {QStringLiteral("cannot write %1: %2").arg(shown, file.errorString())};
    const QString lineEnd = format.crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    bool exact = true;
    if (format.encoding != TextEncoding::Windows1252)
        file.write(encoded(QString(QChar::ByteOrderMark), format.encoding, &exact));
    DataFileWriteResult result;
    for (qsizetype r = 0; r <= rows.size(); ++r) {
        const QStringList &fields = r == 0 ? header : rows.at(r - 1);
        const QByteArray line = encoded(DataFileLine(fields) + lineEnd, format.encoding, &exact);
        if (exact) {
            // Once a value is refused the file will not be kept; the rest is only searched.
            if (result.unheld.isEmpty())
                file.write(line);
            continue;
        }
        for (qsizetype c = 0; c < fields.size(); ++c) {
            const QString character = firstUnheld(fields.at(c), format.encoding);
            if (character.isEmpty())
                continue;
            if (result.unheld.size() < MaxUnheldNamed)
                result.unheld.append({int(r) + 1, int(c) + 1, character});
            else
                ++result.moreUnheld;
        }
    }
    if (!result.unheld.isEmpty()) {
        QStringList named;
        for (const UnheldValue &value : result.unheld) {
            const QString name = header.value(value.column - 1);
            named << QStringLiteral("row %1, column %2%3 holds %4")
                         .arg(value.row)
                         .arg(value.column)
                         .arg(name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name), value.character);
        }
        if (result.moreUnheld > 0)
            named << QStringLiteral("and %1 more").arg(result.moreUnheld);
        result.problem = QStringLiteral("%1 cannot hold these values: %2").arg(EncodingName(format.encoding), named.join(QStringLiteral("; ")));
        return result;
    }
    if (!file.commit())
        return {QStringLiteral("cannot write %1: %2").arg(shown, file.errorString())};
    return {};
}
