// SPDX-License-Identifier: MIT
#include "protocol/chip_reader.h"

#include <algorithm>

#include "protocol/frame.h"

namespace vorla {

namespace {
// Codes that, right behind reply-shaped bytes where a lyric code may stand,
// make those bytes a tempo code: what a stream shows or times next.
bool OpensLyrics(int16_t code) { return code == lyric::kLines || code == lyric::kPause || code == lyric::kSentence; }
}  // namespace

double CharSeconds(int baud) { return double(rx::kBitsPerChar) / double(baud > 0 ? baud : 1200); }

double MessageGapSeconds(int baud) {
    const double ch = CharSeconds(baud);
    return std::max(rx::kFifoTriggerChars * ch, rx::kUsbLatencySeconds) + rx::kGapMarginChars * ch +
           rx::kGapMarginSeconds;
}

bool FrameAsksForLyrics(QByteArrayView frame) {
    return frame.size() >= 3 && uint8_t(frame[1]) == kPlayMode && (uint8_t(frame[2]) & kLyricsBackBit) != 0;
}

QString MessageKindName(const ChipMessage& message) {
    switch (message.kind) {
    case ChipMessage::Kind::Reply:
        switch (message.reply.value_or(reply::Kind::Accepted)) {
        case reply::Kind::Rejected: return QStringLiteral("rejected");
        case reply::Kind::Accepted: return QStringLiteral("accepted");
        case reply::Kind::Finished: return QStringLiteral("finished");
        }
        break;
    case ChipMessage::Kind::Lyrics: return QStringLiteral("lyrics");
    case ChipMessage::Kind::Stray: break;
    }
    return QStringLiteral("stray");
}

void ChipReader::frameSent(QByteArrayView frame) {
    asked_ = FrameAsksForLyrics(frame);
    answerDue_ = true;
    awaitingStream_ = false;
    // A stream still arriving belongs to the frame before, which this one
    // ends: what comes of it now is read by its shape, so the new frame's
    // answer is found wherever it stands.
    endStreamCapture();
    inStream_ = false;
}

void ChipReader::feed(QByteArrayView bytes, double now) {
    if (bytes.isEmpty()) return;
    // A pause longer than a message allows ended what came before.
    poll(now);
    for (const RxChar& c : splitter_.feed(bytes.toByteArray())) add(c, now);
    lastArrival_ = now;
    settle(false);
}

void ChipReader::add(const RxChar& c, double now) {
    lastArrival_ = now;
    pending_.push_back(c);
    arrivals_.push_back(now);
}

// The rest of a stream handed over early is kept for the handler's second
// read, read by the same rules as the stream (up to its end code, or a
// reply where a code may stand), however long the line pauses inside it.
void ChipReader::appendToStream(size_t count, bool ended) {
    streaming_->more.insert(streaming_->more.end(), pending_.begin(), pending_.begin() + qsizetype(count));
    streaming_->message.lastAt = arrivals_[count - 1];
    pending_.erase(pending_.begin(), pending_.begin() + qsizetype(count));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + qsizetype(count));
    scanned_ = 0;
    if (ended) endStream();
}

// The stream still arriving has ended (its end code, a reply): what follows
// is read by its shape.
void ChipReader::endStream() {
    streaming_.reset();
    toStream_ = false;
    dataMessage_ = inStream_ = continuation_ = false;
    scanned_ = 0;
}

// The stream handed over early stops collecting (its second read, or a new
// frame): what still comes of it is lyric data of its own, read on by the
// grammar where the stream was.
void ChipReader::endStreamCapture() {
    if (!streaming_) return;
    streaming_.reset();
    toStream_ = false;
    dataMessage_ = true;
    inStream_ = true;
    continuation_ = true;
    scanned_ = 0;
}

void ChipReader::settleReply() {
    if (dataMessage_ || !awaitingStream_ || pending_.size() != reply::kChars || at(0) != At::Reply) return;
    releaseReply();
}

double ChipReader::deadline() const {
    const bool waiting = !pending_.empty() || (dataMessage_ && !toStream_) || splitter_.holdsLeadByte();
    return waiting ? lastArrival_ + MessageGapSeconds(baud_) : kNever;
}

