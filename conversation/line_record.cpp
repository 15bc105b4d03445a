// SPDX-License-Identifier: MIT
#include "conversation/line_record.h"

#include <algorithm>
#include <cmath>

namespace vorla {

namespace {
constexpr int16_t kPorts = 2;  // COM1 and COM2, interfaces 0 and 1
}

void LineRecord::add(LineEntry entry) {
    if (capacity_ == 0) return;
    // A read's array may carry the driver's whole read buffer as capacity:
    // the record keeps just the bytes.
    if (entry.bytes.capacity() > entry.bytes.size())
        entry.bytes = QByteArray(entry.bytes.constData(), entry.bytes.size());
    if (entries_.size() >= capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
    entries_.push_back(std::move(entry));
}

capture::Capture LineRecord::toCapture(double clockNow, int64_t wallMicrosNow,
                                       const std::function<QString(int16_t)>& device,
                                       const QString& application) const {
    capture::Capture c;
    c.application = application;
    for (int16_t port = 1; port <= kPorts; ++port)
        c.interfaces.push_back(capture::Interface{QStringLiteral("COM%1").arg(port), device(port)});
    if (dropped_ > 0) {
        const double first = entries_.empty() ? clockNow : entries_.front().at;
        c.packets.push_back(capture::Packet{wallMicrosNow - int64_t(std::llround((clockNow - first) * 1e6)),
                                            0,
                                            capture::Direction::None,
                                            {},
                                            QStringLiteral("%1 earlier entries dropped").arg(dropped_)});
    }
    for (const LineEntry& e : entries_) {
        const int64_t micros = wallMicrosNow - int64_t(std::llround((clockNow - e.at) * 1e6));
        const uint32_t interface = e.port == 2 ? 1 : 0;
        c.packets.push_back(capture::Packet{micros, interface, e.direction, e.bytes, e.comment()});
    }
    return c;
}

bool IsMessage(const LineEntry& entry) { return entry.note.type == capture::Note::Type::Message; }

namespace {
// Reads a record's reads into messages as the conversation does.
class Rereader {
public:
    explicit Rereader(std::deque<LineEntry>& out) : out_(out) {}
    void add(const LineEntry& e) {
        release(e.at);
        if (e.direction == capture::Direction::None) {
            if (const int baud = capture::EventBaud(e.event)) reader_.setBaud(baud_ = baud);
            out_.push_back(e);
            return;
        }
        if (e.direction == capture::Direction::Out) {
            reader_.frameSent(e.bytes);
            const bool resend = rejected_ && e.bytes == lastFrame_;
            if (!resend) ++exchange_;
            resends_ = resend ? resends_ + 1 : 0;
            rejected_ = false;
            lastFrame_ = e.bytes;
            wireEnd_ = e.at + double(e.bytes.size()) * CharSeconds(baud_);
            answered_ = false;
            LineEntry frame = e;
            if (!frame.note.valid()) frame.note = capture::FrameNote(exchange_, resends_);
            out_.push_back(std::move(frame));
            return;
        }
        out_.push_back(e);
        port_ = e.port;
        reader_.feed(e.bytes, e.at);
        release(e.at);
        if (open_ && reader_.streamComplete(open_)) takeRest(e.at);
    }
    void finish() {
        reader_.flush();
        release(reader_.kNever);
        if (open_) takeRest(out_.empty() ? 0 : out_.back().at);
    }

private:
    void release(double now) {
        if (now != ChipReader::kNever) reader_.poll(now);
        while (reader_.readyCount() > 0) {
            const ChipMessage m = reader_.take();
            const bool answer =
                m.kind == ChipMessage::Kind::Reply && m.reply != reply::Kind::Finished && !answered_ && exchange_ > 0;
            std::optional<double> latency;
            if (answer) {
                answered_ = true;
                latency = std::max(0.0, (m.lastAt - wireEnd_) * 1000.0);
            }
            rejected_ = rejected_ || m.reply == reply::Kind::Rejected;
            if (m.open) {
                if (open_) takeRest(m.firstAt);
                open_ = m.seq;
                scanner_.reset();
                for (const RxChar& c : m.text) scanner_.atEnd(c);
            }
            out_.push_back(LineEntry{m.lastAt,
                                     port_,
                                     capture::Direction::None,
                                     ToBytes(m.text),
                                     {},
                                     capture::MessageNote(MessageKindName(m), exchange_, latency, m.ended)});
        }
    }

    // The rest of a stream handed over early, as the conversation's second
    // read takes it once it has arrived whole.
    void takeRest(double at) {
        const RxText rest = reader_.takeMore(open_);
        open_ = 0;
        if (rest.empty()) return;
        bool ended = false;
        for (const RxChar& c : rest) ended = scanner_.atEnd(c) || ended;
        out_.push_back(LineEntry{at,
                                 port_,
                                 capture::Direction::None,
                                 ToBytes(rest),
                                 {},
                                 capture::MessageNote(QStringLiteral("lyrics"), exchange_, std::nullopt, ended)});
    }

    std::deque<LineEntry>& out_;
    ChipReader reader_;
    uint64_t open_ = 0;  // the lyric message whose stream still arrives
    LyricEndScanner scanner_;
    int baud_ = 1200;
    int16_t port_ = 1;
    uint64_t exchange_ = 0;
    int resends_ = 0;
    bool rejected_ = false;
    bool answered_ = false;
    QByteArray lastFrame_;
    double wireEnd_ = 0;
};
}  // namespace

std::deque<LineEntry> Understood(const std::deque<LineEntry>& entries) {
    if (std::any_of(entries.begin(), entries.end(), IsMessage)) return entries;
    std::deque<LineEntry> out;
    Rereader reader(out);
    for (const LineEntry& e : entries) reader.add(e);
    reader.finish();
    return out;
}

}  // namespace vorla
