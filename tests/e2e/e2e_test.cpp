// SPDX-License-Identifier: MIT
// The whole tool against the virtual chip: the real window, the QSerialPort
// layer on a pseudo-terminal, the chip on a thread of its own.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "app/simulated_port.h"
#include "chip_rig.h"

using namespace vorla;
using namespace vorla::sim;
using namespace vorla::test;

namespace {

const QString kRecord = QStringLiteral("发出一帧");
const QString kAccepted = QStringLiteral("接受成功");
const QString kRejected = QStringLiteral("接受失败");
const QString kFinished = QStringLiteral("播放完毕");

ChipOptions On(LineKind line, double speed, bool backToBack = false) {
    ChipOptions o;
    o.speed = speed;
    o.line = line;
    o.backToBack = backToBack;
    return o;
}

}  // namespace

namespace vorla::sim {
void PrintTo(LineKind kind, std::ostream* out) { *out << LineKindName(kind).toStdString(); }
}  // namespace vorla::sim

// The same exchanges on each kind of line the chip can sit behind.
class EndToEndLine : public ::testing::TestWithParam<LineKind> {};
INSTANTIATE_TEST_SUITE_P(Lines, EndToEndLine, ::testing::Values(LineKind::Uart, LineKind::Usb, LineKind::Burst),
                         [](const auto& info) { return LineKindName(info.param).toStdString(); });

TEST(EndToEnd, TextIsReadAloudAndTheFinishIsReported) {
    ChipRig b(ChipOptions{20.0});
    b.window->Command6_Click();
    ASSERT_TRUE(b.waitForLog(kFinished));
    const QString log = b.log();
    EXPECT_LT(log.indexOf(kRecord), log.indexOf(kAccepted));
    EXPECT_LT(log.indexOf(kAccepted), log.indexOf(kFinished));
    EXPECT_EQ(b.status(), QStringLiteral("        播放完毕"));
}

TEST_P(EndToEndLine, CodePlaybackSendsEachCodeAfterTheFinishReport) {
    // Each code's finish report follows its acceptance back to back.
    ChipRig b(On(GetParam(), 50.0, true));
    bool rescued = false;  // a run left waiting for a lost report is stopped
    QTimer::singleShot(5000, b.window.get(), [&] {
        if (!b.codeRunning) return;
        rescued = true;
        b.window->Command1_Click();
    });
    b.window->Command13_Click();
    ASSERT_TRUE(Spin(6000, [&] { return !b.codeRunning; }));  // once the last code has gone
    EXPECT_FALSE(rescued);
    ASSERT_TRUE(b.waitForLog(kFinished, 2));
    const QString log = b.log();
    const qsizetype second = log.indexOf(kRecord, log.indexOf(kRecord) + 1);
    ASSERT_GT(second, 0);
    EXPECT_LT(log.indexOf(kFinished), second);
    EXPECT_TRUE(log.contains(QStringLiteral("0x60 0xB3 0x4 0x30")));
}

TEST_P(EndToEndLine, RejectionsAreResentThreeTimesAndRawFramesAsTyped) {
    ChipRig b(On(GetParam(), 20.0));
    b.chip->run([](ChipHost& h) { h.model().rejectNext(4); });
    b.window->Command6_Click();
    // A resend runs inside the handler of its rejection, so by the fourth
    // rejection's line any fifth frame would have gone out.
    ASSERT_TRUE(b.waitForLog(kRejected, 4));
    EXPECT_EQ(b.framesWritten, 4);
    EXPECT_EQ(b.status(), QStringLiteral("接收失败 =  4"));
    EXPECT_EQ(b.log().count(kRecord), 4);
    EXPECT_EQ(b.log().count(kRejected), 4);

    b.chip->run([](ChipHost& h) { h.model().rejectNext(1); });
    b.ui().Text5->setText(QStringLiteral("01 C0 80 80 04"));
    b.window->btn_fasong_Click();
    ASSERT_TRUE(b.waitForLog(kAccepted));
    const QString stop = QStringLiteral("-->0x1 0xC0 0x80 0x80 0x4 0xC5 \r\n");
    EXPECT_EQ(b.log().count(stop), 2);
    EXPECT_EQ(b.log().count(kRecord), 6);
}

TEST_P(EndToEndLine, AStrayByteBeforeAndAfterEveryReplyLosesNone) {
    ChipOptions options = On(GetParam(), 20.0);
    options.strayBytes = 1.0;
    ChipRig b(options);
    b.chip->run([](ChipHost& h) { h.model().rejectNext(2); });
    b.window->Command6_Click();
    ASSERT_TRUE(b.waitForLog(kFinished)) << b.log().toStdString();
    EXPECT_EQ(b.log().count(kRejected), 2);
    EXPECT_EQ(b.log().count(kRecord), 3);  // the frame and its two resends
    EXPECT_EQ(b.log().count(kAccepted), 1);
    EXPECT_EQ(b.status(), QStringLiteral("        播放完毕"));
    EXPECT_FALSE(b.conv().holdsInput());  // no stray byte was taken for lyrics
}

