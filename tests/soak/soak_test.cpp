// SPDX-License-Identifier: MIT
// Ten thousand commands of every kind against a fast virtual chip that
// rejects one frame in ten and now and then sends noise: nothing sent is
// lost from the log or logged twice, every reply is logged, no code playback
// is left waiting, and memory does not grow apart from the log.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <sstream>

#include <QRegularExpression>

#include "chip_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {

// The frames recorded in a log text, in order.
std::vector<QByteArray> FramesInLog(const QString& log) {
    std::vector<QByteArray> frames;
    static const QRegularExpression dump(QStringLiteral("^-->((?:0x[0-9A-F]+ )+)\\r?$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = dump.globalMatch(log); it.hasNext();) {
        QByteArray frame;
        for (const QString& b : it.next().captured(1).split(u' ', Qt::SkipEmptyParts))
            frame += char(b.mid(2).toUInt(nullptr, 16));
        frames.push_back(frame);
    }
    return frames;
}

// Frames the window sends without a record of their own.
bool Unlogged(const QByteArray& f) {
    return f.size() == 6 && (f.startsWith(QByteArray("\x01\x81", 2)) || f.startsWith(QByteArray("\x01\x80", 2)) ||
                             f.startsWith(QByteArray("\x01\x90", 2)) || f.startsWith(QByteArray("\x01\xA0", 2)));
}

}  // namespace

