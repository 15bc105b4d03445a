// SPDX-License-Identifier: MIT
#include "model/reference_model.h"

#include <cmath>

#include "conversation/frame_log.h"
#include "protocol/baud.h"
#include "protocol/catalog.h"
#include "protocol/commands.h"
#include "protocol/hex_text.h"

namespace vorla::model {

namespace {
// The buttons the window turns off while the chip sleeps.
bool OffWhileAsleep(Command c) {
    return c != Command::SleepWake && c != Command::RawWithCheckByte && c != Command::RawAsTyped;
}

ItemKind KindOf(Command c) {
    switch (c) {
    case Command::Phrase: return ItemKind::Phrase;
    case Command::Poem: return ItemKind::Poem;
    case Command::Sound: return ItemKind::Sound;
    default: return ItemKind::Music;
    }
}
}  // namespace

ReferenceModel::ReferenceModel() : lists_(InitialCodeLists()) {}

void ReferenceModel::apply(const Event& event, double at) {
    if (releaseAt_ && (at != *releaseAt_ || std::holds_alternative<OperatorInput>(event))) {
        releaseAt_.reset();
        release();
    }
    // A lyric wait that is over by now ended first (one that ends within a
    // millisecond of this event may have ended after it).
    while (lyricWaitEnd_ && at >= *lyricWaitEnd_ - 0.001) {
        if (at < *lyricWaitEnd_ + 0.001 && !uncertainFrom_) uncertainFrom_ = journal_.size();
        now_ = *lyricWaitEnd_;
        lyricWaitEnd_.reset();
        cause_ = "the end of the lyric wait";
        release();
    }
    now_ = at;
    const bool marker = std::holds_alternative<Ambiguous>(event) || std::holds_alternative<RateSettled>(event) ||
                        std::holds_alternative<RateDeadline>(event);
    // Lyric data in one read with an acceptance that ended a switch came
    // during it: it waits with what the switch held. So does the rest of
    // that read once one of them started another switch (it came before
    // that switch's frame went).
    const bool withAcceptance =
        releaseAt_ && !marker &&
        (switch_.on || std::holds_alternative<LyricArrived>(event) || std::holds_alternative<LyricCut>(event));
    if ((lyricWaitEnd_ && !marker) || (switch_.on && holds(event)) || withAcceptance) {
        held_.push_back(event);
        return;
    }
    act(event);
}

void ReferenceModel::finish() {
    releaseAt_.reset();
    release();
    while (lyricWaitEnd_) {
        now_ = *lyricWaitEnd_;
        lyricWaitEnd_.reset();
        cause_ = "the end of the lyric wait";
        release();
    }
}

// What a wait held is acted on in the order it came, up to one that starts
// another wait.
void ReferenceModel::release() {
    while (!switch_.on && !lyricWaitEnd_ && !held_.empty()) {
        const Event event = std::move(held_.front());
        held_.pop_front();
        act(event);
    }
}

// As the conversation times it: the wait at the chosen rate from the first
// byte, in whole milliseconds; none when that is over already.
void ReferenceModel::startLyricWait(double firstAt) {
    const int waitMs = LyricWaitMs(controls_.baudIndex);
    const int ms = waitMs - int(std::lround(std::max(0.0, now_ - firstAt) * 1000.0));
    if (waitMs > 0 && ms > 0) lyricWaitEnd_ = now_ + ms / 1000.0;
}

// What a rate switch holds: the operator's input and lyric data, and once
// its acceptance came early, everything the chip says until it is acted on.
bool ReferenceModel::holds(const Event& event) const {
    if (std::holds_alternative<ReplyArrived>(event)) return switch_.kept;
    return std::holds_alternative<OperatorInput>(event) || std::holds_alternative<LyricArrived>(event) ||
           std::holds_alternative<LyricCut>(event);
}

void ReferenceModel::act(const Event& event) {
    if (const auto* in = std::get_if<OperatorInput>(&event)) {
        apply(*in);
    } else if (const auto* r = std::get_if<ReplyArrived>(&event)) {
        replied(r->kind);
    } else if (const auto* l = std::get_if<LyricArrived>(&event)) {
        beforeLyrics_ = rejections_;
        rejections_ = 0;
        startLyricWait(l->firstAt);
    } else if (std::holds_alternative<Ambiguous>(event)) {
        if (!uncertainFrom_) uncertainFrom_ = journal_.size();
    } else if (std::holds_alternative<RateSettled>(event)) {
        if (!switch_.on) return;
        switch_.settled = true;
        if (switch_.kept) acceptSwitch(false);
    } else if (std::holds_alternative<RateDeadline>(event)) {
        if (!switch_.on || switch_.kept) return;
        cause_ = "no answer to the rate frame by its deadline";
        log(switch_.record);
        endSwitch();
    } else if (beforeLyrics_ != 0) {
        // Cut short before it was read: maybe read (ending a rejection
        // series), maybe dropped with the close.
        rejections_.reset();
    }
}

void ReferenceModel::replied(reply::Kind kind) {
    cause_ = "the chip's reply";
    if (switch_.on && kind == reply::Kind::Accepted) {
        // The switch's answer: the port follows once the chip has switched.
        switch_.kept = true;
        if (switch_.settled) acceptSwitch(true);
        return;
    }
    const bool switchRejected = switch_.on && kind == reply::Kind::Rejected;
    if (switchRejected) log(switch_.record);
    log(reply::LogLine(kind) + kCrLf);
    if (kind == reply::Kind::Rejected) {
        const int rateFrames = rateFrames_;
        rejected();
        // A resend goes on with the switch; after the last one it is over.
        if (switchRejected && rateFrames_ == rateFrames) endSwitch();
        return;
    }
    rejections_ = 0;
    if (kind == reply::Kind::Finished) {
        run_.finished = true;
        cause_ = "the next code after a finish report";
        advanceRun();
    }
}

void ReferenceModel::acceptSwitch(bool atArrival) {
    cause_ = "the acceptance of the rate frame";
    log(switch_.record);
    log(reply::LogLine(reply::Kind::Accepted) + kCrLf);
    rejections_ = 0;
    if (!atArrival) {
        endSwitch();
        return;
    }
    switch_ = Switch{};
    releaseAt_ = now_;
}

// The switch is over: what it held is acted on in the order it came, up to
// a switch that one of them starts.
void ReferenceModel::endSwitch() {
    switch_ = Switch{};
    release();
}

void ReferenceModel::apply(const OperatorInput& in) {
    cause_ = in.what;
    if (const auto* c = std::get_if<input::SetControls>(&in.input)) controls_ = c->controls;
    else if (const auto* l = std::get_if<input::SetCodeLists>(&in.input)) lists_ = l->lists;
    else if (const auto* s = std::get_if<input::Send>(&in.input)) {
        if (sleeping_ && OffWhileAsleep(s->command)) return;  // a held click on a button now off
        send(s->command, false);
    }
}

void ReferenceModel::rejected() {
    if (!rejections_) {
        if (!uncertainFrom_) uncertainFrom_ = journal_.size();
        return;
    }
    if (*rejections_ >= reply::kMaxResends) {
        rejections_ = 0;
        return;
    }
    cause_ = "the resend after a rejection";
    if (pending_ == Command::CodePlayback) {
        if (!run_.sequenceDone) run_.resumePending = true;
    } else {
        send(pending_, true);
    }
    rejections_ = *rejections_ + 1;
}

void ReferenceModel::send(Command command, bool resend) {
    switch (command) {
    case Command::None: return;
    case Command::CodePlayback: playCodes(); return;
    case Command::RawWithCheckByte:
    case Command::RawAsTyped: sendRaw(command); break;
    case Command::Stop:
    case Command::SleepWake:
    case Command::OutputMode:
    case Command::Baud:
    case Command::BaudAndOutput: sendControl(command, resend); break;
    case Command::Text:
        if (const auto f = TextFrame(FrameEnds{}, controls_.play, controls_.text, kMaxTextBytes)) {
            pending_ = command;
            write(*f, true, true);
        }
        break;
    case Command::Music:
    case Command::Phrase:
    case Command::Poem:
    case Command::Sound: {
        const ItemKind kind = KindOf(command);
        pending_ = command;
        write(ItemFrame(FrameEnds{}, controls_.play, controls_.itemIndex[size_t(kind)], ItemBase(kind)), true,
              command == Command::Phrase);
        break;
    }
    }
    // Any other command that was given ends a run that waits.
    if (run_.running && pending_ != Command::CodePlayback) endRun();
}

void ReferenceModel::endRun() {
    run_.running = false;
    run_.position = 0;
    run_.sequenceDone = true;
}

void ReferenceModel::sendControl(Command command, bool resend) {
    uint8_t mode = kStopMode;
    if (command == Command::SleepWake) {
        if (!resend) sleeping_ = !sleeping_;
        mode = sleeping_ ? kSleepMode : kWakeMode;
    } else if (command == Command::OutputMode) {
        mode = OutputModeByte(controls_.outputIndex);
    } else if (command == Command::Baud) {
        mode = BaudModeByte(controls_.baudIndex);
    } else if (command == Command::BaudAndOutput) {
        mode = BaudAndOutputModeByte(controls_.baudIndex, controls_.outputIndex);
    }
    pending_ = command;
    const Frame frame = ControlFrame(FrameEnds{}, mode);
    if (command == Command::Baud || command == Command::BaudAndOutput) {
        // A rate frame is logged when its switch ends.
        write(frame, false, false);
        ++rateFrames_;
        switch_ = Switch{true, false, false, FormatSentRecord(frame.bytes())};
        return;
    }
    // Stop is logged before it goes; sleep, wake and the output mode not at all.
    write(frame, command == Command::Stop, command == Command::Stop);
}

void ReferenceModel::sendRaw(Command command) {
    const HexText parsed = ParseHexText(controls_.rawText);
    if (parsed.status != HexTextStatus::Ok) return;  // sends nothing, repeats nothing
    pending_ = command;
    write(RawFrame(parsed.bytes, command == Command::RawWithCheckByte), true, true);
}

void ReferenceModel::write(const Frame& frame, bool logged, bool logFirst) {
    const QString record = FormatSentRecord(frame.bytes());
    if (logged && logFirst) log(record);
    journal_.push_back(Entry{Entry::Kind::Frame, frame.toByteArray(), QString(), cause_});
    if (logged && !logFirst) log(record);
}

void ReferenceModel::log(const QString& chunk) { journal_.push_back(Entry{Entry::Kind::Log, {}, chunk, cause_}); }

void ReferenceModel::playCodes() {
    pending_ = Command::CodePlayback;
    run_.running = true;
    run_.finished = true;
    run_.order.clear();
    for (int k = 0; k < kCodeLists; ++k)
        if (!lists_[size_t(k)].empty()) run_.order.push_back(k);
    if (run_.resumePending) run_.resumePending = false;
    else run_.position = 0;
    run_.next = size_t(std::max(run_.position, 0));
    advanceRun();
}

void ReferenceModel::advanceRun() {
    while (run_.running) {
        if (run_.next >= run_.order.size()) {
            endRun();
            return;
        }
        if (!run_.finished) return;
        const int code = run_.order[run_.next];
        const Frame frame = CodeFrame(FrameEnds{}, PlayHeaderFor(controls_.play), lists_[size_t(code)]);
        codeFrames_.push_back(frame.toByteArray());
        write(frame, true, false);
        ++run_.position;
        run_.finished = false;
        ++run_.next;
    }
}

}  // namespace vorla::model
