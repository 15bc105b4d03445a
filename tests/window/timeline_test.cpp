// SPDX-License-Identifier: MIT
// The line's timeline: frames paired with their replies and the latency
// between, rejections, resends and plays marked, and labels that never lie
// on one another at any zoom.
#include <gtest/gtest.h>

#include <QFont>
#include <QTemporaryDir>

#include "support/hex.h"
#include "ui/line_timeline.h"
#include "window_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
const QByteArray kText = Hex("01 80 87 E1 C4 E3 BA C3 04 BD");  // 你好, a play with a finish report

// A rejected play frame sent again, accepted, played and reported; then
// 200 stops answered 20 ms after they have left, at 9600 baud.
std::deque<LineEntry> Busy() {
    using capture::Direction;
    std::deque<LineEntry> e{{0.0, 1, Direction::None, {}, capture::SettingsEvent(QStringLiteral("9600,N,8,1"))},
                            {1.0, 1, Direction::Out, kText, {}},
                            {1.0304, 1, Direction::In, Hex("01 10 14"), {}},
                            {1.05, 1, Direction::Out, kText, {}},
                            {1.0804, 1, Direction::In, Hex("01 11 14"), {}},
                            {1.9, 1, Direction::In, Hex("01 12 14"), {}}};
    for (int i = 0; i < 200; ++i) {
        const double t = 2.0 + i * 0.05;
        e.push_back({t, 1, Direction::Out, Hex("01 C0 80 80 04 C5"), {}});
        e.push_back({t + 0.00625 + 0.020, 1, Direction::In, Hex("01 11 14"), {}});
    }
    return e;
}
}  // namespace

TEST(Timeline, PairsFramesWithRepliesAndMarksWhatHappened) {
    const Timeline t = BuildTimeline(Busy());
    ASSERT_EQ(t.boxes.size(), 405u);
    EXPECT_EQ(t.boxes[0].label,
              QStringLiteral("文本朗读 音量2级 按姓名 读标点 1读成幺 背景音乐北国之春 报告播完：你好"));
    EXPECT_EQ(t.boxes[1].mark, TimelineBox::Mark::Rejected);
    EXPECT_EQ(t.boxes[2].mark, TimelineBox::Mark::Resent);
    EXPECT_EQ(t.boxes[4].mark, TimelineBox::Mark::Finished);
    EXPECT_NEAR(t.boxes[0].end - t.boxes[0].start, 10 * 10 / 9600.0, 1e-9);  // its time on the wire
    ASSERT_EQ(t.joins.size(), 202u);
    EXPECT_NEAR(t.joins[0].latencyMs, (1.0304 - 1.0 - 100 / 9600.0) * 1000, 1e-3);  // kept to the microsecond
    EXPECT_NEAR(t.joins.back().latencyMs, 20.0, 1e-3);
    ASSERT_EQ(t.plays.size(), 1u);
    EXPECT_NEAR(t.plays[0].end - t.plays[0].start, 1.9 - 1.0804, 1e-9);
    // A karaoke piece asked with its lyrics: the stream as a span of its own.
    const Timeline lyrics = BuildTimeline({{0.0, 1, capture::Direction::Out, Hex("01 80 C0 80 60 B3 04 96"), {}},
                                           {0.02, 1, capture::Direction::In, Hex("01 11 14 05 BA C3 06"), {}},
                                           {0.30, 1, capture::Direction::In, Hex("BA C3 04"), {}}});
    ASSERT_EQ(lyrics.streams.size(), 1u);
    EXPECT_EQ(lyrics.streams[0].label, QStringLiteral("歌词 7字节"));
    EXPECT_NEAR(lyrics.streams[0].end, 0.30, 1e-9);
    // A UART at 1200 baud hands a reply over a byte a read: still one
    // answer, joined to its frame with its latency.
    const double c = 10 / 1200.0;
    const Timeline uart = BuildTimeline({{0.0, 1, capture::Direction::Out, Hex("01 C0 80 80 04 C5"), {}},
                                         {6 * c + 0.010, 1, capture::Direction::In, Hex("01"), {}},
                                         {7 * c + 0.010, 1, capture::Direction::In, Hex("11"), {}},
                                         {8 * c + 0.010, 1, capture::Direction::In, Hex("14"), {}}});
    ASSERT_EQ(uart.joins.size(), 1u);
    EXPECT_EQ(uart.boxes[uart.joins[0].reply].label, QStringLiteral("接受成功"));
    EXPECT_NEAR(uart.joins[0].latencyMs, 2 * c * 1000 + 10, 1e-3);
    for (const auto& [pps, step] : {std::pair{1.0, 100.0}, {100.0, 1.0}, {1000.0, 0.1}, {3000.0, 0.05}, {1e6, 1e-4}})
        EXPECT_DOUBLE_EQ(TickStep(pps), step) << pps;
}

TEST(Timeline, LabelsNeverOverlapAtAnyZoom) {
    const Timeline t = BuildTimeline(Busy());
    QFont font;
    font.setPixelSize(11);
    const QFontMetricsF metrics(font);
    const QRectF area(0, 0, 900, 140);
    for (const double pps : {0.5, 5.0, 50.0, 500.0, 5000.0, 50000.0}) {
        for (const double at : {0.0, 1.0, 5.0}) {
            const auto placed = PlaceBoxes(t, TimelineView{at, pps}, area, metrics);
            int labelled = 0;
            for (size_t i = 0; i < placed.size(); ++i) {
                const PlacedBox& p = placed[i];
                const double room = p.text.isEmpty() ? 0 : p.rect.width() - 4 + 0.01;
                EXPECT_LE(metrics.horizontalAdvance(p.text), room) << pps;
                labelled += p.text.isEmpty() ? 0 : 1;
                for (size_t j = i + 1; j < placed.size(); ++j)
                    EXPECT_FALSE(p.rect.intersects(placed[j].rect))
                        << pps << " at " << at << ": boxes " << p.box << ", " << placed[j].box;
            }
            if (pps >= 5000 && at == 1.0) {
                EXPECT_GT(labelled, 0) << pps;  // near enough to read
            }
        }
    }
}

TEST(Timeline, ACaptureOpensIntoTheWindowAndSavesAsSvg) {
    WindowRig r;
    QTemporaryDir dir;
    capture::Capture c;
    c.interfaces = {capture::Interface{QStringLiteral("COM1"), QString()}};
    for (const LineEntry& e : Busy())
        c.packets.push_back(capture::Packet{int64_t(e.at * 1e6), 0, e.direction, e.bytes, e.event});
    const QString path = dir.filePath(QStringLiteral("line.pcapng"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(capture::Write(c));
    file.close();
    TimelineWindow* window = r.window->openTimeline();
    window->setOpenPathSource([&] { return path; });
    window->openCapture();
    EXPECT_EQ(window->view().timeline().boxes.size(), 405u);
    const QString svg = dir.filePath(QStringLiteral("line.svg"));
    window->setSavePathSource([&] { return svg; });
    window->saveSvg();
    QFile saved(svg);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("接受")));  // the replies in words
    EXPECT_TRUE(text.contains(QStringLiteral(" ms")));   // the axis and the latencies
}
