// Received bytes through the GBK splitter, the reply handler and the lyric
// interpreter, with a scripted serial control, display and clock: waits cost
// nothing, and the next burst arrives inside them as a nested reply would.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "link/lyrics.h"
#include "link/reply_handler.h"

namespace {

class Script;

class FakePort : public vorla::SerialControl {
public:
    void setCommPort(int16_t) override {}
    int16_t commPort() const override { return 1; }
    bool setSettings(const QString&) override { return true; }
    QString settings() const override { return {}; }
    bool portOpen() const override { return true; }
    bool setPortOpen(bool) override { return true; }
    bool output(const QByteArray&) override { return true; }
    int commEvent() const override { return vorla::kCommEventReceive; }
    vorla::RxText input() override {
        vorla::RxText t = splitter.feed(pending);
        pending.clear();
        return t;
    }
    void holdEvents() override {}
    void releaseEvents() override {}
    vorla::PortFault lastFault() const override { return {}; }
    QString deviceName() const override { return {}; }
    vorla::GbkSplitter splitter;
    QByteArray pending;
};

class Script : public vorla::EventPump, public vorla::ReplyHost, public vorla::LyricDisplay {
public:
    FakePort port;
    vorla::WindowState st;
    std::deque<QByteArray> bursts;
    QString lines[3];
    double t = 0;
    int depth = 0;

    void deliver() {
        if (bursts.empty() || depth > 8) return;
        port.pending += bursts.front();
        bursts.pop_front();
        ++depth;
        vorla::HandleComm(port, st, *this, *this);
        --depth;
    }
    // Clock and waits.
    double now() const override { return t; }
    void waitForEvents(double deadline) override {
        if (!bursts.empty() && depth <= 8) deliver();
        else if (deadline != kNoDeadline) t = std::max(t, deadline);
        else requestStop();
    }
    void blockingWait(int ms) override { t += ms / 1000.0; }
    // Replies.
    void setStatus(const QString&) override {}
    void appendLogLine(const QString&) override {}
    void resend(int16_t) override {}
    void clearLyricLines() override { lines[1].clear(), lines[2].clear(); }
    int16_t baudIndex() override { return int16_t(st.RetryCount % 5 - 1); }
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
    // Bursts separated by the byte 0xFF 0xFF pair, so the fuzzer can cut
    // a stream anywhere, a double-byte character included.
    QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& part : all.split('\xFF')) s.bursts.push_back(part);
    while (!s.bursts.empty() && !s.stopping()) s.deliver();
    return 0;
}
