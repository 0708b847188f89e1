#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `path`, creating folders on the way; fails the test on error.
void WriteFileBytes(const QString &path, const QByteArray &bytes);
QByteArray ReadFileBytes(const QString &path);
