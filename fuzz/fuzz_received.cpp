// SPDX-License-Identifier: MIT
// Received bytes through the receive side (GBK splitter and grouping) and
// the conversation with the chip (replies, resends, the lyric wait and the
// lyric display, code playback), on a virtual clock: each burst arrives
// after a pause of the fuzzer's choosing, and the waits it starts run out
// as the clock moves on.
#include <array>
#include <cstddef>
#include <cstdint>

#include "conversation/conversation.h"
#include "support/fakes.h"

namespace {

struct Script {
    vorla::test::VirtualClock clock;
    vorla::test::FakeSerial port{clock};
    vorla::test::VectorListBox list;
    std::unique_ptr<vorla::ChipConversation> conv;
    std::array<QString, 2> lines;

    Script() {
        conv = std::make_unique<vorla::ChipConversation>(port);
        list.addItem(QStringLiteral("雨蝶"), 0);
        list.setItemData(0, 24755);
        conv->setCodeLists({vorla::ItemsOf(list), vorla::ItemsOf(list), {}, {}});
        // The lyric lines are two boxes, highlights within what they show.
        QObject::connect(conv.get(), &vorla::ChipConversation::lyricLineChanged,
                         [this](int box, const QString& text) { lines[box == 2 ? 1 : 0] = text; });
        QObject::connect(
            conv.get(), &vorla::ChipConversation::lyricHighlighted, [this](int box, int start, int length) {
                if ((box != 1 && box != 2) || start < 0 || length != 1 || start >= lines[size_t(box - 1)].size())
                    __builtin_trap();
            });
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte chooses the line rate, whether the frame sent asks for
    // lyrics, whether it is a code run, and the baud-rate choice (the lyric
    // wait); the rest are bursts separated by 0xFF, each led by its pause in
    // milliseconds, so the fuzzer can cut a stream anywhere, a double-byte
    // character included.
    if (size == 0) return 0;
    Script s;
    vorla::Controls controls;
    controls.play.lyricsBack = (data[0] & 4) ? 1 : 0;
    controls.baudIndex = int16_t(((data[0] >> 3) & 7) - 2);  // -2..5: no rate, and each rate
    s.conv->setControls(controls);
    static const int kRates[] = {1200, 2400, 4800, 9600};
    s.port.setSettings(vorla::LineSettings{kRates[data[0] & 3]});
    s.conv->send((data[0] & 0x40) ? vorla::Command::CodePlayback : vorla::Command::Music);
    QByteArray all(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (QByteArray burst : all.split('\xFF')) {
        if (!burst.isEmpty()) {
            s.clock.advance(uint8_t(burst[0]) / 1000.0);
            burst.remove(0, 1);
        }
        s.port.receive(burst);
    }
    s.clock.runAll(600);
    return 0;
}
