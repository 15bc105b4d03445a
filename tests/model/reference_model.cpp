// SPDX-License-Identifier: MIT
#include "model/reference_model.h"

#include "conversation/frame_log.h"
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

void ReferenceModel::apply(const Event& event) {
    if (const auto* in = std::get_if<OperatorInput>(&event)) {
        apply(*in);
    } else if (const auto* r = std::get_if<ReplyArrived>(&event)) {
        cause_ = "the chip's reply";
        log(reply::LogLine(r->kind) + kCrLf);
        if (r->kind == reply::Kind::Rejected) {
            rejected();
            return;
        }
        rejections_ = 0;
        if (r->kind == reply::Kind::Finished) {
            run_.finished = true;
            cause_ = "the next code after a finish report";
            advanceRun();
        }
    } else if (std::holds_alternative<LyricArrived>(event)) {
        beforeLyrics_ = rejections_;
        rejections_ = 0;
    } else if (std::holds_alternative<Ambiguous>(event)) {
        if (!uncertainFrom_) uncertainFrom_ = journal_.size();
    } else if (beforeLyrics_ != 0) {
        // Cut short before it was read: maybe read (ending a rejection
        // series), maybe dropped with the close.
        rejections_.reset();
    }
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
    // Stop is logged before it goes, a rate after it has gone, sleep, wake
    // and the output mode not at all.
    const bool logged = command == Command::Stop || command == Command::Baud || command == Command::BaudAndOutput;
    write(ControlFrame(FrameEnds{}, mode), logged, command == Command::Stop);
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
