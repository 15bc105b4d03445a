// SPDX-License-Identifier: MIT
// The line's timeline: frames paired with their replies and the latency
// between, rejections, resends and plays marked; at any zoom labels that
// never lie on one another nor on a join, ticks at round times from the
// start, a view that stays on the timeline, and pictures of bounded size.
#include <gtest/gtest.h>

#include <QFont>
#include <QTemporaryDir>

#include "support/hex.h"
#include "support/svg_picture.h"
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

// Busy() from a start off any round time, with a self-test's steps as
// bands over it, some of them with long names.
Timeline BusyWithSteps() {
    std::deque<LineEntry> entries = Busy();
    for (LineEntry& e : entries) e.at += 0.029;
    Timeline t = BuildTimeline(entries);
    for (int i = 0; i * 0.45 < 11; ++i) {
        const QString name = i % 7 == 3 ? QStringLiteral("背景音乐秋日的私语 音量6级 报告播完 %1").arg(i)
                                        : QStringLiteral("停止 %1").arg(i);
        t.bands.push_back(TimelineSpan{1.029 + i * 0.45, 1.029 + (i + 1) * 0.45, name, QColor(200, 240, 200)});
    }
    return t;
}

bool Crosses(const QLineF& line, const QRectF& rect) {
    if (rect.contains(line.p1()) || rect.contains(line.p2())) return true;
    const QLineF edges[] = {{rect.topLeft(), rect.topRight()},
                            {rect.topRight(), rect.bottomRight()},
                            {rect.bottomRight(), rect.bottomLeft()},
                            {rect.bottomLeft(), rect.topLeft()}};
    for (const QLineF& edge : edges)
        if (line.intersects(edge, nullptr) == QLineF::BoundedIntersection) return true;
    return false;
}

QFontMetricsF Metrics() {
    QFont font;
    font.setPixelSize(11);
    return QFontMetricsF(font);
}
// The capture written to `path` and opened in the window's timeline, as
// 打开抓包文件… opens it; nothing when it cannot be written.
TimelineWindow* OpenInTimeline(WindowRig& r, const QString& path, const capture::Capture& c) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(capture::Write(c)) < 0) return nullptr;
    file.close();
    TimelineWindow* window = r.window->openTimeline();
    window->setOpenPathSource([path] { return path; });
    window->openCapture();
    return window;
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
    for (const auto& [seconds, step, text] : {std::tuple{0.5, 0.5, "0.5 s"},
                                              {1.0, 0.5, "1 s"},
                                              {12.0, 2.0, "12 s"},
                                              {0.3, 0.1, "0.3 s"},
                                              {-0.05, 0.05, "-0.05 s"},
                                              {3e-4, 1e-4, "0.0003 s"}})
        EXPECT_EQ(TickText(seconds, step), QString::fromUtf8(text)) << seconds;
}

