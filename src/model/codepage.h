#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The 8-bit code page in which the data file is read and tag values and
// paths are handed on: Windows-1252, the ANSI code page of the Windows
// systems the data files come from. Its five undefined bytes map to the C1
// controls of the same number, so every byte survives a round trip.
QString DecodeAnsi(QByteArrayView bytes);

// Characters outside the code page become '?' and clear *exact.
QByteArray EncodeAnsi(QStringView text, bool *exact = nullptr);
