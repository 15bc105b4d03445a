// SPDX-License-Identifier: MIT
// Where playing the four code lists stands: which codes a run plays, the
// next one due, whether the chip has reported the end of the one before,
// and the parameter snapshots a run uses. The conversation with the chip
// sends the codes as they come due; nothing here waits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "conversation/code_lists.h"
#include "conversation/list_box.h"
#include "protocol/frame.h"

namespace vorla {

class CodePlayer {
public:
    using Lists = std::array<const ListBox*, kCodeLists>;

    // Play: a new run of the lists that hold items now, in place of any
    // run that waits. It starts at the first code, or, after a code frame of
    // a waiting run was rejected, at the code after it.
    void start(const Lists& lists);
    bool running() const { return running_; }
    // The code list whose frame is due now; nothing while the run waits for
    // the chip's finish report, or once it has sent its last code.
    std::optional<int> due() const;
    bool done() const { return running_ && next_ >= order_.size(); }
    // The code that was due has been sent: the next waits for a report.
    void sent();
    // The chip reported the end of a play.
    void finishReported() { finished_ = true; }
    // A code frame was rejected: a waiting run resumes after it at the next
    // Play, until a first run has ended. False when there is nothing to
    // resume: then the status is emptied.
    bool rejected();
    // The run ends: its snapshots are dropped, the next starts afresh.
    void end();

    // A code's parameter snapshot: the header its frame is sent with.
    void takeSnapshot(int code, const PlayHeader& header);
    const std::optional<PlayHeader>& snapshot(int code) const { return snapshots_[size_t(code) & 3]; }

private:
    std::vector<int> order_;
    size_t next_ = 0;  // index in order_ of the next code to send
    int16_t position_ = 0;
    bool running_ = false;
    bool finished_ = false;
    bool resumePending_ = false;
    bool sequenceDone_ = false;
    std::array<std::optional<PlayHeader>, kCodeLists> snapshots_{};
};

}  // namespace vorla
