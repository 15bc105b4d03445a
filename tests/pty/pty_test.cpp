// SPDX-License-Identifier: MIT
// The real serial layer on a pseudo-terminal made by the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <thread>

#include "protocol/chip_reader.h"
#include "sim/lyric_pieces.h"

#include "chip_rig.h"

using namespace vorla;
using namespace vorla::test;

TEST(PseudoTerminal, FrameOutReplyInWholeAndUnplugReportedOnce) {
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    PortMap map;
    map.setDevice(1, pty.slave);
    QtClock clock;
    QtSerialControl port(map, clock);
    ChipConversation conv(port);
    int events = 0;
    QByteArray replyBytes;
    QObject::connect(&port, &SerialControl::commEventRaised, [&] { ++events; });

    conv.send(Command::Stop);
    ASSERT_TRUE(port.portOpen());
    QByteArray got;
    ASSERT_TRUE(Spin(2000, [&] { return (got += pty.read()).size() >= 6; }));
    EXPECT_EQ(ToHex(got), "01 C0 80 80 04 C5");

    // A reply written a byte at a time, 4 ms apart (quicker than the quiet
    // time at 1200 baud), raises one event carrying all three bytes.
    for (const char* b : {"01", "11", "14"}) {
        pty.write(Hex(b));
        QThread::usleep(4000);
    }
    ASSERT_TRUE(Spin(2000, [&] { return events > 0; }));
    Spin(100, [] { return false; });
    EXPECT_EQ(events, 1);
    EXPECT_EQ(conv.status(), QStringLiteral("接收成功"));

    // The other side vanishes: one report, the port closed, no busy loop.
    int faults = 0;
    QObject::connect(&port, &SerialControl::faulted, [&] { ++faults; });
    pty.closeMaster();
    ASSERT_TRUE(Spin(2000, [&] { return faults > 0; }));
    Spin(200, [] { return false; });
    EXPECT_EQ(faults, 1);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(conv.status(), QStringLiteral("COM1 连接中断"));
    EXPECT_TRUE(conv.log().text().endsWith(
        QStringLiteral("COM1 (%1) 连接中断：设备已断开或拔出，端口已关闭\r\n").arg(pty.slave)));
}

TEST(PseudoTerminal, MissingDeviceThenItAppears) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("chip"));
    PortMap map;
    map.setDevice(1, link);
    QtClock clock;
    QtSerialControl port(map, clock);
    ChipConversation conv(port);

    Controls controls;
    controls.text = QStringLiteral("欢迎");
    conv.setControls(controls);
    conv.send(Command::Text);  // logs first, then cannot open
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(conv.status(), QStringLiteral("COM1 打开失败"));
    EXPECT_TRUE(conv.log().text().endsWith(QStringLiteral("COM1 (%1) 打开失败：设备不存在\r\n").arg(link)));

    Pty pty;
    ASSERT_TRUE(QFile::link(pty.slave, link));
    conv.send(Command::Music);
    ASSERT_TRUE(port.portOpen());
    QByteArray got;
    ASSERT_TRUE(Spin(2000, [&] { return (got += pty.read()).size() >= 8; }));
    EXPECT_EQ(ToHex(got), "01 80 80 80 60 B0 04 55");  // the controls' defaults
}

TEST(PseudoTerminal, BaudRateChangeDrainsThenReopensAtTheNewRate) {
    Pty pty;
    PortMap map;
    map.setDevice(1, pty.slave);
    QtClock clock;
    QtSerialControl port(map, clock);
    ChipConversation conv(port);
    Controls controls;
    controls.baudIndex = 3;
    conv.setControls(controls);
    conv.send(Command::Baud);
    QByteArray got;
    ASSERT_TRUE(Spin(2000, [&] { return (got += pty.read()).size() >= 6; }));
    EXPECT_EQ(ToHex(got), "01 88 80 80 04 8D");
    pty.write(Hex("01 11 14"));  // the chip accepts it: the port follows
    ASSERT_TRUE(Spin(2000, [&] { return !conv.holdsInput(); }));
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.settings(), LineSettings{9600});
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_TRUE(conv.log().text().startsWith(QStringLiteral("发出一帧，字节数  6")));
}

