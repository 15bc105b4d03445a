// SPDX-License-Identifier: MIT
#include "model/model_rig.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <QStringEncoder>

#include "conversation/frame_log.h"
#include "protocol/baud.h"
#include "protocol/frame.h"
#include "sim/lyric_pieces.h"

namespace vorla::model {

namespace {
constexpr double kTick = 0.010;          // how often the waits are looked at
constexpr double kSettleSeconds = 11.0;  // quiet at the end: longer than any wait
constexpr double kGiveUpSeconds = 600;
constexpr double kBaudSwitchSeconds = 0.100;
// A rate switch waits for the chip's answer at most this long after its
// frame's last byte has left.
constexpr double kAnswerDeadlineSeconds = 2.0;

bool AsksForLyrics(const QByteArray& frame) {
    return frame.size() >= 3 && uint8_t(frame[1]) == kPlayMode && (uint8_t(frame[2]) & kLyricsBackBit) != 0;
}

bool SwitchesRate(const QByteArray& frame) {
    return frame.size() == 6 && uint8_t(frame[2]) == 0x80 && BaudOfModeByte(uint8_t(frame[1])) != 0;
}

QByteArray Gbk(const QString& text) { return QStringEncoder("GBK").encode(text); }

// A stream with its opening tempo code's operands as asked (0: as the piece
// has them; 1..3: 01 10 14, 01 11 14, 01 12 14), always followed by a
// block of lines.
QByteArray StreamBytes(const Lyrics& l, bool replyShaped) {
    QByteArray s = l.piece >= 0 ? sim::LyricStream(l.piece, 1.0)
                                : QByteArray("\x01\x00\x24\x05", 4) + Gbk(QStringLiteral("我们你好啊")) + '\x04';
    if (replyShaped && l.opening > 0) {
        s[1] = char(0x0F + l.opening);
        s[2] = char(reply::kTail);
    }
    return s;
}

std::string Seconds(double t) { return QString::number(t - 100.0, 'f', 3).toStdString() + " s"; }
}  // namespace

void ModelRig::Part::add(const QByteArray& more, uint8_t lastFlags, reply::Kind kind) {
    for (qsizetype i = 0; i < more.size(); ++i) {
        bytes += more[i];
        flags.push_back(i + 1 == more.size() ? lastFlags : 0);
        kinds.push_back(kind);
    }
}

void ModelRig::Part::addReply(reply::Kind kind, uint8_t lastFlags) {
    add(reply::Bytes(kind), lastFlags, kind);
    flags[flags.size() - 2] |= kReplyKind;
}

ModelRig::ModelRig(const Case& c)
    : case_(c), line_(c.line, c.usbPhaseMs / 1000.0), opsAlarm_(clock_.makeAlarm([this] { runOps(); })),
      chipAlarm_(clock_.makeAlarm([this] { sending_ ? sendPart() : pumpChip(); })),
      deliveryAlarm_(clock_.makeAlarm([this] { deliver(); })),
      rateSettledAlarm_(clock_.makeAlarm([this] { rateTimesDue(); })),
      rateDeadlineAlarm_(clock_.makeAlarm([this] { rateTimesDue(); })) {
    conv_ = std::make_unique<ChipConversation>(serial_);
    // What the window hands over when it opens; the model starts from it.
    conv_->setCodeLists(InitialCodeLists());
    conv_->setControls(controls_);
    serial_.onOutput = [this](const QByteArray& bytes) { heard(bytes); };
    QObject::connect(&conv_->log(), &FrameLog::appended, [this](const QString& chunk) { logged(chunk); });
    QObject::connect(conv_.get(), &ChipConversation::codeRunChanged, [this](bool on) { codeRunning_ = on; });
    QObject::connect(conv_.get(), &ChipConversation::lyricsRead, [this] { waitEnded(false); });
    // Lyric data is the chip's message once the reader hands it over.
    QObject::connect(conv_.get(), &ChipConversation::messageRead, [this](const ChipMessage& m) {
        if (m.kind == ChipMessage::Kind::Lyrics) note<LyricArrived>(LyricArrived{m.firstAt});
    });
    // Closing the port hands over what the reader holds: a reply cut off
    // after the byte that names it is read as that reply.
    QObject::connect(conv_.get(), &ChipConversation::lineRecorded, [this](const LineEntry& e) {
        if (e.event != QStringLiteral("closed") || !halfReply_) return;
        note<ReplyArrived>(ReplyArrived{*halfReply_});
        halfReply_.reset();
    });
    QObject::connect(conv_.get(), &ChipConversation::exchangeClosed, [this](const Exchange& e) {
        if (e.command == Command::Baud || e.command == Command::BaudAndOutput) waitEnded(true);
    });
}

ModelRig::~ModelRig() { conv_->shutdown(); }

void ModelRig::schedule() {
    double t = clock_.now() + 0.05;
    for (size_t i = 0; i < case_.steps.size(); ++i) {
        t += case_.steps[i].delayMs / 1000.0;
        if (IsOperator(case_.steps[i].action)) {
            clock_.at(t, [this, i] {
                opsDue_.push_back(i);
                runOps();
            });
        } else {
            clock_.at(t, [this, i] {
                chipDue_.push_back(i);
                pumpChip();
            });
        }
    }
}

void ModelRig::run() {
    schedule();
    double t = clock_.now();
    lastTick_ = t;
    const double lastStep = t + 0.05 + [this] {
        double sum = 0;
        for (const Step& s : case_.steps) sum += s.delayMs / 1000.0;
        return sum;
    }();
    std::optional<double> quietSince;
    while (!quietSince || t - *quietSince < kSettleSeconds) {
        t += kTick;
        clock_.advanceTo(t);
        observe(t);
        const bool idle = t > lastStep && stepsDone_ == case_.steps.size() && chipSilent() && !conv_->holdsInput();
        if (!idle) quietSince.reset();
        else if (!quietSince) quietSince = t;
        if (t > lastStep + kGiveUpSeconds) {
            waitFaults_.push_back("the case never settled: steps or the chip's messages still due " +
                                  std::to_string(kGiveUpSeconds) + " s after the last step");
            return;
        }
    }
    if (conv_->holdsInput() || !conv_->heldInput().empty())
        waitFaults_.push_back("input still held " + std::to_string(kSettleSeconds) + " s after the last message");
}

// ---- the operator

// Steps of the operator in their order; one that may not happen yet waits,
// and those after it with it.
void ModelRig::runOps() {
    while (!opsDue_.empty()) {
        const size_t i = opsDue_.front();
        if (mustWait(case_.steps[i].action)) {
            opsAlarm_->setAt(clock_.now() + 0.001);
            return;
        }
        opsDue_.pop_front();
        perform(i);
    }
}

bool ModelRig::mustWait(const Action& action) const {
    if (undecided_ > 0 || clock_.now() < undecidedUntil_) return true;
    const auto* click = std::get_if<Click>(&action);
    const bool closesPort = std::holds_alternative<SwitchPort>(action) ||
                            (click && (click->command == Command::Baud || click->command == Command::BaudAndOutput));
    return closesPort && !chipSilent();
}

void ModelRig::submit(Input input, const std::string& what) {
    note<OperatorInput>(OperatorInput{input, what});
    doing_ = what;
    if (const auto* c = std::get_if<input::SetControls>(&input)) conv_->setControls(c->controls);
    else if (const auto* s = std::get_if<input::Send>(&input)) conv_->send(s->command);
    else if (const auto* p = std::get_if<input::ChoosePort>(&input)) conv_->choosePort(p->port);
    else if (const auto* l = std::get_if<input::SetCodeLists>(&input)) conv_->setCodeLists(l->lists);
    doing_.clear();
}

void ModelRig::perform(size_t index) {
    ++stepsDone_;
    const Action& action = case_.steps[index].action;
    std::ostringstream what;
    what << "step " << index << " at " << Seconds(clock_.now()) << " (";
    showValue(case_.steps[index], what);
    what << ")";
    if (const auto* c = std::get_if<Click>(&action)) {
        // The window has the button off while the chip sleeps.
        const bool on = !conv_->sleeping() || c->command == Command::SleepWake ||
                        c->command == Command::RawWithCheckByte || c->command == Command::RawAsTyped;
        if (on) submit(input::Send{c->command}, what.str());
    } else if (const auto* f = std::get_if<SetField>(&action)) {
        switch (f->field) {
        case Field::LyricsBack: controls_.play.lyricsBack = int16_t(f->value); break;
        case Field::FinishReport: controls_.play.finishReport = int16_t(f->value); break;
        case Field::BaudIndex: controls_.baudIndex = int16_t(f->value); break;
        case Field::Text: controls_.text = TextChoice(f->value); break;
        case Field::RawText: controls_.rawText = RawTextChoice(f->value); break;
        }
        submit(input::SetControls{controls_}, what.str());
    } else if (const auto* e = std::get_if<EditLists>(&action)) {
        submit(input::SetCodeLists{ListsChoice(e->variant)}, what.str());
    } else if (const auto* p = std::get_if<SwitchPort>(&action)) {
        submit(input::ChoosePort{p->port}, what.str());
    }
}

// ---- the chip

void ModelRig::heard(const QByteArray& frame) {
    const std::string when = doing_.empty() ? "at " + Seconds(clock_.now()) : doing_;
    journal_.push_back(Entry{Entry::Kind::Frame, frame, QString(), when});
    // Without lyrics asked for before or now, every reading is settled.
    const bool lyricsInvolved = lyricFrame_ || AsksForLyrics(frame);
    if (lyricsInvolved && (compoundUndecided_ > 0 || clock_.now() < undecidedUntil_)) note<Ambiguous>();
    ++framesHeard_;
    lyricFrame_ = AsksForLyrics(frame);
    lyricsDue_ = lyricFrame_;
    accepted_ = false;
    // A frame's last byte leaves the wire after what went before it.
    const double now = clock_.now();
    portWireFree_ = std::max(now, portWireFree_) + double(frame.size()) * CharSeconds(serial_.settings().baud);
    // The last frame's times that are up now have passed, whichever
    // alarm rang first at this moment.
    rateTimesDue();
    rateAnswerDue_ = SwitchesRate(frame);
    rateSettledAlarm_->cancel();
    rateDeadlineAlarm_->cancel();
    settlePending_ = rateAnswerDue_;
    deadlinePending_ = rateAnswerDue_;
    rateDeadline_ = -1;
    if (rateAnswerDue_) {
        rateHandedAt_ = now;
        rateDeadline_ = portWireFree_ + kAnswerDeadlineSeconds;
        rateSettledAlarm_->setAt(now + kBaudSwitchSeconds);
        rateDeadlineAlarm_->setAt(rateDeadline_);
        holdStart_ = now;  // the switch holds input from here
    }
}

// The last frame, a rate frame: its 100 ms and its answer's deadline, each
// once, when it is up.
void ModelRig::rateTimesDue() {
    const double now = clock_.now();
    if (settlePending_ && now >= rateHandedAt_ + kBaudSwitchSeconds) {
        settlePending_ = false;
        note<RateSettled>();
    }
    if (deadlinePending_ && now >= rateDeadline_) {
        deadlinePending_ = false;
        note<RateDeadline>();
    }
}

// Longer than any pause inside one message at the port's rate.
double ModelRig::quiet() const { return 12 * 10.0 / serial_.settings().baud + 0.066; }

bool ModelRig::chipSilent() const {
    return !sending_ && chipDue_.empty() && line_.nextDelivery() == sim::LineModel::kNever;
}

bool ModelRig::strayAllowed() const { return !lyricFrame_ && !(lastWasStray_ && clock_.now() < wireFree_ + quiet()); }

// The next message, once the one before has gone and the line has been
// quiet as long as it must be.
void ModelRig::pumpChip() {
    if (sending_ || chipDue_.empty()) return;
    const double ready = std::max({quietUntil_, switchUntil_, wireFree_});
    if (ready == sim::LineModel::kNever) return;  // the acceptance of a rate has still to arrive
    if (clock_.now() < ready) {
        chipAlarm_->setAt(ready);
        return;
    }
    const size_t i = chipDue_.front();
    chipDue_.pop_front();
    ++stepsDone_;
    startMessage(case_.steps[i].action);
}

void ModelRig::startMessage(const Action& action) {
    quietAfter_ = lyricFrame_;
    framesAtStart_ = framesHeard_;
    parts_ = partsOf(action);
    size_t units = 0;
    for (const Part& p : parts_)
        units += size_t(std::count_if(p.flags.begin(), p.flags.end(),
                                      [](uint8_t f) { return (f & (kReplyEnd | kLyricFirst | kStrayByte)) != 0; }));
    messages_.push_back(Message{-1, false, false, units > 1});
    sending_ = true;
    if (!parts_.empty() && parts_.front().delayBefore > 0) chipAlarm_->setAt(clock_.now() + parts_.front().delayBefore);
    else sendPart();
}

std::deque<ModelRig::Part> ModelRig::partsOf(const Action& action) {
    if (const auto* r = std::get_if<Reply>(&action)) return replyParts(*r);
    if (const auto* b = std::get_if<Burst>(&action)) return burstParts(*b);
    if (const auto* l = std::get_if<Lyrics>(&action)) return lyricParts(*l);
    std::deque<Part> parts;
    if (const auto* s = std::get_if<Stray>(&action); s && strayAllowed()) {
        parts.emplace_back();
        parts.back().add(QByteArray(1, char(kStrayBytes[s->stray])), kStrayByte | kDecided);
    }
    return parts;
}

std::deque<ModelRig::Part> ModelRig::replyParts(const Reply& r) {
    Part p;
    if (r.strayBefore != kNoStray && strayAllowed()) p.add(QByteArray(1, char(kStrayBytes[r.strayBefore])), 0);
    // After the acceptance of a frame that asked for lyrics a reply-shaped
    // triple may be a tempo code: it is a reply once the line has been quiet.
    p.addReply(r.kind, kReplyEnd | kDecided | (lyricFrame_ && accepted_ ? kQuietAfter : 0));
    if (r.strayAfter != kNoStray && !lyricFrame_)
        p.add(QByteArray(1, char(kStrayBytes[r.strayAfter])), kStrayByte | kDecided);
    return {p};
}

// Back to back; while the last frame asked for lyrics only an acceptance and
// a finish report (a play over at once, maybe a stray byte behind), else
// apart with quiet between.
std::deque<ModelRig::Part> ModelRig::burstParts(const Burst& b) {
    std::deque<Part> parts;
    const bool acceptedAndOver = lyricsDue_ && b.kinds == std::vector{reply::Kind::Accepted, reply::Kind::Finished};
    if (lyricFrame_ && !acceptedAndOver) {
        bool afterAcceptance = accepted_;
        for (reply::Kind k : b.kinds) {
            Part p;
            p.addReply(k, kReplyEnd | kDecided | (afterAcceptance ? kQuietAfter : 0));
            afterAcceptance = afterAcceptance || k == reply::Kind::Accepted;
            p.delayBefore = parts.empty() ? 0 : quiet();
            parts.push_back(p);
        }
        return parts;
    }
    Part p;
    for (reply::Kind k : b.kinds) p.addReply(k, kReplyEnd);
    if (b.strayAfter != kNoStray && (strayAllowed() || acceptedAndOver))
        p.add(QByteArray(1, char(kStrayBytes[b.strayAfter])), kStrayByte);
    // Reply-shaped bytes behind an acceptance while lyrics may come: the
    // operator waits until the line has been quiet.
    p.flags.back() |= kDecided | (lyricFrame_ ? kQuietAfter : 0);
    parts.push_back(p);
    return parts;
}

// A lyric stream the chip sends while the frame's lyrics are due: after its
// acceptance (sent again unless it came already), with a reply-shaped tempo
// code if the case says so. Otherwise lyric data of the chip's own accord.
std::deque<ModelRig::Part> ModelRig::lyricParts(const Lyrics& l) {
    std::deque<Part> parts;
    if (l.acceptFirst || (lyricsDue_ && !accepted_)) {
        Part a;
        a.addReply(reply::Kind::Accepted, kReplyEnd | kDecided | (lyricFrame_ && accepted_ ? kQuietAfter : 0));
        parts.push_back(a);
    }
    QByteArray s = StreamBytes(l, lyricsDue_);
    if (l.strayAt >= 0) s.insert(5 + l.strayAt * (s.size() - 6) / 100, char(kStrayBytes[l.stray]));
    qsizetype split = s.size();
    if (l.pauseAt >= 0) split = 12 + l.pauseAt * (s.size() - 13) / 100;
    Part head;
    head.streamStart = true;
    head.delayBefore = l.delayMs / 1000.0;
    head.add(s.left(split), split == s.size() ? kLyricEnd : 0);
    head.flags[0] |= kLyricFirst;
    head.flags[3] |= kDecided;  // the block of lines after the tempo code
    parts.push_back(head);
    if (split < s.size()) {
        Part tail;
        tail.delayBefore = l.pauseMs / 1000.0;
        tail.add(s.mid(split), kLyricEnd);
        parts.push_back(tail);
    }
    return parts;
}

void ModelRig::sendPart() {
    const double now = clock_.now();
    if (!parts_.empty() && parts_.front().streamStart && framesHeard_ != framesAtStart_)
        parts_.clear();  // a new frame came before the stream began: it never comes
    if (parts_.empty()) {
        sending_ = false;
        quietUntil_ = wireFree_ + (quietAfter_ ? quiet() : 0);
        chipAlarm_->setAt(std::max(now, quietUntil_));
        return;
    }
    const Part part = parts_.front();
    parts_.pop_front();
    if (part.streamStart) lyricsDue_ = false;
    for (size_t i = 0; i < part.flags.size(); ++i) onWire(part.flags[i], part.kinds[i]);
    wireFree_ = line_.send(part.bytes, serial_.settings().baud, now);
    lastWasStray_ = (part.flags.back() & kStrayByte) != 0;
    deliveryAlarm_->setAt(line_.nextDelivery());
    chipAlarm_->setAt(parts_.empty() ? wireFree_ : wireFree_ + parts_.front().delayBefore);
}

// A byte goes on the line: tagged for its arrival, and the chip knows what
// it has said.
void ModelRig::onWire(uint8_t flags, reply::Kind kind) {
    if ((flags & kReplyEnd) && rateAnswerDue_ && kind != reply::Kind::Finished) {
        rateAnswerDue_ = false;
        if (kind == reply::Kind::Accepted) {
            flags |= kRateAccepted;
            switchUntil_ = sim::LineModel::kNever;  // until it has arrived
        }
    }
    tags_.push_back(Tag{int(messages_.size()) - 1, flags, kind});
    if (flags & kReplyEnd) {
        if (kind == reply::Kind::Accepted) accepted_ = true;
        else lyricsDue_ = false;  // rejected, or over: no lyrics come
    }
    if (flags & kDecided) {
        ++undecided_;
        if (messages_.back().compound) ++compoundUndecided_;
    }
}

int ModelRig::closes() {
    for (; opsSeen_ < serial_.ops.size(); ++opsSeen_)
        if (serial_.ops[opsSeen_].kind == test::FakeSerial::Op::Close) ++closes_;
    return closes_;
}

// Bytes reach the port. A message the port's close cut (or that came while it
// was closed) is lost from there on.
void ModelRig::deliver() {
    const QByteArray bytes = line_.deliver(clock_.now());
    QByteArray fed;
    for (const char b : bytes) {
        const Tag tag = tags_.front();
        tags_.pop_front();
        if (arrived(tag)) fed += b;
    }
    if (!fed.isEmpty()) {
        doing_ = "the chip's bytes at " + Seconds(clock_.now());
        serial_.receive(fed);
        doing_.clear();
    }
    if (const double next = line_.nextDelivery(); next != sim::LineModel::kNever) deliveryAlarm_->setAt(next);
}

// A byte's arrival: what it completes, and whether the port takes it.
bool ModelRig::arrived(const Tag& tag) {
    Message& m = messages_[size_t(tag.message)];
    const int closed = closes();
    if (!m.cut && (!serial_.portOpen() || (m.closesAtFirst >= 0 && m.closesAtFirst != closed))) {
        m.cut = true;
        if (m.inLyrics) note<LyricCut>();
    }
    if (m.closesAtFirst < 0) m.closesAtFirst = closed;
    if (tag.flags & kDecided) {
        --undecided_;
        if (m.compound) --compoundUndecided_;
    }
    if (tag.flags & kQuietAfter) undecidedUntil_ = clock_.now() + quiet();
    if (tag.flags & kRateAccepted) {
        // The chip runs at the new rate; it speaks again once the port may
        // have followed.
        switchUntil_ = std::max(clock_.now(), rateHandedAt_ + kBaudSwitchSeconds) + 0.001;
        if (!sending_) chipAlarm_->setAt(std::max(switchUntil_, quietUntil_));
    }
    if (m.cut) return false;
    if (tag.flags & kReplyKind) halfReply_ = tag.kind;
    else halfReply_.reset();
    if (tag.flags & kLyricFirst) m.inLyrics = true;
    if (tag.flags & kLyricEnd) m.inLyrics = false;
    if (tag.flags & kReplyEnd) {
        // A reply at the very moment a rate frame's answer stops being
        // waited for may be taken either way.
        if (rateDeadline_ >= 0 && std::abs(clock_.now() - rateDeadline_) < 1e-9) note<Ambiguous>();
        note<ReplyArrived>(ReplyArrived{tag.kind});
    }
    return true;
}

// ---- what the conversation did

void ModelRig::logged(const QString& chunk) {
    const std::string when = doing_.empty() ? "at " + Seconds(clock_.now()) : doing_;
    journal_.push_back(Entry{Entry::Kind::Log, {}, chunk, when});
}

// A hold of input is looked at every tick: a rate switch may last until its
// last frame's answer is no longer waited for; a lyric wait, from the tick
// before it was seen (at most a tick early), no longer than the wait at the
// chosen rate.
void ModelRig::observe(double t) {
    if (!conv_->holdsInput()) {
        holdStart_.reset();
    } else if (!holdStart_) {
        holdStart_ = lastTick_;
    }
    if (conv_->phase() == Exchange::Phase::SwitchingBaud) {
        if (t > rateDeadline_ + 2 * kTick)
            waitFaults_.push_back("the rate switch holds input at " + Seconds(t) +
                                  ", its frame's answer deadline was " + Seconds(rateDeadline_));
    } else if (conv_->holdsInput()) {
        const double limit = LyricWaitMs(conv_->controls().baudIndex) / 1000.0;
        if (t - *holdStart_ > limit + 2 * kTick)
            waitFaults_.push_back("input held " + std::to_string(t - *holdStart_) + " s from " + Seconds(*holdStart_) +
                                  ", the lyric wait is " + std::to_string(limit) + " s");
    }
    lastTick_ = t;
}

// A lyric read ended (maybe at once, without a wait), or a rate switch's
// exchange closed.
void ModelRig::waitEnded(bool baudSwitch) {
    const double now = clock_.now();
    if (baudSwitch) {
        if (now > rateDeadline_ + 2 * kTick)
            waitFaults_.push_back("the rate switch ended at " + Seconds(now) + ", its frame's answer deadline was " +
                                  Seconds(rateDeadline_));
    } else if (conv_->holdsInput()) {
        const double start = holdStart_.value_or(lastTick_);
        const double limit = LyricWaitMs(conv_->controls().baudIndex) / 1000.0;
        if (now - start > limit + 2 * kTick)
            waitFaults_.push_back("the lyric wait ending at " + Seconds(now) + " held input " +
                                  std::to_string(now - start) + " s, its deadline is " + std::to_string(limit) + " s");
    }
    holdStart_ = now;  // a wait that follows begins here
}

}  // namespace vorla::model