TEST(Soak, TenThousandCommandsNothingLost) {
    // A hundred times faster than the chip, behind a USB adapter that hands
    // bytes over in 16 ms packets; a play that asks for a finish report is
    // answered by its acceptance and the report back to back; a stray byte
    // before or after one reply in fifty, and in one lyric stream in fifty.
    sim::ChipOptions options{100.0};
    options.line = sim::LineKind::Usb;
    options.backToBack = true;
    options.strayBytes = 0.02;
    ChipRig b(options);
    auto& ui = b.ui();
    int acceptedLines = 0, rejectedLines = 0, finishedLines = 0;
    QObject::connect(&b.conv().log(), &FrameLog::appended, [&](const QString& chunk) {
        acceptedLines += int(chunk.count(QStringLiteral("0x11 0x14 接受成功")));
        rejectedLines += int(chunk.count(QStringLiteral("0x10 0x14 接受失败")));
        finishedLines += int(chunk.count(QStringLiteral("0x12 0x14 播放完毕")));
    });
    // Read without calling into the chip's thread, which would disturb its timers.
    const ChipHost::Counters& chip = b.chip->host().counters();
    auto chipState = [&] {
        sim::ChipModel::Replies replies;
        replies.accepted = chip.accepted;
        replies.rejected = chip.rejected;
        replies.finished = chip.finished;
        return std::make_pair(int(chip.framesHeard), replies);
    };
    // Every frame written heard by the chip and answered, and every answer
    // logged: the next command waits for this, on events, for as long as
    // the chip and the window make progress (a busy machine only slows it).
    auto settled = [&] {
        const auto [frames, replies] = chipState();
        return frames == b.framesWritten && replies.accepted + replies.rejected == frames &&
               acceptedLines == replies.accepted && rejectedLines == replies.rejected &&
               finishedLines == replies.finished;
    };

    auto progress = [&] {
        return (long long)chip.framesHeard + chip.accepted + chip.rejected + chip.finished + b.framesWritten +
               acceptedLines + rejectedLines + finishedLines + (b.codeRunning ? 1 : 0);
    };
    auto await = [&](const std::function<bool()>& done) { return SpinWhileProgressing(done, progress); };

    // 9600 baud first.
    ui.Combo2->setCurrentIndex(3);
    b.window->Command10_Click();
    ASSERT_TRUE(await(settled));
    b.chip->run([](ChipHost& h) {
        h.model().setRecordFrames(true);
        h.model().setRejectProbability(0.10, 20261207);
    });

    std::deque<QString> recentNotes;  // what the chip did lately, for failure messages
    QObject::connect(&b.chip->host(), &ChipHost::note, b.window.get(), [&](const QString& line) {
        recentNotes.push_back(line);
        if (recentNotes.size() > 12) recentNotes.pop_front();
    });
    auto recent = [&] {
        QString all;
        for (const QString& l : recentNotes) all += QStringLiteral("\n  chip: ") + l;
        QString state;
        b.chip->run([&](ChipHost& h) {
            state =
                QStringLiteral("\n  chip heard %1 frames, baud %2, asleep %3, playing %4; port wrote %5, settings %6")
                    .arg(h.model().framesHeard())
                    .arg(h.model().baud())
                    .arg(h.model().asleep())
                    .arg(h.model().playing())
                    .arg(b.framesWritten)
                    .arg(LineSettingsText(b.port->settings()));
        });
        return (all + state + QStringLiteral("\n  log ends: ") + b.log().right(300)).toStdString();
    };
    auto counts = [&] {
        const auto [f, rp] = chipState();
        std::ostringstream out;
        out << " not settled: port wrote " << b.framesWritten << ", chip heard " << f << ", answered " << rp.accepted
            << "/" << rp.rejected << "/" << rp.finished << "; log " << acceptedLines << "/" << rejectedLines << "/"
            << finishedLines << recent();
        return out.str();
    };
    std::vector<QByteArray> logged = FramesInLog(b.log());
    b.window->Clr_Click();
    std::mt19937 random(7);
    const QStringList texts{QStringLiteral("欢迎使用！\n"), QStringLiteral("A"), QStringLiteral("57573146"),
                            QString(30, QChar(0x597D)), QStringLiteral("Hi 1\t")};
    long rssAt2000 = 0;
    int commands = 0;
    while (commands < 10000) {
        ++commands;
        const int kind = int(random() % 13);
        ui.Check1->setChecked(random() % 2 == 0);  // half the plays report their end at once
        if (b.conv().sleeping()) {
            b.window->Command11_Click();  // wake before anything else
        } else if (kind == 0) {
            ui.Text3->setPlainText(texts[int(random() % texts.size())]);
            b.window->Command6_Click();
        } else if (kind == 1) {
            ui.List1->setListIndex(8 + int(random() % 18));
            b.window->Command3_Click();
        } else if (kind == 2) {
            ui.List2->setListIndex(int(random() % 20));
            b.window->Command4_Click();
        } else if (kind == 3) {
            b.window->Command5_Click();
        } else if (kind == 4) {
            b.window->Command12_Click();
        } else if (kind == 5) {
            b.window->Command1_Click();
        } else if (kind == 6) {
            b.window->Command11_Click();
        } else if (kind == 7) {
            ui.Combo3->setCurrentIndex(int(random() % 2));
            b.window->Command26_Click();
        } else if (kind == 8) {
            random() % 2 ? b.window->Command10_Click() : b.window->Command27_Click();
        } else if (kind == 9) {
            ui.Text5->setText(QStringLiteral("01 80 80 80 60 C1 04"));
            b.window->btn_fasong_Click();
        } else if (kind == 10) {
            ui.Text5->setText(QStringLiteral("01 C0 80 80 04 C5"));
            b.window->btn_fasong2_Click();
        } else if (kind == 11 && commands % 20 == 0) {
            // Code playback with finish reports in the snapshots; a rejected
            // code would wait for ever, so a stop click rescues it.
            ui.Check1->setChecked(true);
            b.window->Command22_Click();
            b.window->Command23_Click();
            QTimer::singleShot(400, b.window.get(), [&] {
                if (b.codeRunning) b.window->Command1_Click();
            });
            b.window->Command13_Click();
            ASSERT_TRUE(await([&] { return !b.codeRunning; })) << recent();
            // The run ends once its last code is sent; that code's finish
            // report comes when the chip has played it.
            ASSERT_TRUE(await([&] { return chip.framesHeard == b.framesWritten && !chip.playing; })) << recent();
        } else if (kind == 12 && commands % 50 == 0) {
            ui.Check5->setChecked(true);  // a karaoke piece with its lyrics
            ui.List1->setListIndex(int(random() % 8));
            b.window->Command3_Click();
            ui.Check5->setChecked(false);
            // The lyric stream is read after the lyric wait and then played.
            Settle(2500);
        } else {
            b.window->Command5_Click();
        }
        ASSERT_TRUE(await(settled)) << "command " << commands << " (kind " << kind << ")" << counts();
        if (commands % 1000 == 500) {
            b.chip->run([](ChipHost& h) { h.injectNoise(12); });
            Settle(1400);  // read after the lyric wait, then nothing happens
            ASSERT_TRUE(await(settled)) << "noise after command " << commands << counts();
        }
        if (commands % 500 == 0) {
            const auto frames = FramesInLog(b.log());
            logged.insert(logged.end(), frames.begin(), frames.end());
            b.window->Clr_Click();
            if (commands == 2000) rssAt2000 = ResidentKb();
        }
    }
    EXPECT_FALSE(b.codeRunning);

    std::vector<QByteArray> heard;
    b.chip->run([&](ChipHost& h) { heard = h.model().recordedFrames(); });
    std::vector<QByteArray> heardLogged;
    for (const QByteArray& f : heard)
        if (!Unlogged(f)) heardLogged.push_back(f);
    // The first logged frame is the baud-rate switch, heard before recording began.
    ASSERT_FALSE(logged.empty());
    logged.erase(logged.begin());
    EXPECT_EQ(heardLogged.size(), logged.size());
    EXPECT_TRUE(heardLogged == logged);
    const auto [frames, replies] = chipState();
    EXPECT_GT(replies.rejected, 500);
    EXPECT_EQ(rejectedLines, replies.rejected);
    EXPECT_EQ(acceptedLines, replies.accepted);
    EXPECT_EQ(finishedLines, replies.finished);
    const long growthKb = ResidentKb() - rssAt2000;
    std::printf("soak: %d commands, %d frames, %d rejected, resident memory %+ld KiB after the first 2000\n", commands,
                frames, replies.rejected, growthKb);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine: resident memory
    // says nothing about growth in that build.
    (void)growthKb;
#else
    EXPECT_LT(growthKb, 8 * 1024);
#endif
}