// A new rate and a close wait for what was queued to leave as states of the
// port, never holding the caller: a frame given meanwhile follows the queued
// bytes at the new rate, a close loses nothing, and opening the device again
// before it has finished takes it back.
TEST(PseudoTerminal, DrainBeforeANewRateOrACloseIsAState) {
    Pty pty;
    PortMap map;
    map.setDevice(1, pty.slave);
    QtClock clock;
    QtSerialControl port(map, clock);
    const auto speed = [&] {
        termios tio{};
        return tcgetattr(pty.master, &tio) == 0 ? cfgetospeed(&tio) : speed_t(0);
    };
    const QByteArray blob(256 * 1024, 'x');  // more than the line holds while nobody reads
    const QByteArray frame = Hex("01 C0 80 80 04 C5");
    const auto readAll = [&](qsizetype size) {
        QByteArray got;
        Spin(10000, [&] { return (got += pty.read()).size() >= size; });
        return got;
    };
    ASSERT_TRUE(port.setPortOpen(true));
    ASSERT_TRUE(port.output(blob));
    ASSERT_TRUE(port.setSettings(LineSettings{9600}));
    ASSERT_TRUE(port.output(frame));
    EXPECT_EQ(port.settings(), LineSettings{9600});
    EXPECT_EQ(speed(), speed_t(B1200));  // not yet: the blob is still on its way
    QByteArray got = readAll(blob.size() + frame.size());
    EXPECT_EQ(got.size(), blob.size() + frame.size());
    EXPECT_TRUE(got.endsWith(frame));
    EXPECT_EQ(speed(), speed_t(B9600));

    ASSERT_TRUE(port.output(blob));
    ASSERT_TRUE(port.setPortOpen(false));
    EXPECT_FALSE(port.portOpen());
    ASSERT_TRUE(port.setPortOpen(true));  // taken back while it drains
    ASSERT_TRUE(port.output(frame));
    got = readAll(blob.size() + frame.size());
    EXPECT_EQ(got.size(), blob.size() + frame.size());
    EXPECT_TRUE(got.endsWith(frame));
}

// ---- Replies as real lines deliver them

namespace {

double SecondsSince(SteadyClock::time_point t) { return std::chrono::duration<double>(SteadyClock::now() - t).count(); }

// Bytes paced at `every` seconds in pieces of `size`.
std::vector<std::pair<double, QByteArray>> Paced(const QByteArray& bytes, qsizetype size, double every) {
    std::vector<std::pair<double, QByteArray>> pieces;
    for (qsizetype i = 0; i < bytes.size(); i += size)
        pieces.emplace_back(double(i / size) * every, bytes.mid(i, size));
    return pieces;
}

const QByteArray kAccepted = QByteArray("\x01\x11\x14", 3);
const QString kAcceptedLog = QStringLiteral("->0x01 0x11 0x14 接受成功\r\n");
const QString kFinishedLog = QStringLiteral("->0x01 0x12 0x14 播放完毕\r\n");

}  // namespace

TEST(RealLine, TwoRepliesInOneReadAreBothHandled) {
    PtyRig r(1200);
    r.window->Command6_Click();
    SteadyClock::time_point t0;
    r.write({{0, kAccepted + QByteArray("\x01\x12\x14", 3)}}, &t0).join();
    ASSERT_TRUE(Spin(1000, [&] { return r.log().contains(kFinishedLog); })) << r.log().toStdString();
    EXPECT_TRUE(r.log().endsWith(kAcceptedLog + kFinishedLog));
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("        播放完毕"));
}

TEST(RealLine, AcceptanceAndLyricsInFifoGroupsAt2400KeepTheirStart) {
    PtyRig r(2400);
    r.ui().Combo2->setEditText(QStringLiteral("-"));  // no lyric wait: read at once
    r.ui().Check5->setChecked(true);
    r.window->Command3_Click();
    SteadyClock::time_point t0;
    std::jthread line = r.write(Paced(kAccepted + sim::LyricStream(0, 20.0), 8, 0.033), &t0);
    ASSERT_TRUE(Spin(3000, [&] { return !r.lines.empty(); }));
    line.join();
    EXPECT_EQ(r.lines.front(), QStringLiteral("静夜思"));
    EXPECT_TRUE(r.log().contains(kAcceptedLog));
}

TEST(RealLine, ReplySplitTenMillisecondsApartAt9600) {
    PtyRig r(9600);
    r.ui().Combo2->setCurrentIndex(3);
    r.window->Command1_Click();
    SteadyClock::time_point t0;
    // The window's thread keeps running while the line writes.
    std::jthread line = r.write({{0, QByteArray("\x01", 1)}, {0.010, QByteArray("\x11\x14", 2)}}, &t0);
    ASSERT_TRUE(Spin(1000, [&] { return r.log().contains(kAcceptedLog); })) << r.log().toStdString();
    EXPECT_LT(SecondsSince(t0), 0.5);  // no lyric wait
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收成功"));
}

