// SPDX-License-Identifier: MIT
// The virtual chip's frame parser on any byte stream, in bursts at any times.
#include <cstddef>
#include <cstdint>

#include "sim/chip_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorla::sim::ChipModel chip(vorla::sim::ChipOptions{100.0});
    double now = 0;
    size_t i = 0;
    // Each burst: a length byte, a time step byte, then the bytes.
    while (i + 2 <= size) {
        const size_t length = data[i];
        now += data[i + 1] / 200.0;
        i += 2;
        const size_t take = std::min(length, size - i);
        chip.hear(QByteArray(reinterpret_cast<const char*>(data + i), qsizetype(take)), now);
        i += take;
        chip.advance(now);
        for (const auto& out : chip.takeOutput())
            if (out.switchToBaud) chip.setBaud(out.switchToBaud);
        chip.takeNotes();
    }
    chip.advance(now + 1000);
    return 0;
}
