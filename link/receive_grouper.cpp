// SPDX-License-Identifier: MIT
#include "link/receive_grouper.h"

#include <algorithm>

#include "link/lyric_codes.h"

namespace vorla {

namespace {
constexpr int16_t kReplyHead = 0x01;
constexpr int16_t kReplyTail = 0x14;
constexpr int16_t kAcceptedCode = 0x11;
constexpr size_t kReplyChars = 3;

bool IsReplyCode(int16_t code) { return code >= 0x10 && code <= 0x12; }
}  // namespace

double CharSeconds(int baud) { return double(rx::kBitsPerChar) / double(baud > 0 ? baud : 1200); }

double MessageGapSeconds(int baud) {
    const double ch = CharSeconds(baud);
    return std::max(rx::kFifoTriggerChars * ch, rx::kUsbLatencySeconds) + rx::kGapMarginChars * ch +
           rx::kGapMarginSeconds;
}

bool FrameAsksForLyrics(QByteArrayView frame) {
    return frame.size() >= 3 && uint8_t(frame[1]) == 0x80 && (uint8_t(frame[2]) & 0x40) != 0;
}

bool ReceiveGrouper::EndScanner::atEnd(const RxChar& c) {
    if (operands_ > 0) {
        --operands_;
        return false;
    }
    if (duration_) {
        duration_ = false;
        return false;
    }
    if (sentence_) {
        if (c.doubleByte()) {
            duration_ = true;
            return false;
        }
        sentence_ = false;  // read again as a code
    }
    switch (c.code) {
    // Operands may hold any byte, 0x04 included.
    case lyric::kTempo: operands_ = 2; break;
    case lyric::kPause: operands_ = 1; break;
    case lyric::kSentence: sentence_ = true; break;
    case lyric::kEnd: return true;
    default: break;
    }
    return false;
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
        streaming_->more.push_back(c);
        if (scanner_.atEnd(c)) closeStream();
        return;
    }
    pending_.push_back(c);
    arrivals_.push_back(now);
}

double ReceiveGrouper::deadline() const {
    const bool waiting = !pending_.empty() || streaming_ || dataMessage_ || splitter_.holdsLeadByte();
    return waiting ? lastArrival_ + MessageGapSeconds(baud_) : kNever;
}

void ReceiveGrouper::poll(double now) {
    if (now < deadline()) return;
    // The line has been quiet: a lead byte without its trail byte is a
    // character of its own, and every message ends here.
    for (const RxChar& c : splitter_.flush()) add(c, lastArrival_);
    closeStream();
    settle(true);
    if (pending_.empty()) dataMessage_ = false;
}

ReceiveGrouper::At ReceiveGrouper::at(size_t p) const {
    const size_t n = pending_.size() - p;
    if (pending_[p].code != kReplyHead) return At::Data;
    if (n < 2) return At::Partial;
    if (!IsReplyCode(pending_[p + 1].code)) return At::Data;
    if (n < 3) return At::Partial;
    return pending_[p + 2].code == kReplyTail ? At::Reply : At::Data;
}

ReceiveGrouper::Shape ReceiveGrouper::classify(bool quiet, size_t& dataFrom) const {
    switch (at(0)) {
    case At::Partial: return Shape::NeedMore;
    case At::Data: dataFrom = 0; return Shape::Data;
    case At::Reply: break;
    }
    if (pending_[1].code != kAcceptedCode) return Shape::Reply;
    return classifyAcceptance(quiet, dataFrom);
}

// An acceptance leads: it goes alone unless lyric data follows it, or may.
ReceiveGrouper::Shape ReceiveGrouper::classifyAcceptance(bool quiet, size_t& dataFrom) const {
    if (pending_.size() == kReplyChars) return lyricsExpected_ && !quiet ? Shape::NeedMore : Shape::Acceptance;
    switch (at(kReplyChars)) {
    case At::Partial: return quiet ? Shape::Acceptance : Shape::NeedMore;
    case At::Reply: return Shape::Acceptance;
    case At::Data: break;
    }
    dataFrom = kReplyChars;
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
            case Shape::Acceptance: release(kReplyChars, false); continue;
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

// Lyric data at the front: handed over at its end code (and what follows is
// looked at afresh, so true), or once more than ten characters are in (its
// stream goes on arriving), or as it stands when the line is quiet.
bool ReceiveGrouper::settleData(bool quiet) {
    bool ended = false;
    while (!ended && scanned_ < pending_.size()) ended = scanner_.atEnd(pending_[scanned_++]);
    if (ended) {
        release(scanned_, false);
        return true;
    }
    if (pending_.size() > rx::kBareAcceptanceMaxChars) release(pending_.size(), true);
    else if (quiet) release(pending_.size(), false);
    return false;
}

void ReceiveGrouper::release(size_t count, bool streaming) {
    auto message = std::make_shared<Message>();
    const size_t start = dataMessage_ ? std::min(dataFrom_, count - 1) : 0;
    message->dataStart = arrivals_[start];
    message->text.assign(pending_.begin(), pending_.begin() + qsizetype(count));
    pending_.erase(pending_.begin(), pending_.begin() + qsizetype(count));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + qsizetype(count));
    dataMessage_ = false;
    dataFrom_ = scanned_ = 0;
    if (streaming) streaming_ = message;
    ready_.push_back(std::move(message));
}

void ReceiveGrouper::closeStream() { streaming_.reset(); }

RxBatch ReceiveGrouper::take() {
    if (ready_.empty()) return {};
    current_ = std::move(ready_.front());
    ready_.pop_front();
    return RxBatch{std::move(current_->text), current_->dataStart};
}

RxText ReceiveGrouper::takeMore() {
    if (!current_ || current_->moreTaken) return {};
    current_->moreTaken = true;
    RxText more = std::exchange(current_->more, {});
    if (streaming_ == current_) {
        // What still comes of this stream is lyric data of its own.
        streaming_.reset();
        dataMessage_ = true;
        dataFrom_ = scanned_ = 0;
    }
    return more;
}

void ReceiveGrouper::dropPartial() {
    splitter_.reset();
    pending_.clear();
    arrivals_.clear();
    dataMessage_ = false;
    dataFrom_ = scanned_ = 0;
    scanner_.reset();
    streaming_.reset();
}

}  // namespace vorla
