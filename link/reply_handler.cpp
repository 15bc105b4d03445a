#include "link/reply_handler.h"

#include "protocol/frame.h"

namespace vorla {

QString RejectedStatus(int16_t attempt) {
    return reply::kRejectedStatus + QStringLiteral(" = ") + u' ' + QString::number(attempt);
}

bool ResendsByHandler(int16_t lastCommand) {
    switch (lastCommand) {
    case cmd::kStop:
    case cmd::kMusic:
    case cmd::kPhrase:
    case cmd::kPoem:
    case cmd::kText:
    case cmd::kBaud:
    case cmd::kSleepWake:
    case cmd::kSound:
    case cmd::kOutputMode:
    case cmd::kBaudAndOutput:
    case cmd::kRawAutoCheck:
    case cmd::kRawManualCheck: return true;
    default: return false;
    }
}

namespace {
// Lyric data: wait for the rest of it by the baud rate, read it and play it.
void ReadAndDecodeLyrics(SerialControl& port, WindowState& st, EventPump& pump, ReplyHost& host,
                         const RxText& first, size_t drop) {
    if (const int ms = LyricWaitMs(host.baudIndex()); ms > 0) pump.blockingWait(ms);
    if (pump.stopping()) return;
    st.LyricMark = pump.now();
    const RxText rest = port.input();
    st.ReplyText.assign(first.begin() + qsizetype(std::min(drop, first.size())), first.end());
    st.ReplyText.insert(st.ReplyText.end(), rest.begin(), rest.end());
    host.decodeLyrics(st.ReplyText);
}
}  // namespace

void HandleComm(SerialControl& port, WindowState& st, EventPump& pump, ReplyHost& host) {
    if (port.commEvent() != kCommEventReceive) return;
    const RxText first = port.input();
    if (first.size() < 2) return;
    switch (first[1].code) {
    case reply::kRejected:
        host.setStatus(RejectedStatus(int16_t(st.RetryCount + 1)));
        host.appendLogLine(reply::kRejectedLog);
        if (st.RetryCount >= reply::kMaxResends) {
            st.RetryCount = 0;
            return;
        }
        if (st.LastCommand == cmd::kCodePlayback) {
            if (st.SequenceDone == 1) {
                host.setStatus(QString());
            } else {
                st.ResumePending = 1;
                st.SequenceDone = 0;
            }
        } else if (ResendsByHandler(st.LastCommand)) {
            host.resend(st.LastCommand);
        }
        st.RetryCount = int16_t(st.RetryCount + 1);
        return;
    case reply::kAccepted:
        st.RetryCount = 0;
        host.setStatus(reply::kAcceptedStatus);
        host.appendLogLine(reply::kAcceptedLog);
        if (first.size() <= 10) return;
        ReadAndDecodeLyrics(port, st, pump, host, first, 3);
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
        ReadAndDecodeLyrics(port, st, pump, host, first, 0);
        return;
    }
}

}  // namespace vorla
