// SPDX-License-Identifier: MIT
// The raw sender's hexadecimal text parser on any text.
#include <cstddef>
#include <cstdint>

#include "protocol/hex_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const vorla::HexText parsed = vorla::ParseHexText(text);
    // A text of L characters holds at most (L + 1) / 3 pairs, at least one.
    if (parsed.status == vorla::HexTextStatus::Ok &&
        (parsed.bytes.empty() || qsizetype(parsed.bytes.size()) != (text.size() + 1) / 3))
        __builtin_trap();
    if (parsed.status != vorla::HexTextStatus::Ok && !parsed.bytes.empty()) __builtin_trap();
    return 0;
}
