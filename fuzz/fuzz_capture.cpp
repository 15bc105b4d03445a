// SPDX-License-Identifier: MIT
// A capture file of any content: read without fault; what is read writes
// back to a capture that reads the same; replayed, any frames heard are
// matched without fault.
#include <cstddef>
#include <cstdint>

#include "protocol/capture.h"
#include "sim/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto read = vorla::capture::Read(bytes);
    if (!read) return 0;
    if (vorla::capture::Read(vorla::capture::Write(*read)) != read) __builtin_trap();
    vorla::sim::Replay replay(*read, vorla::sim::Replay::Options{size % 2 == 0, 1.0 + double(size % 7)});
    double now = 0;
    for (const vorla::capture::Packet& p : read->packets) {
        replay.hear(p.bytes, now += 0.01, 9600);
        replay.poll(now + 1);
        replay.takeDue(now + 100);
    }
    return 0;
}
