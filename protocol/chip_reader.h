// SPDX-License-Identifier: MIT
// The one reader of the chip's bytes: timed reads from the port become timed
// messages (a reply, lyric data, a stray character), whatever way the line
// split or joined them.
//
// A real line hands bytes over one at a time (a UART below 2400 baud), in
// groups of eight with a timeout for the tail (a 16550-type FIFO), or in
// packets on a 16 ms timer (a USB adapter), and the chip can send two replies
// back to back. Quiet time alone cannot tell one message from the next, so
// bytes are read by what they are:
//
// - The first reply after a frame is its answer, whatever follows it: a reply
//   (01 10 14, 01 11 14, 01 12 14) is a message of its own as soon as its
//   third byte is in.
// - Lyric data is a message of its own, handed over once more than ten
//   characters are in, at the stream's end code, or when the line has been
//   quiet for longer than a real line pauses inside one message; the rest of
//   a stream handed over early is the handler's second read (takeMore),
//   however long the line pauses inside it.
// - A lyric stream that a frame asked for is lyric data up to its end code,
//   whatever its bytes look like: a tempo code's operands may be any byte,
//   so 01 10 14 or 01 12 14 may open it. Where a lyric code may stand (after
//   the acceptance of such a frame, or at a code's place inside its stream),
//   reply-shaped bytes are a tempo code when a code that shows or times
//   something (05 lines, 07 pause, 08 sentence) follows them at once, and a
//   reply otherwise (anything else after them, or the line's quiet).
// - After a frame that asks for no lyrics, and in any other data, a reply
//   ends the data before it (the chip replies only between messages), and
//   stray characters before a reply are handed over one at a time.
// - Anything incomplete goes as it stands once the line has been quiet for
//   that bounded time.
//
// Free of I/O and of any clock: the caller passes the time of every read and
// asks again at deadline().
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArrayView>
#include <QString>

#include "protocol/lyric_grammar.h"
#include "protocol/received_text.h"
#include "protocol/replies.h"

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

// One thing the chip said.
struct ChipMessage {
    enum class Kind {
        Reply,   // one of the three replies (a read of two characters whose second names one counts too)
        Lyrics,  // lyric data: a stream, part of one, or characters that are no reply
        Stray,   // a lone character: line noise, dropped
    };
    Kind kind = Kind::Stray;
    std::optional<reply::Kind> reply;  // for a reply
    RxText text;
    double firstAt = 0;  // when its first character arrived
    double lastAt = 0;   // its last (a reply: its third)
    // Lyric data that ends with the end code of a stream a frame asked for:
    // lyrics however short.
    bool ended = false;
    // Lyric data whose stream was still arriving when it was handed over:
    // its rest is the second read.
    bool open = false;
    // A stream that a frame asked for (not data found elsewhere).
    bool asked = false;
    uint64_t seq = 0;  // its number in the order the reader handed messages over, from 1

    bool empty() const { return text.empty(); }
};
QString MessageKindName(const ChipMessage& message);  // "rejected", "accepted", "finished", "lyrics", "stray"

class ChipReader {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    void setBaud(int baud) { baud_ = baud > 0 ? baud : 1200; }
    // A frame went out: the next reply is its answer, and lyrics follow an
    // acceptance of it when it asked for them.
    void frameSent(QByteArrayView frame);

    void feed(QByteArrayView bytes, double now);
    // Hands over whatever is due at `now`.
    void poll(double now);
    // Hands over whatever it holds as it stands (the port is closing): what
    // arrived before is the operator's to see.
    void flush();
    // Reply-shaped bytes that wait only to see whether lyrics follow them are
    // a reply now: the operator acts (a frame goes), so what came before
    // is acted on first, as it came.
    void settleReply();
    // When poll must run next; kNever when nothing waits.
    double deadline() const;

    size_t readyCount() const { return ready_.size(); }
    // The next message, or an empty one.
    ChipMessage take();
    // The second read of lyric message `seq`: the rest of its stream that
    // has arrived since, up to its end code. Later parts of a stream still
    // arriving become messages of their own; any other message has no rest.
    RxText takeMore(uint64_t seq);
    // Nothing more of lyric message `seq` is still arriving: its stream has
    // its end code, was cut short, or was whole when handed over.
    bool streamComplete(uint64_t seq) const;
    // Everything not yet handed over is dropped.
    void reset();

private:
    struct Held {
        ChipMessage message;
        RxText more;
        bool moreTaken = false;
    };
    enum class At { Partial, Reply, Data };  // what stands at a position

    void add(const RxChar& c, double now);
    void settle(bool quiet);
    bool settleFront(bool quiet);
    bool settleData(bool quiet);
    At at(size_t p) const;
    At replyOrTempo(size_t p, bool quiet) const;
    At atInData(size_t p, bool quiet) const;
    void startData();
    void splitBeforeReply(size_t p);
    void releaseReply();
    void releaseData(size_t count, bool open, bool ended);
    void push(ChipMessage message, bool open);
    void appendToStream(size_t count, bool ended);
    void endStream();
    void endStreamCapture();

    int baud_ = 1200;
    bool asked_ = false;           // the last frame asked for lyrics
    bool answerDue_ = false;       // no reply since the last frame
    bool awaitingStream_ = false;  // its acceptance came; its stream has not begun
    GbkSplitter splitter_;
    RxText pending_;
    std::vector<double> arrivals_;  // of each pending character
    double lastArrival_ = 0;
    bool dataMessage_ = false;   // pending_ is lyric data
    bool inStream_ = false;      // ... of a stream the frame asked for
    bool continuation_ = false;  // ... the rest of a stream
    bool toStream_ = false;      // ... read into the stream handed over early, for its second read
    size_t scanned_ = 0;
    LyricEndScanner scanner_;
    std::deque<std::shared_ptr<Held>> ready_;
    std::shared_ptr<Held> open_;       // the last message handed over with its stream still arriving
    std::shared_ptr<Held> streaming_;  // the same while that stream still arrives
    uint64_t seq_ = 0;
};

}  // namespace vorla
