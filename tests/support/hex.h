// SPDX-License-Identifier: MIT
// "01 80 87" -> bytes, and back.
#pragma once

#include <string>

#include <QByteArray>

namespace vorla::test {

inline QByteArray Hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
inline std::string ToHex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

}  // namespace vorla::test
