// SPDX-License-Identifier: MIT
#include "conversation/lyric_player.h"

namespace vorla {

LyricPlayer::LyricPlayer(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), alarm_(clock.makeAlarm([this] {
          // The next wait counts from the scheduled time, not from when this
          // one rang, so wake-up latency does not add up over a song.
          mark_ = deadline_;
          run();
      })) {}

void LyricPlayer::play(const RxText& stream, double mark) {
    alarm_->cancel();
    steps_ = LyricScript(stream);
    next_ = 0;
    mark_ = mark;
    playing_ = true;
    ++run_;
    run();
}

void LyricPlayer::stop() {
    alarm_->cancel();
    playing_ = false;
    ++run_;
}

void LyricPlayer::run() {
    using Kind = LyricStep::Kind;
    const unsigned self = run_;
    while (playing_ && self == run_ && next_ < steps_.size()) {
        const LyricStep s = steps_[next_++];  // a copy: a slot may replace the steps
        switch (s.kind) {
        case Kind::ShowLine: emit lineShown(s.box, s.text); break;
        case Kind::ClearSelections:
        case Kind::RemoveHighlight:
            emit selectionCleared(2);
            emit selectionCleared(1);
            break;
        case Kind::Highlight: emit highlighted(s.box, s.start, 1); break;
        case Kind::Wait: {
            const double now = clock_.now();
            deadline_ = mark_ + s.seconds;
            if (deadline_ > now) {
                alarm_->setAt(deadline_);
                return;
            }
            // Already due: no wait, and the schedule starts again from now.
            mark_ = now;
            break;
        }
        }
    }
    if (self == run_ && next_ >= steps_.size()) playing_ = false;
}

}  // namespace vorla
