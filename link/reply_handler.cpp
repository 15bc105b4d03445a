// SPDX-License-Identifier: MIT
#include "link/reply_handler.h"

#include <cmath>

#include "protocol/frame.h"

namespace vorla {

QString RejectedStatus(int16_t attempt) {
    return reply::kRejectedStatus + QStringLiteral(" = ") + u' ' + QString::number(attempt);
}

int LyricWaitMs(int16_t baudIndex) {
    switch (baudIndex) {
    case 0: return 9600;
    case 1: return 4800;
    case 2: return 2400;
    case 3: return 1200;
    default: return 0;
    }
}

namespace {
constexpr size_t kReplyChars = 3;
constexpr size_t kMinChars = 2;  // a lone character is dropped

// Lyric data: wait for the rest of it by the baud rate, read it and play it.
// The wait counts from the first lyric characters, however long the line
// took to deliver enough of them to be told from a bare acceptance.
void ReadAndDecodeLyrics(SerialControl& port, ReplyState& st, EventPump& pump, ReplyHost& host, const RxText& first,
                         size_t drop, int lyricWaitMs) {
    if (lyricWaitMs > 0) {
        const int ms = lyricWaitMs - int(std::lround(port.inputAge() * 1000.0));
        if (ms > 0) pump.blockingWait(ms);
    }
    if (pump.stopping()) return;
    st.LyricMark = pump.now();
    const RxText rest = port.inputMore();
    st.ReplyText.assign(first.begin() + qsizetype(std::min(drop, first.size())), first.end());
    st.ReplyText.insert(st.ReplyText.end(), rest.begin(), rest.end());
    host.decodeLyrics(st.ReplyText);
}
}  // namespace

void HandleComm(SerialControl& port, ReplyState& st, EventPump& pump, ReplyHost& host, int lyricWaitMs) {
    if (port.commEvent() != kCommEventReceive) return;
    const RxText first = port.input();
    if (first.size() < kMinChars) return;
    switch (first[1].code) {
    case reply::kRejected:
        host.setStatus(RejectedStatus(int16_t(st.RetryCount + 1)));
        host.appendLogLine(reply::kRejectedLog);
        if (st.RetryCount >= reply::kMaxResends) {
            st.RetryCount = 0;
            return;
        }
        if (st.LastCommand == kCodePlaybackCommand) {
            if (st.SequenceDone == 1) {
                host.setStatus(QString());
            } else {
                st.ResumePending = 1;
                st.SequenceDone = 0;
            }
        } else {
            host.resend(st.LastCommand);
        }
        st.RetryCount = int16_t(st.RetryCount + 1);
        return;
    case reply::kAccepted:
        st.RetryCount = 0;
        host.setStatus(reply::kAcceptedStatus);
        host.appendLogLine(reply::kAcceptedLog);
        if (first.size() <= rx::kBareAcceptanceMaxChars) return;
        ReadAndDecodeLyrics(port, st, pump, host, first, kReplyChars, lyricWaitMs);
        return;
    case reply::kFinished:
        st.RetryCount = 0;
        st.PlaybackFinished = 1;
        host.setStatus(reply::kFinishedStatus);
        host.appendLogLine(reply::kFinishedLog);
        host.clearLyricLines();
        return;
    default:
        st.RetryCount = 0;
        ReadAndDecodeLyrics(port, st, pump, host, first, 0, lyricWaitMs);
        return;
    }
}

}  // namespace vorla
