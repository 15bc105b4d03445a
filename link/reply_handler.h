// SPDX-License-Identifier: MIT
// What the window does with the chip's replies: the status label, the log,
// resending a rejected command, the playback-finished flag and lyric data.
#pragma once

#include <cstdint>

#include <QString>

#include "link/event_pump.h"
#include "link/link_state.h"
#include "link/serial_control.h"

namespace vorla {

namespace reply {
constexpr int16_t kRejected = 0x10;
constexpr int16_t kAccepted = 0x11;
constexpr int16_t kFinished = 0x12;
inline const QString kRejectedStatus = QStringLiteral("接收失败");
inline const QString kAcceptedStatus = QStringLiteral("接收成功");
inline const QString kFinishedStatus = QStringLiteral("        播放完毕");
inline const QString kRejectedLog = QStringLiteral("->0x01 0x10 0x14 接受失败");
inline const QString kAcceptedLog = QStringLiteral("->0x01 0x11 0x14 接受成功");
inline const QString kFinishedLog = QStringLiteral("->0x01 0x12 0x14 播放完毕");
constexpr int kMaxResends = 3;
constexpr int16_t kLyricLineLength = 8;
}  // namespace reply

// The status after the n-th rejection in a row: "接收失败 =  n".
QString RejectedStatus(int16_t attempt);

class ReplyHost {
public:
    virtual ~ReplyHost() = default;
    virtual void setStatus(const QString& text) = 0;
    virtual void appendLogLine(const QString& line) = 0;
    // Runs the handler that the resend table names for the command; nothing
    // for a command without one.
    virtual void resend(int16_t lastCommand) = 0;
    virtual void clearLyricLines() = 0;
    virtual void decodeLyrics(const RxText& text) = 0;
};

// How long lyric data is given to arrive, by baud-rate list index (0, no
// wait, for none).
int LyricWaitMs(int16_t baudIndex);

// One receive event. `lyricWaitMs` is how long lyric data is given to
// arrive, counted from its first characters (LyricWaitMs of the baud-rate
// choice).
void HandleComm(SerialControl& port, ReplyState& st, EventPump& pump, ReplyHost& host, int lyricWaitMs);

}  // namespace vorla