// At every zoom and place: every label within the area and clear of every
// other, no join across a latency, each step's name at its start, ticks at
// whole multiples of a round step from the start (0.5 s, 1 s, not 0.471 s),
// and enough labels to read where there is room.
TEST(Timeline, LayoutKeepsItsPromisesAtEveryZoom) {
    const Timeline t = BusyWithSteps();
    const QFontMetricsF metrics = Metrics();
    const QRectF area(0, 0, 900, TimelineHeight());
    struct Case {
        double pps, at;
        size_t latencies, steps;  // at least this many placed
    };
    const Case cases[] = {{0.5, 1.029, 0, 1},  {5, 1.029, 0, 2}, {50, 1.029, 1, 8}, {50, 0, 1, 8},
                          {200, 2.0, 0, 5},    {500, 5.0, 0, 4}, {5000, 5.0, 3, 1}, {5000, 1.0, 2, 1},
                          {20000, 6.32, 1, 1}, {1e6, 6.32, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pps << " px/s at " << c.at << " s");
        const TimelineView view{c.at, c.pps};
        const TimelineLayout l = LayOutTimeline(t, view, area, metrics);
        std::vector<QRectF> labels;
        for (const PlacedBox& p : l.boxes) {
            const double room = p.text.isEmpty() ? 0 : p.rect.width() - 4 + 0.01;
            EXPECT_LE(metrics.horizontalAdvance(p.text), room);
            if (!p.text.isEmpty()) labels.push_back(p.rect);
        }
        for (const PlacedLabel& p : l.latencies) {
            labels.push_back(p.rect);
            for (const PlacedJoin& j : l.joins) EXPECT_FALSE(Crosses(j.line, p.rect)) << "join " << j.join;
        }
        for (const PlacedLabel& p : l.steps) {
            labels.push_back(p.rect);
            const double start = area.left() + 40 + (t.bands[p.index].start - c.at) * c.pps;
            EXPECT_NEAR(p.rect.left(), std::max(start, area.left() + 40), 1e-6) << p.text.toStdString();
        }
        const double mantissa = l.tickStep / std::pow(10.0, std::floor(std::log10(l.tickStep) + 1e-9));
        const bool round = std::fabs(mantissa - std::round(mantissa)) < 1e-9 &&
                           (std::round(mantissa) == 1 || std::round(mantissa) == 2 || std::round(mantissa) == 5);
        EXPECT_TRUE(round) << l.tickStep;
        int texts = 0;
        for (const PlacedTick& tick : l.ticks) {
            EXPECT_NEAR(tick.seconds / l.tickStep, std::round(tick.seconds / l.tickStep), 1e-6) << tick.seconds;
            EXPECT_NEAR(tick.x, area.left() + 40 + (t.start + tick.seconds - c.at) * c.pps, 1e-6);
            if (tick.text.isEmpty()) continue;
            ++texts;
            labels.push_back(tick.rect);
            EXPECT_NEAR(tick.text.chopped(2).toDouble(), tick.seconds, l.tickStep * 1e-6) << tick.text.toStdString();
        }
        EXPECT_GE(texts, 2);
        EXPECT_GE(l.latencies.size(), c.latencies);
        EXPECT_GE(l.steps.size(), c.steps);
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_TRUE(area.contains(labels[i])) << i;
            for (size_t j = i + 1; j < labels.size(); ++j)
                EXPECT_FALSE(labels[i].intersects(labels[j])) << i << ", " << j;
        }
        for (size_t i = 0; i < l.boxes.size(); ++i)
            for (size_t j = i + 1; j < l.boxes.size(); ++j) EXPECT_FALSE(l.boxes[i].rect.intersects(l.boxes[j].rect));
    }
}

// Zoomed and scrolled as far as it goes either way: never before the start,
// never past the end further than a margin, never smaller than all in view.
TEST(Timeline, TheViewStaysOnTheTimeline) {
    TimelineWidget widget;
    widget.resize(900, int(TimelineHeight()));
    widget.setTimeline(BusyWithSteps());
    const Timeline& t = widget.timeline();
    widget.showAll();
    const double all = widget.view().pixelsPerSecond;
    EXPECT_DOUBLE_EQ(widget.view().secondsAt, t.start);
    EXPECT_GE(widget.secondsAtEnd(), t.end);
    for (const double factor : {1.0, 0.01, 3.0, 100.0, 1e4, 1e9}) {
        SCOPED_TRACE(factor);
        widget.zoom(factor, 600);
        const double pps = widget.view().pixelsPerSecond;
        EXPECT_GE(pps, all * (1 - 1e-9));
        EXPECT_GE(widget.view().secondsAt, t.start);
        widget.scrollBy(-1e9);
        EXPECT_DOUBLE_EQ(widget.view().secondsAt, t.start);
        widget.scrollBy(1e9);
        EXPECT_LE(widget.secondsAtEnd(), t.end + 40 / pps + 1e-9);
        EXPECT_GE(widget.secondsAtEnd(), t.end);
        widget.zoom(1 / factor, 0);
        EXPECT_GE(widget.view().secondsAt, t.start);
    }
}