void ChipReader::poll(double now) {
    if (now < deadline()) return;
    flush();
}

void ChipReader::flush() {
    // The line has been quiet: a lead byte without its trail byte is a
    // character of its own, and every message ends here but a lyric stream
    // already handed over, whose rest the handler reads when its wait is over.
    for (const RxChar& c : splitter_.flush()) add(c, lastArrival_);
    settle(true);
    if (pending_.empty() && !toStream_) dataMessage_ = inStream_ = continuation_ = false;
}

ChipReader::At ChipReader::at(size_t p) const {
    const size_t n = pending_.size() - p;
    if (pending_[p].code != reply::kHead) return At::Data;
    if (n < 2) return At::Partial;
    if (!reply::KindOf(pending_[p + 1].code)) return At::Data;
    if (n < 3) return At::Partial;
    return pending_[p + 2].code == reply::kTail ? At::Reply : At::Data;
}

// Where a lyric code may stand: reply-shaped bytes are a tempo code when a
// code that shows or times something follows them at once.
ChipReader::At ChipReader::replyOrTempo(size_t p, bool quiet) const {
    const At here = at(p);
    if (here != At::Reply) return here;
    if (pending_.size() - p <= reply::kChars) return quiet ? At::Reply : At::Partial;
    return OpensLyrics(pending_[p + reply::kChars].code) ? At::Data : At::Reply;
}

void ChipReader::settle(bool quiet) {
    while (!pending_.empty()) {
        if (!dataMessage_ && !settleFront(quiet)) return;
        if (dataMessage_ && !settleData(quiet)) return;
    }
}

// What stands at the front when no data message is open: a reply goes, data
// opens a message, and a partial reply waits (false) unless the line is
// quiet, when it goes as it stands.
bool ChipReader::settleFront(bool quiet) {
    switch (awaitingStream_ ? replyOrTempo(0, quiet) : at(0)) {
    case At::Partial:
        if (!quiet) return false;
        releaseData(pending_.size(), false, false);
        return true;
    case At::Reply: releaseReply(); return true;
    case At::Data: startData(); return true;
    }
    return true;
}

void ChipReader::startData() {
    dataMessage_ = true;
    inStream_ = awaitingStream_;
    continuation_ = false;
    scanned_ = 0;
    scanner_.reset();
}

// What stands at position p of lyric data. Inside a stream the frame asked
// for, only reply-shaped bytes at a code's place may be a reply (and are,
// unless a lyric code follows them at once); in anything else a reply is a
// reply wherever it stands.
ChipReader::At ChipReader::atInData(size_t p, bool quiet) const {
    if (!inStream_) return at(p);
    return scanner_.atCode() ? replyOrTempo(p, quiet) : At::Data;
}

// Lyric data at the front: handed over at its end code or before a reply
// (and what follows is looked at afresh, so true), or once more than ten
// characters are in (its stream goes on arriving), or as it stands when the
// line is quiet.
bool ChipReader::settleData(bool quiet) {
    while (scanned_ < pending_.size()) {
        const At here = atInData(scanned_, quiet);
        if (here == At::Reply) {
            splitBeforeReply(scanned_);
            return true;
        }
        if (here == At::Partial && !quiet) return false;  // a reply may be coming
        if (scanner_.atEnd(pending_[scanned_++])) {
            if (toStream_) appendToStream(scanned_, true);
            else releaseData(scanned_, false, inStream_);
            return true;
        }
    }
    if (toStream_) appendToStream(pending_.size(), false);
    else if (pending_.size() > reply::kBareAcceptanceMaxChars) releaseData(pending_.size(), true, false);
    else if (quiet) releaseData(pending_.size(), false, false);
    return false;
}

void ChipReader::splitBeforeReply(size_t p) {
    if (toStream_) {
        // A reply ends the stream still arriving: it was cut short.
        if (p > 0) appendToStream(p, false);
        endStream();
        return;
    }
    if (p == 0) {
        // The reply opens what is pending: no data came before it.
        dataMessage_ = inStream_ = continuation_ = false;
        scanned_ = 0;
        return;
    }
    if (!inStream_ && !continuation_) {
        // Nothing came before these characters that they could belong to.
        for (size_t k = 0; k < p; ++k) releaseData(1, false, false);
        return;
    }
    releaseData(p, false, false);
}

