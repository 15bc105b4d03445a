// SPDX-License-Identifier: MIT
// A capture replayed as a chip: the recorded answer at its recorded gap,
// a strict replay stopped by a frame that differs or a port at another rate,
// a lenient one answering whatever comes.
#include <gtest/gtest.h>

#include "sim/replay.h"
#include "support/hex.h"

using namespace vorla;
using namespace vorla::sim;
using namespace vorla::test;

namespace {
const QByteArray kStop = Hex("01 C0 80 80 04 C5");
const QByteArray kWake = Hex("01 80 80 80 04 85");
const QByteArray kAccepted = Hex("01 11 14");

capture::Capture Recorded() {
    using capture::Direction;
    capture::Capture c;
    c.interfaces = {capture::Interface{QStringLiteral("COM1"), QString()}};
    c.packets = {{1'000'000, 0, Direction::None, {}, capture::SettingsEvent(QStringLiteral("9600,N,8,1"))},
                 {1'000'000, 0, Direction::Out, kStop, {}},
                 {1'040'000, 0, Direction::In, kAccepted, {}},
                 {2'000'000, 0, Direction::Out, kWake, {}},
                 {2'010'000, 0, Direction::In, Hex("01"), {}},
                 {2'012'000, 0, Direction::In, Hex("11 14"), {}}};
    return c;
}
}  // namespace

TEST(Replay, AnswersAtTheRecordedGapsStrictOrLenient) {
    struct Case {
        const char* name;
        bool strict;
        double speed;
        QByteArray second;  // the tool's second frame
        int secondBaud;
        QByteArray answered;   // all the replay sent
        const char* stopWith;  // in the reason; nullptr: not stopped
    };
    const Case cases[] = {
        {"the same frames", true, 1, kWake, 9600, kAccepted + kAccepted, nullptr},
        {"twice as fast", true, 2, kWake, 9600, kAccepted + kAccepted, nullptr},
        {"another frame, strict", true, 1, kStop, 9600, kAccepted,
         "packet 4 of the capture differs:\n  recorded 01 80 80 80 04 85 (唤醒)\n  sent     01 C0 80 80 04 C5 (停止)"},
        {"another frame, lenient", false, 1, kStop, 9600, kAccepted + kAccepted, nullptr},
        {"another rate, strict", true, 1, kWake, 1200, kAccepted, "at 1200 baud, the capture's at 9600"},
    };
    for (const Case& c : cases) {
        Replay replay(Recorded(), Replay::Options{c.strict, c.speed});
        QByteArray sent;
        replay.hear(kStop.left(2), 10.0, 9600);  // a frame read in two pieces
        replay.hear(kStop.mid(2), 10.001, 9600);
        EXPECT_TRUE(replay.takeDue(10.001 + 0.04 / c.speed - 0.001).isEmpty()) << c.name;  // not before its gap
        sent += replay.takeDue(10.001 + 0.04 / c.speed + 1e-6);
        EXPECT_EQ(sent, kAccepted) << c.name;
        replay.hear(c.second, 20.0, c.secondBaud);
        sent += replay.takeDue(20.0 + 0.012 / c.speed - 0.001);
        sent += replay.takeDue(20.0 + 0.012 / c.speed + 1e-6);
        EXPECT_EQ(sent, c.answered) << c.name;
        EXPECT_EQ(replay.stopped().contains(QString::fromUtf8(c.stopWith ? c.stopWith : "\x01")), c.stopWith != nullptr)
            << c.name << ": " << replay.stopped().toStdString();
        EXPECT_EQ(replay.nextDue(), Replay::kNever) << c.name;
    }
}

TEST(Replay, AFrameWithoutATailEndsAfterQuiet) {
    Replay replay(Recorded(), Replay::Options{true, 1});
    replay.hear(Hex("01 C0 80 80 05 C4"), 10.0, 9600);  // no tail: waits for quiet
    EXPECT_DOUBLE_EQ(replay.nextDue(), 10.0 + Replay::kQuietSeconds);
    replay.poll(10.0 + Replay::kQuietSeconds);
    EXPECT_TRUE(replay.stopped().contains(QStringLiteral("没有帧尾的数据"))) << replay.stopped().toStdString();
}

TEST(Replay, ServesOneInterfaceOfAStationsCapture) {
    // Slots A and B each with their line; C without packets.
    capture::Capture station = Recorded();
    capture::Capture b = Recorded();
    station.interfaces = {{QStringLiteral("A"), {}}, {QStringLiteral("B"), {}}, {QStringLiteral("C"), {}}};
    for (capture::Packet p : b.packets) {
        p.interface = 1;
        p.micros += 500;
        station.packets.push_back(p);
    }
    const struct {
        QString name;
        int packets;  // -1: refused
        const char* why;
    } cases[] = {
        {QStringLiteral("B"), 6, ""},
        {QStringLiteral("C"), 0, ""},
        {QStringLiteral("D"), -1, "the capture has no interface D (it has A, B, C)"},
        {QString(), -1, "the capture holds the lines of A, B: choose one with --interface NAME"},
    };
    for (const auto& c : cases) {
        QString why;
        const auto line = capture::LineOf(station, c.name, &why);
        EXPECT_EQ(why.toStdString(), c.why) << c.name.toStdString();
        if (c.packets < 0) continue;
        ASSERT_TRUE(line);
        ASSERT_EQ(line->interfaces.size(), 1u);
        EXPECT_EQ(line->interfaces[0].name, c.name);
        ASSERT_EQ(int(line->packets.size()), c.packets);
        for (const capture::Packet& p : line->packets) EXPECT_EQ(p.interface, 0u);
    }
    // B's line replayed answers B's frames as recorded.
    Replay replay(*capture::LineOf(station, QStringLiteral("B"), nullptr), Replay::Options{});
    replay.hear(kStop, 10, 9600);
    EXPECT_EQ(replay.takeDue(11), kAccepted);
    EXPECT_TRUE(replay.stopped().isEmpty());
}
