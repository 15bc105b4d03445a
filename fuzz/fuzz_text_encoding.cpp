// SPDX-License-Identifier: MIT
// The text encoder and a text frame on any text.
#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // UTF-16 as it comes, so lone surrogates and the code 0 occur too.
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    const auto frame = vorla::TextFrame(vorla::FrameEnds{}, vorla::PlaySettings{}, text, 50);
    if (!frame) {
        if (!text.isEmpty()) __builtin_trap();
        return 0;
    }
    const std::vector<uint8_t>& f = frame->bytes();
    const int n = frame->lastIndex();
    if (n < 6 || n > 54 || n % 2 != 0 || f.size() != size_t(n) + 2 || f[size_t(n)] != 0x04) __builtin_trap();
    uint8_t check = 0;
    for (int i = 0; i <= n; ++i) check ^= f[size_t(i)];
    if (check != f[size_t(n) + 1]) __builtin_trap();
    // Encoded text never contains the head or the tail.
    for (int i = 4; i < n; ++i)
        if (f[size_t(i)] < 0x40) __builtin_trap();
    return 0;
}
