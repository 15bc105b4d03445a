// SPDX-License-Identifier: MIT
#include "codes/code_playback.h"

#include <algorithm>

namespace vorla {

bool CodePlayer::SendCodeFrame(int k) {
    const Frame frame = CodeFrame(FrameEnds{st_.FrameHead, st_.FrameTail}, host_.codeList(k), st_.CodeParams[size_t(k)],
                                  host_.currentSettings(), st_.MaxTextBytes);
    st_.CheckByte = frame.checkByte();
    st_.FrameLastIndex = frame.lastIndex();
    return host_.sendCodeFrame(frame);
}

void CodePlayer::StartRun() {
    st_.LastCommand = kCodePlaybackCommand;
    st_.PlaybackFinished = 1;
    order_.clear();
    for (int k = 0; k < kCodeLists; ++k)
        if (host_.codeList(k).listCount() > 0) order_.push_back(k);
    if (st_.ResumePending != 0) st_.ResumePending = 0;
    else st_.CodePosition = 0;
    next_ = size_t(std::max<int16_t>(st_.CodePosition, 0));
}

void CodePlayer::Play() {
    StartRun();
    if (running_) {
        // The run waiting below takes up the new one.
        replaced_ = true;
        return;
    }
    running_ = true;
    replaced_ = false;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } runningGuard{running_};

    while (next_ < order_.size()) {
        host_.clearLyricLines();
        if (!AwaitReport()) {
            if (pump_.stopping()) return;
            if (replaced_) {
                replaced_ = false;
                continue;
            }
            break;  // another command ended the run
        }
        // A code that cannot be sent has been reported; the run ends there.
        if (!SendCodeFrame(order_[next_])) break;
        st_.CodePosition = int16_t(st_.CodePosition + 1);
        st_.PlaybackFinished = 0;
        ++next_;
    }
    EndRun();
}

bool CodePlayer::AwaitReport() {
    while (st_.PlaybackFinished == 0) {
        pump_.waitForEvents(EventPump::kNoDeadline);
        if (pump_.stopping() || replaced_ || st_.LastCommand != kCodePlaybackCommand) return false;
    }
    return !replaced_;
}

void CodePlayer::EndRun() {
    for (CodeParamRecord& record : st_.CodeParams) record[0] = 0;
    st_.CodePosition = 0;
    st_.SequenceDone = 1;
}

}  // namespace vorla
