// SPDX-License-Identifier: MIT
// Groups received characters into what the receive handler reads at once.
//
// A real line hands bytes over one at a time (a UART below 2400 baud), in
// groups of eight with a timeout for the tail (a 16550-type FIFO), or in
// packets on a 16 ms timer (a USB adapter), and the chip can send two replies
// back to back. Quiet time alone cannot tell one message from the next, so
// bytes are grouped by what they are:
//
// - a reply (01 10 14, 01 11 14, 01 12 14) is a batch of its own as soon as
//   its third byte is in, except that an acceptance waits for lyric data
//   while the frame it answers asked for lyrics;
// - an acceptance followed by data that is not a reply, and data that does
//   not start with a reply, form one batch, handed over once more than ten
//   characters are in, at the lyric stream's end code, or when the line has
//   been quiet for longer than a real line pauses inside one message;
// - a lyric stream the frame asked for is lyric data up to its end code,
//   whatever its bytes look like (a tempo code's operands may be any byte,
//   01 10 14 too); its rest is what the handler's second read takes, however
//   long the line pauses inside it; what comes of it after the second read
//   is lyric data of its own, read on by the grammar (a reply where a code
//   is due is a reply); after the end code bytes are grouped by their shape;
// - in other data a reply ends the data before it: the chip replies only
//   between messages, so the data was cut short, or was line noise (stray
//   characters before a reply are handed over one at a time, as a line that
//   hands bytes over singly would);
// - anything else waits for more for that bounded time, then goes as it is.
//
// Free of I/O and of any clock: the caller passes the time of every arrival
// and asks again at deadline().
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

#include <QByteArrayView>

#include "protocol/lyric_grammar.h"
#include "protocol/received_text.h"

namespace vorla {

namespace rx {
constexpr int kBitsPerChar = 10;              // start bit, 8 data bits, stop bit
constexpr int kFifoTriggerChars = 8;          // a 16550-type UART's receive trigger
constexpr double kUsbLatencySeconds = 0.016;  // a USB serial adapter's packet timer
constexpr int kGapMarginChars = 4;
constexpr double kGapMarginSeconds = 0.010;
}  // namespace rx

// Seconds one character takes on the line.
double CharSeconds(int baud);
// The longest pause a real line leaves inside one message (a UART's FIFO
// filling, a USB adapter's timer), with a margin: quiet for longer than this
// ends a message.
double MessageGapSeconds(int baud);

// True when the frame is a play frame that asks for the lyrics back (mode
// byte 0x80, option bit 0x40).
bool FrameAsksForLyrics(QByteArrayView frame);

struct RxBatch {
    RxText text;
    // When the batch's lyric data began to arrive: its first character after
    // a leading reply, or its first character.
    double dataStart = 0;
    // It ends with the end code of a lyric stream the last frame asked
    // for: lyric data however short.
    bool lyricsEnded = false;
    // When its third character arrived: the end of a reply it begins with.
    double replyAt = 0;
};

class ReceiveGrouper {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    void setBaud(int baud) { baud_ = baud > 0 ? baud : 1200; }
    // The frame that the next acceptance answers.
    void frameSent(QByteArrayView frame) { lyricsExpected_ = FrameAsksForLyrics(frame); }

    void feed(QByteArrayView bytes, double now);
    // Hands over whatever is due at `now`.
    void poll(double now);
    // When poll must run next; kNever when nothing waits.
    double deadline() const;

    size_t readyCount() const { return ready_.size(); }
    // The first read: the next batch, or nothing.
    RxBatch take();
    // The second read: the rest of the lyric stream of the batch last taken
    // that has arrived since, up to its end code. Later parts of a stream
    // still arriving become batches of their own.
    RxText takeMore();
    // The lyric stream of the batch last taken has arrived whole (its end
    // code, or a reply that cut it short) and waits for the second read.
    bool streamComplete() const { return current_ && !current_->moreTaken && streaming_ != current_; }
    // The port was closed: what is not yet a batch is dropped.
    void dropPartial();

private:
    struct Message {
        RxText text;
        RxText more;
        double dataStart = 0;
        double replyAt = 0;
        bool lyricsEnded = false;
        bool moreTaken = false;
    };
    enum class Shape { NeedMore, Reply, Acceptance, Data };
    enum class At { Partial, Reply, Data };  // what stands at a position

    void add(const RxChar& c, double now);
    void settle(bool quiet);
    bool settleData(bool quiet);
    At at(size_t p) const;
    At atInData(size_t p) const;
    Shape classify(bool quiet, size_t& dataFrom) const;
    Shape classifyAcceptance(bool quiet, size_t& dataFrom) const;
    void splitBeforeReply(size_t p);
    void release(size_t count, bool streaming, bool lyricsEnded = false);
    void addToStream(const RxChar& c);

    int baud_ = 1200;
    bool lyricsExpected_ = false;
    GbkSplitter splitter_;
    RxText pending_;
    std::vector<double> arrivals_;  // of each pending character
    double lastArrival_ = 0;
    bool dataMessage_ = false;   // pending_ is lyric data (from dataFrom_)
    bool continuation_ = false;  // ... the rest of a stream after its second read
    size_t dataFrom_ = 0;
    size_t scanned_ = 0;
    LyricEndScanner scanner_;
    std::deque<std::shared_ptr<Message>> ready_;
    std::shared_ptr<Message> current_;    // taken last
    std::shared_ptr<Message> streaming_;  // handed over, its stream still arriving
};

}  // namespace vorla
