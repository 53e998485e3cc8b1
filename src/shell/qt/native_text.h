#pragma once

#include <QFile>
#include <QString>
#include <string>

// The core's texts are in the system's file-name encoding, so that a path reaches the sampler
// byte for byte.
inline QString FromNative(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

inline std::string ToNative(const QString& text) { return QFile::encodeName(text).toStdString(); }
