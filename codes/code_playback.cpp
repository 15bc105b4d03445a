#include "codes/code_playback.h"

#include <vector>

namespace vorla {

bool CodePlayer::SendCodeFrame(int k) {
    st_.CheckByte = 0;
    BuildCodeFrame(st_, host_.codeList(k), st_.CodeParams[size_t(k)], host_.currentSettings());
    return host_.sendCodeFrame();
}

void CodePlayer::play() {
    const unsigned run = ++currentRun_;
    ++depth_;
    struct Depth {
        int& d;
        ~Depth() { --d; }
    } depthGuard{depth_};

    st_.LastCommand = cmd::kCodePlayback;
    st_.PlaybackFinished = 1;
    std::vector<int> order;
    for (int k = 0; k < kCodeLists; ++k)
        if (host_.codeList(k).listCount() > 0) order.push_back(k);
    if (st_.ResumePending != 0) st_.ResumePending = 0;
    else st_.CodePosition = 0;

    for (size_t i = size_t(std::max<int16_t>(st_.CodePosition, 0)); i < order.size(); ++i) {
        host_.clearLyricLines();
        while (st_.PlaybackFinished == 0) {
            pump_.waitForEvents(EventPump::kNoDeadline);
            if (run != currentRun_ || pump_.stopping()) return;  // replaced, or the program ends
            if (st_.LastCommand != cmd::kCodePlayback) goto endOfRun;
        }
        if (run != currentRun_) return;
        if (!SendCodeFrame(order[i])) return;  // reported; the run stops where it is
        st_.CodePosition = int16_t(st_.CodePosition + 1);
        st_.PlaybackFinished = 0;
    }
endOfRun:
    for (CodeParamRecord& record : st_.CodeParams) record[0] = 0;
    st_.CodePosition = 0;
    st_.SequenceDone = 1;
}

}  // namespace vorla
