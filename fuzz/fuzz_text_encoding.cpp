// SPDX-License-Identifier: MIT
// The text encoder and a text frame on any text.
#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // UTF-16 as it comes, so lone surrogates and the code 0 occur too.
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    vorla::WindowState st;
    st.FrameHead = 0x01;
    st.FrameTail = 0x04;
    st.MaxTextBytes = 50;
    st.FrameBuffer.fill(0xEE);
    vorla::PlaySettings settings;
    if (!vorla::BuildTextFrame(st, settings, text)) {
        if (!text.isEmpty()) __builtin_trap();
        return 0;
    }
    const int n = st.FrameLastIndex;
    if (n < 6 || n > 54 || n % 2 != 0 || st.FrameBuffer[size_t(n)] != 0x04) __builtin_trap();
    uint8_t check = 0;
    for (int i = 0; i <= n; ++i) check ^= st.FrameBuffer[size_t(i)];
    if (check != st.FrameBuffer[size_t(n) + 1]) __builtin_trap();
    // Encoded text never contains the head or the tail.
    for (int i = 4; i < n; ++i)
        if (st.FrameBuffer[size_t(i)] < 0x40) __builtin_trap();
    return 0;
}