TEST_P(EndToEndLine, KaraokeLyricsScrollAndTheFinishEmptiesThem) {
    ChipRig b(On(GetParam(), 5.0));
    // At 9600 baud the window waits 1.2 s for the lyrics, and the chip's
    // stream takes a fraction of that.
    b.ui().Combo2->setCurrentIndex(3);
    b.window->Command10_Click();
    ASSERT_TRUE(b.waitForLog(kAccepted));
    b.ui().Check5->setChecked(true);
    std::vector<std::pair<int, int>> highlights;
    std::vector<QString> lines;
    for (int box : {1, 2}) {
        QLineEdit* line = box == 1 ? b.ui().Text1 : b.ui().Text2;
        QObject::connect(line, &QLineEdit::selectionChanged, [&highlights, line, box] {
            if (line->selectionLength() == 1) highlights.emplace_back(box, line->selectionStart());
        });
        QObject::connect(line, &QLineEdit::textChanged, [&lines](const QString& t) {
            if (!t.isEmpty()) lines.push_back(t);
        });
    }
    b.window->Command3_Click();  // chord music 0, a karaoke piece
    ASSERT_TRUE(b.waitForLog(kFinished, 1, 10000)) << b.log().toStdString();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], QStringLiteral("静夜思"));
    EXPECT_EQ(lines[1], QStringLiteral("李白"));
    EXPECT_EQ(lines[2], QStringLiteral("床前明月光,"));
    ASSERT_GE(highlights.size(), 10u);
    // In order: within a line each highlight moves one character on.
    for (size_t i = 1; i < highlights.size(); ++i) {
        if (highlights[i].first == highlights[i - 1].first && highlights[i].second != 0) {
            EXPECT_EQ(highlights[i].second, highlights[i - 1].second + 1) << i;
        }
    }
    EXPECT_TRUE(b.ui().Text1->text().isEmpty());
    EXPECT_TRUE(b.ui().Text2->text().isEmpty());
}

TEST(EndToEnd, BaudRateSleepAndWake) {
    ChipRig b(ChipOptions{20.0});
    b.ui().Combo2->setCurrentIndex(3);
    b.window->Command10_Click();
    ASSERT_TRUE(b.waitForLog(kAccepted));
    EXPECT_EQ(b.port->settings(), LineSettings{9600});
    b.window->Command1_Click();  // at 9600 on both sides
    ASSERT_TRUE(b.waitForLog(kAccepted, 2));

    b.window->Command11_Click();  // sleep
    ASSERT_TRUE(b.waitForLog(kAccepted, 3));
    // Asleep, the chip hears the frame and answers nothing.
    const ChipHost::Counters& chip = b.chip->host().counters();
    const int heard = chip.framesHeard;
    b.ui().Text5->setText(QStringLiteral("01 80 87 C1 60 A3 04"));
    b.window->btn_fasong_Click();
    ASSERT_TRUE(Spin(3000, [&] { return chip.framesHeard == heard + 1; }));
    EXPECT_EQ(chip.accepted + chip.rejected, 3);
    EXPECT_EQ(b.log().count(kAccepted), 3);
    EXPECT_EQ(b.log().count(kRejected), 0);
    b.window->Command11_Click();  // wake
    ASSERT_TRUE(b.waitForLog(kAccepted, 4));

    // A port at another rate than the chip's: the chip hears noise.
    bool noise = false;
    QObject::connect(&b.chip->host(), &ChipHost::note, b.window.get(),
                     [&](const QString& line) { noise = noise || line.startsWith(QStringLiteral("noise")); });
    b.port->setSettings(LineSettings{4800});
    b.window->Command1_Click();
    ASSERT_TRUE(Spin(3000, [&] { return noise; }));
    EXPECT_EQ(chip.framesHeard, heard + 2);
    EXPECT_EQ(b.log().count(kAccepted), 4);
}

TEST(EndToEnd, UnpluggedChipIsReportedOnceAndComesBack) {
    ChipRig b(ChipOptions{20.0});
    b.window->Command1_Click();
    ASSERT_TRUE(b.waitForLog(kAccepted));
    b.chip->stop();
    const QString lost = QStringLiteral("连接中断");
    // The fault closes the port and cuts it loose: nothing can report it again.
    ASSERT_TRUE(b.waitForLog(lost));
    EXPECT_EQ(b.log().count(lost), 1);
    EXPECT_FALSE(b.port->portOpen());

    b.chip.reset();  // the device is gone, and so is its link (as vorla-chipsim leaves it)
    QFile::remove(b.link);
    b.window->Command1_Click();
    EXPECT_TRUE(b.log().contains(QStringLiteral("打开失败：设备不存在")));
    EXPECT_EQ(b.status(), QStringLiteral("COM1 打开失败"));

    b.startChip(ChipOptions{20.0});
    b.window->Command1_Click();
    ASSERT_TRUE(b.waitForLog(kAccepted, 2));
    EXPECT_EQ(b.status(), QStringLiteral("接收成功"));
}

TEST(EndToEnd, ChipInsideTheProgramNeedsNoDevice) {
    ChipOptions options;
    options.speed = 20.0;
    QtClock clock;
    SimulatedPort port(clock, options);
    ChipConversation conv(port);
    frm_7711 window(conv);
    window.setExitAction([] {});
    auto log = [&] { return conv.log().text(); };
    window.Command6_Click();
    ASSERT_TRUE(Spin(5000, [&] { return log().contains(kFinished); })) << log().toStdString();
    // The rate switches on both sides; a port left at another rate is noise.
    window.ui().Combo2->setCurrentIndex(3);
    window.Command10_Click();
    window.Command1_Click();
    ASSERT_TRUE(Spin(3000, [&] { return log().count(kAccepted) >= 3; })) << log().toStdString();
    bool noise = false;
    QObject::connect(&port.chip(), &sim::ChipCore::note, &window,
                     [&](const QString& line) { noise = noise || line.startsWith(QStringLiteral("noise")); });
    port.setSettings(LineSettings{4800});
    window.Command1_Click();
    ASSERT_TRUE(Spin(3000, [&] { return noise; }));
    EXPECT_EQ(log().count(kAccepted), 3);
    // Only COM1 is wired to the chip.
    window.ui().Option12->setChecked(true);
    window.Command1_Click();
    EXPECT_TRUE(log().endsWith(QStringLiteral("打开失败：设备不存在\r\n")));
}
