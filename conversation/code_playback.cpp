// SPDX-License-Identifier: MIT
#include "conversation/code_playback.h"

#include <algorithm>

namespace vorla {

void CodePlayer::start(const Lists& lists) {
    running_ = true;
    finished_ = true;  // the first code goes out at once
    order_.clear();
    for (int k = 0; k < kCodeLists; ++k)
        if (lists[size_t(k)] && lists[size_t(k)]->listCount() > 0) order_.push_back(k);
    if (resumePending_) resumePending_ = false;
    else position_ = 0;
    next_ = size_t(std::max<int16_t>(position_, 0));
}

std::optional<int> CodePlayer::due() const {
    if (!running_ || !finished_ || next_ >= order_.size()) return std::nullopt;
    return order_[next_];
}

void CodePlayer::sent() {
    position_ = int16_t(position_ + 1);
    finished_ = false;
    ++next_;
}

bool CodePlayer::rejected() {
    if (sequenceDone_) return false;
    resumePending_ = true;
    return true;
}

void CodePlayer::end() {
    running_ = false;
    for (auto& s : snapshots_) s.reset();
    position_ = 0;
    sequenceDone_ = true;
}

void CodePlayer::takeSnapshot(int code, const PlayHeader& header) {
    if (code >= 0 && code < kCodeLists) snapshots_[size_t(code)] = header;
}

}  // namespace vorla
