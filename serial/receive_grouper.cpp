// SPDX-License-Identifier: MIT
#include "serial/receive_grouper.h"

#include <algorithm>

#include "protocol/frame.h"
#include "protocol/replies.h"

namespace vorla {

double CharSeconds(int baud) { return double(rx::kBitsPerChar) / double(baud > 0 ? baud : 1200); }

double MessageGapSeconds(int baud) {
    const double ch = CharSeconds(baud);
    return std::max(rx::kFifoTriggerChars * ch, rx::kUsbLatencySeconds) + rx::kGapMarginChars * ch +
           rx::kGapMarginSeconds;
}

bool FrameAsksForLyrics(QByteArrayView frame) {
    return frame.size() >= 3 && uint8_t(frame[1]) == kPlayMode && (uint8_t(frame[2]) & kLyricsBackBit) != 0;
}

void ReceiveGrouper::feed(QByteArrayView bytes, double now) {
    if (bytes.isEmpty()) return;
    // A pause longer than a message allows ended what came before.
    poll(now);
    for (const RxChar& c : splitter_.feed(bytes.toByteArray())) add(c, now);
    lastArrival_ = now;
    settle(false);
}

void ReceiveGrouper::add(const RxChar& c, double now) {
    lastArrival_ = now;
    if (streaming_) {
        addToStream(c);
        return;
    }
    pending_.push_back(c);
    arrivals_.push_back(now);
}

// The rest of a stream handed over: kept for the handler's second read, up
// to the end code. Inside a stream every byte is lyric data, also bytes
// shaped like a reply (a tempo code's operands may be any byte).
void ReceiveGrouper::addToStream(const RxChar& c) {
    streaming_->more.push_back(c);
    if (scanner_.atEnd(c)) streaming_.reset();
}

double ReceiveGrouper::deadline() const {
    const bool waiting = !pending_.empty() || dataMessage_ || splitter_.holdsLeadByte();
    return waiting ? lastArrival_ + MessageGapSeconds(baud_) : kNever;
}

void ReceiveGrouper::poll(double now) {
    if (now < deadline()) return;
    // The line has been quiet: a lead byte without its trail byte is a
    // character of its own, and every message ends here but a lyric stream
    // already handed over, whose rest the handler reads when its wait is over.
    for (const RxChar& c : splitter_.flush()) add(c, lastArrival_);
    settle(true);
    if (pending_.empty()) dataMessage_ = continuation_ = false;
}

ReceiveGrouper::At ReceiveGrouper::at(size_t p) const {
    const size_t n = pending_.size() - p;
    if (pending_[p].code != reply::kHead) return At::Data;
    if (n < 2) return At::Partial;
    if (!reply::KindOf(pending_[p + 1].code)) return At::Data;
    if (n < 3) return At::Partial;
    return pending_[p + 2].code == reply::kTail ? At::Reply : At::Data;
}

ReceiveGrouper::Shape ReceiveGrouper::classify(bool quiet, size_t& dataFrom) const {
    switch (at(0)) {
    case At::Partial: return Shape::NeedMore;
    case At::Data: dataFrom = 0; return Shape::Data;
    case At::Reply: break;
    }
    if (reply::KindOf(pending_[1].code) != reply::Kind::Accepted) return Shape::Reply;
    return classifyAcceptance(quiet, dataFrom);
}

// An acceptance leads: it goes alone unless lyric data follows it, or may.
ReceiveGrouper::Shape ReceiveGrouper::classifyAcceptance(bool quiet, size_t& dataFrom) const {
    if (pending_.size() == reply::kChars) return lyricsExpected_ && !quiet ? Shape::NeedMore : Shape::Acceptance;
    switch (at(reply::kChars)) {
    case At::Partial: return quiet ? Shape::Acceptance : Shape::NeedMore;
    case At::Reply:
        // Lyrics asked for may open with a tempo code whose operands look
        // like a reply: what follows it at once tells them apart.
        if (!lyricsExpected_) return Shape::Acceptance;
        if (pending_.size() == 2 * reply::kChars) return quiet ? Shape::Acceptance : Shape::NeedMore;
        break;
    case At::Data: break;
    }
    dataFrom = reply::kChars;
    return Shape::Data;
}

void ReceiveGrouper::settle(bool quiet) {
    while (!pending_.empty()) {
        if (!dataMessage_) {
            size_t from = 0;
            switch (classify(quiet, from)) {
            case Shape::NeedMore:
                if (!quiet) return;
                release(pending_.size(), false);  // as it stands
                continue;
            case Shape::Reply:
            case Shape::Acceptance: release(reply::kChars, false); continue;
            case Shape::Data: break;
            }
            dataMessage_ = true;
            dataFrom_ = from;
            scanned_ = from;
            scanner_.reset();
        }
        if (!settleData(quiet)) return;
    }
}

// Lyric data at the front: handed over at its end code or before a reply
// (and what follows is looked at afresh, so true), or once more than ten
// characters are in (its stream goes on arriving), or as it stands when the
// line is quiet.
// What stands at position p of lyric data. A lyric stream the frame asked
// for is lyric data up to its end code, whatever its bytes look like. The
// rest of one after the handler's second read is read by the grammar, where
// a reply at a code's place is a reply; in anything else a reply is a reply.
ReceiveGrouper::At ReceiveGrouper::atInData(size_t p) const {
    if (dataFrom_ > 0 && lyricsExpected_) return At::Data;
    if (continuation_ && !scanner_.atCode()) return At::Data;
    return at(p);
}

bool ReceiveGrouper::settleData(bool quiet) {
    while (scanned_ < pending_.size()) {
        const At here = atInData(scanned_);
        if (here == At::Reply) {
            splitBeforeReply(scanned_);
            return true;
        }
        if (here == At::Partial && !quiet) return false;  // a reply may be coming
        if (scanner_.atEnd(pending_[scanned_++])) {
            release(scanned_, false, lyricsExpected_);
            return true;
        }
    }
    if (pending_.size() > reply::kBareAcceptanceMaxChars) release(pending_.size(), true);
    else if (quiet) release(pending_.size(), false);
    return false;
}

void ReceiveGrouper::splitBeforeReply(size_t p) {
    if (p == 0) {
        // The reply opens what is pending: no data came before it.
        dataMessage_ = continuation_ = false;
        dataFrom_ = scanned_ = 0;
        return;
    }
    if (dataFrom_ == 0 && !continuation_) {
        // Nothing came before these characters that they could belong to.
        for (size_t k = 0; k < p; ++k) release(1, false);
        return;
    }
    release(p, false);
}

void ReceiveGrouper::release(size_t count, bool streaming, bool lyricsEnded) {
    auto message = std::make_shared<Message>();
    const size_t start = dataMessage_ ? std::min(dataFrom_, count - 1) : 0;
    message->dataStart = arrivals_[start];
    message->replyAt = arrivals_[std::min(count, reply::kChars) - 1];
    message->lyricsEnded = lyricsEnded;
    message->text.assign(pending_.begin(), pending_.begin() + qsizetype(count));
    pending_.erase(pending_.begin(), pending_.begin() + qsizetype(count));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + qsizetype(count));
    dataMessage_ = false;
    continuation_ = false;
    dataFrom_ = scanned_ = 0;
    if (streaming) streaming_ = message;
    ready_.push_back(std::move(message));
}

RxBatch ReceiveGrouper::take() {
    if (ready_.empty()) return {};
    current_ = std::move(ready_.front());
    ready_.pop_front();
    return RxBatch{std::move(current_->text), current_->dataStart, current_->lyricsEnded, current_->replyAt};
}

RxText ReceiveGrouper::takeMore() {
    if (!current_ || current_->moreTaken) return {};
    current_->moreTaken = true;
    RxText more = std::exchange(current_->more, {});
    if (streaming_ == current_) {
        // What still comes of this stream is lyric data of its own, read on
        // by the grammar where the stream was.
        streaming_.reset();
        dataMessage_ = true;
        continuation_ = true;
        dataFrom_ = scanned_ = 0;
    }
    return more;
}

void ReceiveGrouper::dropPartial() {
    splitter_.reset();
    pending_.clear();
    arrivals_.clear();
    dataMessage_ = false;
    continuation_ = false;
    dataFrom_ = scanned_ = 0;
    scanner_.reset();
    streaming_.reset();
}

}  // namespace vorla