// However long the time and deep the zoom, the picture stays within its
// bounds, holds the whole time, and keeps the zoom asked for when it fits.
TEST(Timeline, PicturesHaveBoundedSizes) {
    const double plot = kSvgMaxWidth - 40 - 40;
    for (const auto& [seconds, pps] : {std::pair{0.01, 200.0},
                                       {12.0, 200.0},
                                       {37.4, 200.0},
                                       {12.0, 15840.0},
                                       {3600.0, 1e4},
                                       {86400.0, 1e7},
                                       {0.0, 0.0}}) {
        SCOPED_TRACE(testing::Message() << seconds << " s at " << pps << " px/s");
        const SvgPlan plan = PlanSvg(seconds, pps);
        EXPECT_LE(plan.size.width(), kSvgMaxWidth);
        EXPECT_LE(plan.size.height(), kSvgMaxRows * (TimelineHeight() + 8));
        EXPECT_GE(plan.rows * plan.rowSeconds, seconds * (1 - 1e-9));
        EXPECT_GE(plan.rowSeconds * plan.pixelsPerSecond, std::min(plot, seconds * plan.pixelsPerSecond) - 1e-6);
        if (pps > 0 && seconds * pps <= kSvgMaxRows * plot) {
            EXPECT_DOUBLE_EQ(plan.pixelsPerSecond, pps);
        }
    }
}

// A station's capture: a line a slot, each opened on its own, never mixed.
TEST(Timeline, AStationsCaptureOpensOneSlotsLineAtATime) {
    WindowRig r;
    QTemporaryDir dir;
    capture::Capture c;
    c.interfaces = {
        {QStringLiteral("A"), QString()}, {QStringLiteral("B"), QString()}, {QStringLiteral("C"), QString()}};
    const std::deque<LineEntry> busy = Busy();
    for (const LineEntry& e : busy)
        c.packets.push_back(capture::Packet{int64_t(e.at * 1e6), 0, e.direction, e.bytes, e.event});
    // B: the first hundred entries, at the same times as A's.
    for (size_t i = 0; i < 100 && i < busy.size(); ++i)
        c.packets.push_back(
            capture::Packet{int64_t(busy[i].at * 1e6), 1, busy[i].direction, busy[i].bytes, busy[i].event});
    TimelineWindow* window = OpenInTimeline(r, dir.filePath(QStringLiteral("station.pcapng")), c);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->lines(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));  // C carries nothing
    EXPECT_EQ(window->view().timeline().boxes.size(), 405u);
    window->showLine(QStringLiteral("B"));
    const size_t b = window->view().timeline().boxes.size();
    EXPECT_GT(b, 0u);
    EXPECT_LT(b, 405u / 2);
}

// The window saves what is in view, zoomed in on a capture far too long to
// draw whole at that zoom (190,080 pixels): a picture of the window's size
// that a viewer opens, with the replies in words and the axis in seconds.
TEST(Timeline, ACaptureOpensIntoTheWindowAndSavesWhatIsInView) {
    WindowRig r;
    QTemporaryDir dir;
    capture::Capture c;
    c.interfaces = {capture::Interface{QStringLiteral("COM1"), QString()}};
    for (const LineEntry& e : Busy())
        c.packets.push_back(capture::Packet{int64_t(e.at * 1e6), 0, e.direction, e.bytes, e.event});
    TimelineWindow* window = OpenInTimeline(r, dir.filePath(QStringLiteral("line.pcapng")), c);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->view().timeline().boxes.size(), 405u);
    TimelineWidget& view = window->view();
    view.resize(1000, int(TimelineHeight()));
    view.showAll();
    view.zoom(15840 / view.view().pixelsPerSecond, 40);  // 12 s at 15,840 px/s
    view.scrollBy(1.0 * 15840);                          // to the first reply
    const QString svg = dir.filePath(QStringLiteral("line.svg"));
    window->setSavePathSource([&] { return svg; });
    window->saveSvg();
    QFile saved(svg);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    const SvgSize size = SizeOfSvg(bytes);
    EXPECT_EQ(size.viewBox, QSizeF(1000 + 40, std::ceil(TimelineHeight() + 8)));  // and a margin
    EXPECT_NEAR(size.pixels.width(), 1040, 0.5);
    const QString text = QString::fromUtf8(bytes);
    EXPECT_TRUE(text.contains(QStringLiteral("接受")));  // the replies in words
    EXPECT_TRUE(text.contains(QStringLiteral(" ms<")));  // the latencies
    EXPECT_TRUE(text.contains(QStringLiteral(" s<")));   // the axis
    if (const auto rendered = RenderSvg(svg)) {
        EXPECT_EQ(*rendered, QString());
    }
}
