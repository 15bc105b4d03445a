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

#include "chip_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {

// The chip's side of a pseudo-terminal.
struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        int slaveFd = -1;
        char name[256] = {};
        if (openpty(&master, &slaveFd, name, nullptr, nullptr) != 0) return;
        ::close(slaveFd);  // the port under test opens it by name
        slave = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    QByteArray read() {
        QByteArray out;
        char buf[256];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0) out.append(buf, n);
        return out;
    }
    void write(const QByteArray& bytes) { ASSERT_EQ(::write(master, bytes.data(), size_t(bytes.size())), bytes.size()); }
};

}  // namespace

TEST(PseudoTerminal, FrameOutReplyInWholeAndUnplugReportedOnce) {
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    PortMap map;
    map.setDevice(1, pty.slave);
    QtSerialControl port(map);
    QtEventPump pump(&port);
    frm_7711 window(port, pump);
    window.setExitAction([] {});
    int events = 0;
    QByteArray replyBytes;
    QObject::connect(&port, &SerialControl::onComm, [&] { ++events; });

    window.Command1_Click();
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
    EXPECT_EQ(window.ui().Label11->text(), QStringLiteral("接收成功"));

    // The other side vanishes: one report, the port closed, no busy loop.
    int faults = 0;
    QObject::connect(&port, &SerialControl::faulted, [&] { ++faults; });
    pty.closeMaster();
    ASSERT_TRUE(Spin(2000, [&] { return faults > 0; }));
    Spin(200, [] { return false; });
    EXPECT_EQ(faults, 1);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(window.ui().Label11->text(), QStringLiteral("COM1 连接中断"));
    EXPECT_TRUE(window.log().text().endsWith(
        QStringLiteral("COM1 (%1) 连接中断：设备已断开或拔出，端口已关闭\r\n").arg(pty.slave)));
}

TEST(PseudoTerminal, MissingDeviceThenItAppears) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("chip"));
    PortMap map;
    map.setDevice(1, link);
    QtSerialControl port(map);
    QtEventPump pump(&port);
    frm_7711 window(port, pump);
    window.setExitAction([] {});

    window.Command6_Click();  // logs first, then cannot open
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(window.ui().Label11->text(), QStringLiteral("COM1 打开失败"));
    EXPECT_TRUE(window.log().text().endsWith(QStringLiteral("COM1 (%1) 打开失败：设备不存在\r\n").arg(link)));

    Pty pty;
    ASSERT_TRUE(QFile::link(pty.slave, link));
    window.Command3_Click();
    ASSERT_TRUE(port.portOpen());
    QByteArray got;
    ASSERT_TRUE(Spin(2000, [&] { return (got += pty.read()).size() >= 8; }));
    EXPECT_EQ(ToHex(got), "01 80 87 E1 60 B0 04 33");
}

TEST(PseudoTerminal, BaudRateChangeDrainsThenReopensAtTheNewRate) {
    Pty pty;
    PortMap map;
    map.setDevice(1, pty.slave);
    QtSerialControl port(map);
    QtEventPump pump(&port);
    frm_7711 window(port, pump);
    window.ui().Combo2->setCurrentIndex(3);
    window.Command10_Click();
    QByteArray got;
    ASSERT_TRUE(Spin(2000, [&] { return (got += pty.read()).size() >= 6; }));
    EXPECT_EQ(ToHex(got), "01 88 80 80 04 8D");
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.settings(), QStringLiteral("9600,N,8,1"));
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_TRUE(window.log().text().startsWith(QStringLiteral("发出一帧，字节数  6")));
}