void ChipReader::releaseReply() {
    ChipMessage m;
    m.kind = ChipMessage::Kind::Reply;
    m.reply = reply::KindOf(pending_[1].code);
    m.text.assign(pending_.begin(), pending_.begin() + qsizetype(reply::kChars));
    m.firstAt = arrivals_[0];
    m.lastAt = arrivals_[reply::kChars - 1];
    pending_.erase(pending_.begin(), pending_.begin() + qsizetype(reply::kChars));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + qsizetype(reply::kChars));
    if (answerDue_ && m.reply != reply::Kind::Finished) {
        // The frame's answer (a finish report is an earlier play's, never an
        // answer): an acceptance of a frame that asked for lyrics is
        // followed by its stream.
        answerDue_ = false;
        awaitingStream_ = asked_ && m.reply == reply::Kind::Accepted;
    } else if (m.reply == reply::Kind::Finished) {
        awaitingStream_ = false;
    }
    push(std::move(m), false);
}

void ChipReader::releaseData(size_t count, bool open, bool ended) {
    ChipMessage m;
    m.text.assign(pending_.begin(), pending_.begin() + qsizetype(count));
    m.firstAt = arrivals_.front();
    m.lastAt = arrivals_[count - 1];
    m.ended = ended;
    m.open = open;
    m.asked = inStream_;
    const bool stream = inStream_ || continuation_;
    if (m.text.size() < reply::kMinChars && !ended) {
        m.kind = ChipMessage::Kind::Stray;
    } else if (!stream && m.text.size() <= reply::kChars && reply::KindOf(m.text[1].code)) {
        // Two or three characters cut off by the line's quiet, the second
        // naming a reply: read as that reply, head and tail as they came.
        m.kind = ChipMessage::Kind::Reply;
        m.reply = reply::KindOf(m.text[1].code);
        if (m.reply != reply::Kind::Finished) answerDue_ = false;
    } else {
        m.kind = ChipMessage::Kind::Lyrics;
    }
    // A lone stray character where a stream was awaited leaves it awaited.
    const bool stillAwaited = inStream_ && m.kind == ChipMessage::Kind::Stray && !continuation_;
    pending_.erase(pending_.begin(), pending_.begin() + qsizetype(count));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + qsizetype(count));
    dataMessage_ = inStream_ = continuation_ = false;
    scanned_ = 0;
    awaitingStream_ = stillAwaited;
    push(std::move(m), open);
}

void ChipReader::push(ChipMessage message, bool open) {
    auto held = std::make_shared<Held>();
    held->message = std::move(message);
    held->message.seq = ++seq_;
    if (open) {
        // Its rest is read into it until its end code.
        streaming_ = open_ = held;
        toStream_ = true;
        dataMessage_ = continuation_ = true;
        inStream_ = held->message.asked;
        scanned_ = 0;
    }
    ready_.push_back(std::move(held));
}

ChipMessage ChipReader::take() {
    if (ready_.empty()) return {};
    ChipMessage message = ready_.front()->message;
    ready_.pop_front();
    return message;
}

bool ChipReader::streamComplete(uint64_t seq) const { return !streaming_ || streaming_->message.seq != seq; }

RxText ChipReader::takeMore(uint64_t seq) {
    if (!open_ || open_->message.seq != seq || open_->moreTaken) return {};
    open_->moreTaken = true;
    RxText more = std::exchange(open_->more, {});
    if (streaming_ == open_) endStreamCapture();
    return more;
}

void ChipReader::reset() {
    splitter_.reset();
    pending_.clear();
    arrivals_.clear();
    dataMessage_ = inStream_ = continuation_ = toStream_ = false;
    awaitingStream_ = answerDue_ = false;
    scanned_ = 0;
    scanner_.reset();
    streaming_.reset();
}

}  // namespace vorla
