// SPDX-License-Identifier: MIT
// Received bytes through the receive side (GBK splitter and grouping), the
// reply handler and the lyric interpreter, with a scripted display and clock:
// waits cost nothing, and the next burst arrives inside them as a nested
// reply would.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "link/lyrics.h"
#include "link/reply_handler.h"
#include "support/fakes.h"

namespace {

class Script : public vorla::EventPump, public vorla::ReplyHost, public vorla::LyricDisplay {
public:
    vorla::test::FakeSerial port;
    vorla::ReplyState st;
    std::deque<QByteArray> bursts;
    QString lines[3];
    double t = 0;
    int depth = 0;
    int lyricWaitMs = 0;

    Script() {
        port.timeSource = this;
        port.setPortOpen(true);
        QObject::connect(&port, &vorla::SerialControl::commEventRaised, [this] {
            if (depth > 8) return;
            ++depth;
            vorla::HandleComm(port, st, *this, *this, lyricWaitMs);
            --depth;
        });
    }
    // Each burst arrives after a gap given by its first byte (0 to 255 ms),
    // so the fuzzer chooses both the split and the pauses.
    void deliver() {
        if (bursts.empty() || depth > 8) return;
        QByteArray burst = bursts.front();
        bursts.pop_front();
        if (!burst.isEmpty()) {
            t += uint8_t(burst[0]) / 1000.0;
            burst.remove(0, 1);
        }
        port.lineQuiet();
        port.receive(burst);
    }

    // Clock and waits.
    double now() const override { return t; }
    void waitForEvents(double deadline) override {
        if (!bursts.empty() && depth <= 8) deliver();
        else if (deadline != kNoDeadline) t = std::max(t, deadline);
        else requestStop();
    }
    void blockingWait(int ms) override {
        t += ms / 1000.0;
        port.holdEvents();
        if (!bursts.empty()) deliver();
        port.releaseEvents();
    }
    // Replies.
    void setStatus(const QString&) override {}
    void appendLogLine(const QString&) override {}
    void resend(int16_t) override {}
    void clearLyricLines() override { lines[1].clear(), lines[2].clear(); }
    void decodeLyrics(const vorla::RxText& text) override { vorla::DecodeLyrics(text, 8, *this, *this, st); }
    // Lyric lines.
    void setLine(int box, const QString& text) override {
        if (box != 1 && box != 2) __builtin_trap();
        lines[box] = text;
    }
    bool lineEmpty(int box) const override { return lines[box].isEmpty(); }
    // A nested run may have put a shorter line into the box meanwhile, so
    // the position can lie past its end (the window's line edit clamps it).
    void highlight(int box, int start, int length) override {
        if ((box != 1 && box != 2) || start < 0 || length != 1) __builtin_trap();
    }
    void clearSelection(int box) override {
        if (box != 1 && box != 2) __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Script s;
    // The first byte chooses the line rate, whether the last frame asked for
    // lyrics and the lyric wait; the rest are bursts separated by 0xFF, so
    // the fuzzer can cut a stream anywhere, a double-byte character included.
    if (size == 0) return 0;
    static const int kRates[] = {1200, 2400, 4800, 9600};
    s.port.setSettings(QStringLiteral("%1,N,8,1").arg(kRates[data[0] & 3]));
    s.port.output(QByteArray(data[0] & 4 ? "\x01\x80\xC0" : "\x01\xC0\x80", 3));
    s.lyricWaitMs = (data[0] >> 3) * 100;
    QByteArray all(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (const QByteArray& part : all.split('\xFF')) s.bursts.push_back(part);
    while (!s.bursts.empty() && !s.stopping()) s.deliver();
    s.t += 1.0;
    s.port.lineQuiet();
    return 0;
}
