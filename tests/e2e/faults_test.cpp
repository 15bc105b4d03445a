// SPDX-License-Identifier: MIT
// Faults the operator can cause, against the virtual chip: each is reported
// once, nothing is sent half-way, and the window goes on working.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>

#include "chip_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
const QString kLost = QStringLiteral("连接中断");
const QString kAcceptedWord = QStringLiteral("接受成功");

// After a fault: the port can be opened again on a new chip.
void ComesBack(ChipRig& b) {
    b.chip.reset();
    QFile::remove(b.link);
    b.startChip(ChipOptions{50.0});
    const qsizetype before = b.log().count(kAcceptedWord);
    b.window->Command1_Click();
    EXPECT_TRUE(b.waitForLog(kAcceptedWord, int(before) + 1));
}
// The chip has gone away: one report, the port closed, and a new chip works.
void LostOnceThenComesBack(ChipRig& b) {
    // The fault closes the port and cuts it loose: nothing can report it again.
    ASSERT_TRUE(b.waitForLog(kLost));
    EXPECT_EQ(b.log().count(kLost), 1);
    EXPECT_FALSE(b.port->portOpen());
    ComesBack(b);
}
}  // namespace

TEST(Faults, ChipVanishesInTheMiddleOfAReply) {
    ChipRig b(ChipOptions{50.0});
    b.window->Command1_Click();
    ASSERT_TRUE(b.waitForLog(kAcceptedWord));
    // Half a reply, then the chip is gone.
    b.chip->run([](ChipHost& h) { h.sendRaw(QByteArray("\x01\x11", 2)); });
    Settle(50);
    b.chip->stop();
    LostOnceThenComesBack(b);
}

TEST(Faults, ChipVanishesInTheMiddleOfALyricStream) {
    ChipRig b(ChipOptions{1.0});
    b.ui().Check5->setChecked(true);
    b.ui().Combo2->setEditText(QStringLiteral("-"));
    // About 140 bytes of lyrics at 1200 baud take over a second; the chip
    // goes away a quarter of a second in, whatever the window is doing.
    QTimer::singleShot(250, [&] { b.chip->stop(); });
    b.window->Command3_Click();
    LostOnceThenComesBack(b);
}

TEST(Faults, ChipVanishesWhileCodePlaybackWaits) {
    ChipRig b(ChipOptions{50.0});
    b.chip->run([](ChipHost& h) { h.model().setDropFinishReports(true); });
    // The chip goes, and its link with it: a pseudo-terminal's number may
    // soon serve another program.
    QTimer::singleShot(300, [&] {
        b.chip->stop();
        QFile::remove(b.link);
    });
    QTimer::singleShot(800, [&] {
        EXPECT_EQ(b.log().count(kLost), 1);
        EXPECT_TRUE(b.codeRunning);
        b.window->Command1_Click();  // stop: the device is gone, reported, the run ends
    });
    b.window->Command13_Click();
    ASSERT_TRUE(Spin(3000, [&] { return !b.codeRunning; }));
    EXPECT_EQ(b.log().count(kLost), 1);
    EXPECT_TRUE(b.log().contains(QStringLiteral("打开失败：设备不存在")));
    EXPECT_EQ(b.log().count(QStringLiteral("发出一帧")), 2);  // code 1, then stop's record
    ComesBack(b);
}

TEST(Faults, PortHeldByAnotherProgram) {
    ChipRig b(ChipOptions{50.0});
    // Another program holds the port's lock file, as serial programs do.
    QProcess other;
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted());
    QString lockDir;
    for (const char* dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp"})
        if (QFileInfo(QString::fromLatin1(dir)).isDir() && QFileInfo(QString::fromLatin1(dir)).isWritable()) {
            lockDir = QString::fromLatin1(dir);
            break;
        }
    if (lockDir.isEmpty()) lockDir = QDir::tempPath();
    // The lock is named after the path the port is opened by (below /dev if
    // it is there), '/' written as '_'.
    QString portName = b.link;
    if (portName.startsWith(QStringLiteral("/dev/"))) portName.remove(0, 5);
    portName.replace(u'/', u'_');
    const QString lock = lockDir + QStringLiteral("/LCK..") + portName;
    {
        QFile f(lock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("%1\nsleep\n%2\n").arg(other.processId()).arg(QSysInfo::machineHostName()).toUtf8());
    }
    b.window->Command6_Click();
    QFile::remove(lock);
    other.kill();
    other.waitForFinished();
    EXPECT_FALSE(b.port->portOpen());
    EXPECT_EQ(b.status(), QStringLiteral("COM1 打开失败"));
    EXPECT_TRUE(b.log().endsWith(QStringLiteral("打开失败：端口已被其他程序占用\r\n"))) << b.log().toStdString();
    b.window->Command6_Click();  // released: works
    EXPECT_TRUE(b.waitForLog(kAcceptedWord));
}