TEST(RealLine, LyricStreamByteByByteAt1200IsShownFromItsFirstBytes) {
    PtyRig r(1200);
    r.ui().Combo2->setCurrentIndex(3);  // a lyric wait of 1.2 s
    r.ui().Check5->setChecked(true);
    r.window->Command3_Click();
    const QByteArray stream = sim::LyricStream(0, 20.0);  // sung fast, sent at the line rate
    ASSERT_GT(stream.size(), 60);                         // most of a second on the line
    SteadyClock::time_point t0;
    double acceptedAfter = -1;
    QObject::connect(&r.conv().log(), &FrameLog::appended, [&](const QString& chunk) {
        if (chunk.contains(QStringLiteral("接受成功"))) acceptedAfter = SecondsSince(t0);
    });
    std::jthread line = r.write(Paced(kAccepted + stream, 1, CharSeconds(1200)), &t0);
    ASSERT_TRUE(Spin(5000, [&] { return !r.lines.empty(); }));
    const double shownAfter = std::chrono::duration<double>(r.firstLine - t0).count();
    line.join();
    // The acceptance is shown as soon as its third byte is in, long before
    // the stream has arrived whole; the lyrics once the lyric wait, counted
    // from the first lyric byte (3 characters in), is over, never before.
    // (The wait's exact length is checked on the virtual clock; a loaded
    // machine only adds to these.)
    EXPECT_GE(acceptedAfter, 2 * CharSeconds(1200) - 0.002);  // its third byte goes two character times after the first
    EXPECT_LT(acceptedAfter, 11 * CharSeconds(1200));
    EXPECT_GE(shownAfter, 1.2 + 3 * CharSeconds(1200) - 0.002);
    EXPECT_EQ(r.lines.front(), QStringLiteral("静夜思"));
}

TEST(RealLine, AByteHeldAtAnUnplugIsNotGluedToTheNextReply) {
    PtyRig r(1200);
    r.ui().Combo2->setCurrentIndex(3);
    r.window->Command1_Click();
    SteadyClock::time_point t0;
    r.write({{0, QByteArray("\x01", 1)}}, &t0).join();
    Settle(5);  // read by the port, well before a reply's end could be awaited
    r.pty->closeMaster();
    ASSERT_TRUE(Spin(2000, [&] { return r.log().contains(QStringLiteral("连接中断")); }));
    r.replug();
    r.window->Command1_Click();
    r.write({{0, kAccepted}}, &t0).join();
    ASSERT_TRUE(Spin(1000, [&] { return r.log().contains(kAcceptedLog); })) << r.log().toStdString();
    EXPECT_LT(SecondsSince(t0), 0.5);
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收成功"));
}

TEST(RealLine, FinishReportRightAfterTheLyricsEndIsAReply) {
    PtyRig r(9600);
    r.ui().Combo2->setCurrentIndex(3);
    r.ui().Check5->setChecked(true);
    r.window->Command3_Click();
    SteadyClock::time_point t0;
    // A short song: its stream, and the finish report straight after the end code.
    const QByteArray stream = Hex("01 00 24 05 BA C3 06 BA C3 20 08 BA C3 21 04");
    r.write({{0, kAccepted + stream + QByteArray("\x01\x12\x14", 3)}}, &t0).join();
    ASSERT_TRUE(Spin(3000, [&] { return r.log().contains(kFinishedLog); })) << r.log().toStdString();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("        播放完毕"));
}

// Line noise and pauses where a new user meets them.
TEST(RealLine, AStrayByteBeforeAReplyIsDroppedAndTheReplyShown) {
    PtyRig r(1200);
    r.window->Command1_Click();
    SteadyClock::time_point t0;
    // A glitch as the chip powers up, then its acceptance 20 ms later.
    r.write({{0, Hex("7E")}, {0.020, kAccepted}}, &t0).join();
    ASSERT_TRUE(Spin(1000, [&] { return r.log().contains(kAcceptedLog); })) << r.log().toStdString();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收成功"));
    EXPECT_FALSE(r.conv().holdsInput());  // no lyric wait on a glitch
}

TEST(RealLine, ShortLyricStreamsAndStreamsThatPauseAreShownWhole) {
    PtyRig r(1200);
    r.ui().Combo2->setCurrentIndex(3);  // a lyric wait of 1.2 s
    r.ui().Check5->setChecked(true);
    r.window->Command3_Click();
    SteadyClock::time_point t0;
    // 我, right behind its acceptance: fewer than eleven characters.
    r.write({{0, kAccepted + Hex("05 CE D2 04")}}, &t0).join();
    ASSERT_TRUE(Spin(3000, [&] { return !r.lines.empty(); }));
    EXPECT_EQ(r.lines.front(), QStringLiteral("我"));

    // 我们你好啊 and 你, then half a second later AB, a blank and the end.
    r.lines.clear();
    r.window->Command3_Click();
    r.write({{0, kAccepted + Hex("05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 06 C4 E3")}, {0.5, Hex("41 42 20 04")}}, &t0).join();
    ASSERT_TRUE(Spin(3000, [&] { return r.lines.size() >= 2; }));
    Settle(100);
    EXPECT_EQ(r.ui().Text1->text(), QStringLiteral("我们你好啊"));
    EXPECT_EQ(r.ui().Text2->text(), QStringLiteral("你AB"));
}
