// SPDX-License-Identifier: MIT
#include "sim/replay.h"

#include <algorithm>

#include "protocol/frame.h"
#include "protocol/frame_words.h"
#include "protocol/hex_text.h"

namespace vorla::sim {

namespace {
// Where a frame the tool is sending ends in `bytes`: after its tail and
// check byte; 0 while it has not.
qsizetype FrameEnd(const QByteArray& bytes) {
    for (qsizetype i = 4; i + 1 < bytes.size(); ++i)
        if (uint8_t(bytes[i]) == kFrameTail) return i + 2;
    return 0;
}

QString InWords(const QByteArray& frame) {
    return QStringLiteral("%1 (%2)").arg(HexBytes(frame), DescribeFrame(frame));
}
}  // namespace

Replay::Replay(const capture::Capture& capture, Options options) : options_(options) {
    if (options_.speed <= 0) options_.speed = 1;
    Exchange opening;  // what the chip sent before the tool's first frame
    script_.push_back(opening);
    double frameAt = capture.packets.empty() ? 0 : double(capture.packets.front().micros) * 1e-6;
    int baud = 0;
    int number = 0;
    for (const capture::Packet& p : capture.packets) {
        ++number;
        const double at = double(p.micros) * 1e-6;
        if (p.direction == capture::Direction::None) {
            if (const int b = capture::EventBaud(p.comment)) baud = b;
            continue;
        }
        if (p.direction == capture::Direction::Out) {
            script_.push_back(Exchange{p.bytes, number, baud, {}});
            frameAt = at;
            continue;
        }
        script_.back().answer.emplace_back(std::max(0.0, at - frameAt) / options_.speed, p.bytes);
    }
}

void Replay::hear(const QByteArray& bytes, double now, int baud) {
    if (!stopped_.isEmpty()) return;
    heard_ += bytes;
    lastHeard_ = now;
    for (qsizetype end = FrameEnd(heard_); end > 0 && stopped_.isEmpty(); end = FrameEnd(heard_)) {
        const QByteArray frame = heard_.left(end);
        heard_.remove(0, end);
        frameHeard(frame, now, baud);
    }
}

void Replay::poll(double now) {
    if (heard_.isEmpty() || !stopped_.isEmpty() || now < lastHeard_ + kQuietSeconds) return;
    const QByteArray frame = heard_;
    heard_.clear();
    frameHeard(frame, now, 0);
}

void Replay::frameHeard(const QByteArray& frame, double now, int baud) {
    if (!started_) {
        // What the chip sent before the first frame was sent at once.
        started_ = true;
        for (const auto& [after, bytes] : script_.front().answer) due_.emplace_back(now, bytes);
        script_.pop_front();
    }
    if (script_.empty()) {
        if (options_.strict)
            return stop(QStringLiteral("the tool sent %1, and the capture has no more frames").arg(InWords(frame)));
        notes_ << QStringLiteral("no recorded answer left for %1").arg(InWords(frame));
        return;
    }
    // What the capture had the chip send before this frame still goes first.
    for (auto& d : due_) d.first = std::min(d.first, now);
    const Exchange exchange = script_.front();
    script_.pop_front();
    if (options_.strict && frame != exchange.frame) {
        return stop(QStringLiteral("the frame at packet %1 of the capture differs:\n  recorded %2\n  sent     %3")
                        .arg(QString::number(exchange.packet), InWords(exchange.frame), InWords(frame)));
    }
    if (options_.strict && baud != 0 && exchange.baud != 0 && baud != exchange.baud) {
        return stop(QStringLiteral("packet %1: the tool's port is at %2 baud, the capture's at %3")
                        .arg(exchange.packet)
                        .arg(baud)
                        .arg(exchange.baud));
    }
    notes_ << QStringLiteral("packet %1: %2").arg(exchange.packet).arg(DescribeFrame(frame));
    for (const auto& [after, bytes] : exchange.answer) due_.emplace_back(now + after, bytes);
}

void Replay::stop(const QString& why) {
    stopped_ = why;
    due_.clear();
    notes_ << QStringLiteral("replay stopped: ") + why;
}

QByteArray Replay::takeDue(double now) {
    QByteArray out;
    while (!due_.empty() && due_.front().first <= now) {
        out += due_.front().second;
        due_.pop_front();
    }
    return out;
}

double Replay::nextDue() const {
    double next = due_.empty() ? kNever : due_.front().first;
    if (!heard_.isEmpty()) next = std::min(next, lastHeard_ + kQuietSeconds);
    return next;
}

QStringList Replay::takeNotes() { return std::exchange(notes_, {}); }

}  // namespace vorla::sim
