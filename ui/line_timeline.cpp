// SPDX-License-Identifier: MIT
#include "ui/line_timeline.h"

#include <algorithm>
#include <cmath>

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgGenerator>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "protocol/frame.h"
#include "protocol/frame_words.h"
#include "protocol/hex_text.h"
#include "protocol/replies.h"

namespace vorla {

namespace {
// Heights of the strips, from the top: the steps' names and their bands,
// sent, joins, received, plays and lyric streams, axis; the lane names' width;
// the room kept right of the end; the gap between rows of a picture.
constexpr double kStepNames = 13, kStepBand = 5, kSteps = kStepNames + kStepBand + 2, kLane = 24, kJoins = 26,
                 kPlays = 14, kAxis = 22, kHeight = kSteps + 2 * kLane + kJoins + 2 * kPlays + kAxis + 8,
                 kLaneNames = 40, kEndMargin = 40, kRowGap = 8;
constexpr double kMostPixelsPerSecond = 1e7;

bool IsPlayFrame(const QByteArray& frame) { return frame.size() > 6 && uint8_t(frame[1]) == kPlayMode; }

// A message in words: a reply by its name, lyric data and anything else by
// its size.
QString MessageWords(const QString& kind, qsizetype bytes) {
    if (kind == QStringLiteral("rejected")) return reply::LogLine(reply::Kind::Rejected).section(u' ', 3);
    if (kind == QStringLiteral("accepted")) return reply::LogLine(reply::Kind::Accepted).section(u' ', 3);
    if (kind == QStringLiteral("finished")) return reply::LogLine(reply::Kind::Finished).section(u' ', 3);
    if (kind == QStringLiteral("lyrics")) return QStringLiteral("歌词%1字节").arg(bytes);
    return QStringLiteral("数据%1字节").arg(bytes);
}

// Builds the timeline from the line as the tool understood it: a box for
// every frame and every message of the chip's, each answer joined to its
// exchange's frame.
class Builder {
public:
    void add(const LineEntry& e) {
        if (e.direction == capture::Direction::Out) {
            sent(e);
            return;
        }
        if (e.direction == capture::Direction::In) return;  // drawn as the messages read from it
        if (const int b = capture::EventBaud(e.event)) baud_ = b;
        if (e.note.type == capture::Note::Type::Message && !e.bytes.isEmpty()) message(e, e.note);
    }
    Timeline finish(double end) {
        closePlay(end, false);
        closeLyrics();
        t_.end = std::max(t_.end, end);
        return std::move(t_);
    }

private:
    double wire(const QByteArray& bytes) const { return double(bytes.size()) * 10.0 / double(baud_); }
    void sent(const LineEntry& e) {
        TimelineBox box{e.at, e.at + wire(e.bytes), true, DescribeFrame(e.bytes), {}, TimelineBox::Mark::None};
        if (e.note.resend > 0) box.mark = TimelineBox::Mark::Resent;
        box.tip = QStringLiteral("%1 s  发出 %2\n%3").arg(e.at, 0, 'f', 6).arg(HexBytes(e.bytes), box.label);
        if (e.note.valid()) exchange_ = e.note.exchange;
        lastFrame_ = e.bytes;
        closeLyrics();
        frameBox_ = t_.boxes.size();
        push(std::move(box));
    }
    void message(const LineEntry& e, const capture::Note& note) {
        TimelineBox box{std::max(e.at - wire(e.bytes), lastReadEnd_),  e.at, false,
                        MessageWords(note.kindName(), e.bytes.size()), {},   TimelineBox::Mark::None};
        if (note.kindName() == QStringLiteral("finished")) box.mark = TimelineBox::Mark::Finished;
        if (note.kindName() == QStringLiteral("rejected")) box.mark = TimelineBox::Mark::Rejected;
        box.tip = QStringLiteral("%1 s  收到 %2\n%3").arg(e.at, 0, 'f', 6).arg(HexBytes(e.bytes), box.label);
        lastReadEnd_ = e.at;
        const size_t index = t_.boxes.size();
        push(std::move(box));
        const bool ours = note.exchange == exchange_ && frameBox_ < index;
        if (note.latency() && ours) {
            t_.joins.push_back(TimelineJoin{frameBox_, index, *note.latency()});
            if (note.kindName() == QStringLiteral("accepted") && IsPlayFrame(lastFrame_))
                openPlay(e.at, t_.boxes[frameBox_].label);
        }
        if (note.kindName() == QStringLiteral("finished")) closePlay(e.at, true);
        if (note.kindName() == QStringLiteral("lyrics")) {
            if (!lyricsOpen_) lyrics_ = TimelineSpan{t_.boxes.back().start, e.at, {}, QColor(255, 225, 150)};
            lyricsOpen_ = true;
            lyrics_.end = e.at;
            lyricBytes_ += int(e.bytes.size());
        }
    }
    void closeLyrics() {
        if (!lyricsOpen_) return;
        lyrics_.label = QStringLiteral("歌词 %1字节").arg(lyricBytes_);
        t_.streams.push_back(lyrics_);
        lyricsOpen_ = false;
        lyricBytes_ = 0;
    }
    void openPlay(double at, const QString& words) {
        closePlay(at, false);
        play_ = TimelineSpan{at, at, QStringLiteral("播放 ") + words, QColor(170, 210, 255)};
        playing_ = true;
    }
    void closePlay(double at, bool reported) {
        if (!playing_) return;
        play_.end = at;
        if (!reported) play_.colour = QColor(220, 220, 220);
        t_.plays.push_back(play_);
        playing_ = false;
    }
    void push(TimelineBox box) {
        if (t_.boxes.empty()) t_.start = box.start;
        t_.start = std::min(t_.start, box.start);
        t_.end = std::max(t_.end, box.end);
        t_.boxes.push_back(std::move(box));
    }

    static constexpr size_t kNone = size_t(-1);
    Timeline t_;
    int baud_ = 1200;
    QByteArray lastFrame_;
    uint64_t exchange_ = 0;
    size_t frameBox_ = kNone;  // the box of the frame last sent
    double lastReadEnd_ = -1e300;
    TimelineSpan play_;
    bool playing_ = false;
    TimelineSpan lyrics_;  // a lyric stream, from its first message to its last
    bool lyricsOpen_ = false;
    int lyricBytes_ = 0;
};

QColor BoxColour(const TimelineBox& b) {
    switch (b.mark) {
    case TimelineBox::Mark::Rejected: return QColor(230, 80, 70);
    case TimelineBox::Mark::Resent: return QColor(240, 160, 40);
    case TimelineBox::Mark::Finished: return QColor(150, 110, 210);
    case TimelineBox::Mark::None: break;
    }
    return b.sent ? QColor(90, 140, 220) : QColor(90, 180, 110);
}

QRectF LaneRect(const QRectF& area, bool sent) {
    const double top = area.top() + kSteps + (sent ? 0 : kLane + kJoins);
    return QRectF(area.left() + kLaneNames, top, area.width() - kLaneNames, kLane);
}
}  // namespace

Timeline BuildTimeline(const std::deque<LineEntry>& entries) {
    Builder b;
    for (const LineEntry& e : Understood(entries)) b.add(e);
    return b.finish(entries.empty() ? 0 : entries.back().at);
}

std::deque<LineEntry> EntriesOf(const capture::Capture& capture) {
    std::deque<LineEntry> entries;
    const int64_t first = capture.packets.empty() ? 0 : capture.packets.front().micros;
    for (const capture::Packet& p : capture.packets) {
        const auto note = capture::ParseNote(p.comment);
        entries.push_back(LineEntry{double(p.micros - first) * 1e-6, int16_t(p.interface + 1), p.direction, p.bytes,
                                    note ? QString() : p.comment, note.value_or(capture::Note{})});
    }
    return entries;
}

std::vector<PlacedBox> PlaceBoxes(const Timeline& timeline, const TimelineView& view, const QRectF& area,
                                  const QFontMetricsF& metrics) {
    std::vector<PlacedBox> placed;
    double lastRight[2] = {-1e300, -1e300};  // received, sent
    for (size_t i = 0; i < timeline.boxes.size(); ++i) {
        const TimelineBox& b = timeline.boxes[i];
        const QRectF lane = LaneRect(area, b.sent);
        const double x0 = lane.left() + (b.start - view.secondsAt) * view.pixelsPerSecond;
        const double x1 = lane.left() + (b.end - view.secondsAt) * view.pixelsPerSecond;
        if (x1 < lane.left() || x0 > lane.right()) continue;
        double& right = lastRight[b.sent ? 1 : 0];
        const double left = std::max({x0, right, lane.left()});
        // Too narrow to show beside the one before: hidden under it.
        if (left >= x1 + 1) continue;
        const double width = std::max(1.0, std::min(x1, lane.right()) - left);
        right = left + width;
        const double room = width - 4;
        const QString text = room >= 12 ? metrics.elidedText(b.label, Qt::ElideRight, room) : QString();
        placed.push_back(PlacedBox{i, QRectF(left, lane.top(), width, lane.height()),
                                   text == QStringLiteral("…") ? QString() : text});
    }
    return placed;
}

double TickStep(double pixelsPerSecond, double minPixels) {
    const double raw = minPixels / std::max(pixelsPerSecond, 1e-9);
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (;;) {
        for (const double m : {1.0, 2.0, 5.0})
            if (m * power >= raw * (1 - 1e-9)) return m * power;
        power *= 10;
    }
}

QString TickText(double seconds, double step) {
    const int decimals = std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 0, 9);
    QString text = QString::number(seconds, 'f', decimals);
    if (decimals > 0) {
        while (text.endsWith(u'0')) text.chop(1);
        if (text.endsWith(u'.')) text.chop(1);
    }
    if (text == QStringLiteral("-0")) text = QStringLiteral("0");
    return text + QStringLiteral(" s");
}

double TimelineHeight() { return kHeight; }

namespace {
constexpr double kLabelGap = 4;       // between two labels side by side
constexpr double kMaxStepName = 220;  // a step's name is elided beyond this

// Where times go in an area at a zoom.
struct Scale {
    const TimelineView& view;
    QRectF area;
    double left() const { return area.left() + kLaneNames; }
    double x(double t) const { return left() + (t - view.secondsAt) * view.pixelsPerSecond; }
    double seconds() const { return (area.right() - left()) / view.pixelsPerSecond; }  // in view
};

QString LatencyText(const TimelineJoin& join) { return QStringLiteral("%1 ms").arg(join.latencyMs, 0, 'f', 1); }

// The joins' lines as they cross the band a label takes (from y0 to y1),
// each as the x range it covers there: a label is clear of every line when
// no range starting left of its right end reaches past its left end.
class JoinCrossings {
public:
    JoinCrossings(const std::vector<PlacedJoin>& joins, double y0, double y1) : y0_(y0), y1_(y1) {
        for (const PlacedJoin& j : joins) ranges_.push_back(across(j.line));
        std::sort(ranges_.begin(), ranges_.end());
        double far = -1e300;
        for (const auto& [from, to] : ranges_) reach_.push_back(far = std::max(far, to));
    }
    std::pair<double, double> across(const QLineF& line) const {
        const auto xAt = [&](double y) {
            return line.x1() + (line.x2() - line.x1()) * (y - line.y1()) / (line.y2() - line.y1());
        };
        return std::minmax(xAt(y0_), xAt(y1_));
    }
    bool clear(double left, double right) const {
        const auto before = std::lower_bound(ranges_.begin(), ranges_.end(), std::pair{right, -1e300});
        const auto n = size_t(before - ranges_.begin());
        return n == 0 || reach_[n - 1] < left;
    }

private:
    double y0_, y1_;
    std::vector<std::pair<double, double>> ranges_;  // by their left ends
    std::vector<double> reach_;                      // the rightmost end of the ranges up to each
};

// Each latency right of its join's line, else left of it, clear of every
// line and of the latency before; left out when neither place is free.
void PlaceLatencies(const Timeline& timeline, const Scale& s, const QFontMetricsF& metrics, TimelineLayout& layout) {
    const double h = metrics.height();
    const double y0 = LaneRect(s.area, true).bottom() + (kJoins - h) / 2;
    const JoinCrossings crossings(layout.joins, y0 - 1, y0 + h + 1);
    double lastRight = -1e300;
    for (const PlacedJoin& j : layout.joins) {
        const QString text = LatencyText(timeline.joins[j.join]);
        const double w = metrics.horizontalAdvance(text);
        const auto [from, to] = crossings.across(j.line);
        for (const double x : {to + 3, from - 3 - w}) {
            if (x < std::max(lastRight + kLabelGap, s.left()) || x + w > s.area.right() ||
                !crossings.clear(x - 1, x + w + 1))
                continue;
            layout.latencies.push_back(PlacedLabel{j.join, QRectF(x, y0, w, h), text});
            lastRight = x + w;
            break;
        }
    }
}

// A join is drawn when both its boxes are.
void PlaceJoins(const Timeline& timeline, const Scale& s, TimelineLayout& layout) {
    std::vector<const PlacedBox*> byBox(timeline.boxes.size(), nullptr);
    for (const PlacedBox& p : layout.boxes) byBox[p.box] = &p;
    const double top = LaneRect(s.area, true).bottom(), bottom = LaneRect(s.area, false).top();
    for (size_t i = 0; i < timeline.joins.size(); ++i) {
        const TimelineJoin& j = timeline.joins[i];
        const PlacedBox* sent = j.sent < byBox.size() ? byBox[j.sent] : nullptr;
        const PlacedBox* reply = j.reply < byBox.size() ? byBox[j.reply] : nullptr;
        if (sent && reply)
            layout.joins.push_back(PlacedJoin{i, QLineF(sent->rect.right(), top, reply->rect.right(), bottom)});
    }
}

// Each step's name at its start (or at the left edge for the step in
// progress there), in a row of its own above the steps' bands, reaching over
// the steps after it; left out where the name before reaches its start.
std::vector<PlacedLabel> PlaceStepNames(const std::vector<TimelineSpan>& bands, const Scale& s,
                                        const QFontMetricsF& metrics) {
    std::vector<PlacedLabel> placed;
    double lastRight = -1e300;
    for (size_t i = 0; i < bands.size(); ++i) {
        const double left = std::max(s.x(bands[i].start), s.left());
        if (std::min(s.x(bands[i].end), s.area.right()) <= left || left < lastRight + kLabelGap) continue;
        const QString text =
            metrics.elidedText(bands[i].label, Qt::ElideRight, std::min(kMaxStepName, s.area.right() - left));
        if (text.isEmpty() || text == QStringLiteral("…")) continue;
        const double w = metrics.horizontalAdvance(text);
        placed.push_back(PlacedLabel{i, QRectF(left, s.area.top(), w, kStepNames), text});
        lastRight = left + w;
    }
    return placed;
}

// A round step at least as wide as the widest tick text in view and a gap.
double RoundTickStep(double fromSeconds, const Scale& s, const QFontMetricsF& metrics) {
    double step = TickStep(s.view.pixelsPerSecond);
    for (int i = 0; i < 4; ++i) {
        const double first = std::floor(fromSeconds / step) * step;
        const double last = std::ceil((fromSeconds + s.seconds()) / step) * step;
        const double widest =
            std::max(metrics.horizontalAdvance(TickText(first, step)), metrics.horizontalAdvance(TickText(last, step)));
        const double wider = TickStep(s.view.pixelsPerSecond, widest + 4 * kLabelGap);
        if (wider <= step) break;
        step = wider;
    }
    return step;
}

// Ticks at whole multiples of the step from the timeline's start, each text
// centred under its tick where it fits within the area and beside the one
// before.
void PlaceTicks(double origin, const Scale& s, const QFontMetricsF& metrics, TimelineLayout& layout) {
    const double from = s.view.secondsAt - origin;
    const double step = layout.tickStep = RoundTickStep(from, s, metrics);
    const double top = LaneRect(s.area, false).bottom() + 2 * kPlays + 2;
    double lastRight = -1e300;
    const double first = std::ceil(from / step - 1e-9);
    for (double k = first; k < first + 10'000; k += 1) {
        PlacedTick tick{k * step, s.x(origin + k * step), {}, {}};
        if (tick.x > s.area.right()) break;
        if (tick.x < s.left() - 0.5) continue;
        const QString text = TickText(tick.seconds, step);
        const double w = metrics.horizontalAdvance(text);
        const QRectF rect(tick.x - w / 2, top + 4, w, kAxis - 6);
        if (rect.left() >= std::max(s.area.left(), lastRight + kLabelGap) && rect.right() <= s.area.right()) {
            tick.rect = rect;
            tick.text = text;
            lastRight = rect.right();
        }
        layout.ticks.push_back(tick);
    }
}
}  // namespace

TimelineLayout LayOutTimeline(const Timeline& timeline, const TimelineView& view, const QRectF& area,
                              const QFontMetricsF& metrics) {
    const Scale s{view, area};
    TimelineLayout layout;
    layout.boxes = PlaceBoxes(timeline, view, area, metrics);
    PlaceJoins(timeline, s, layout);
    PlaceLatencies(timeline, s, metrics, layout);
    layout.steps = PlaceStepNames(timeline.bands, s, metrics);
    PlaceTicks(timeline.start, s, metrics, layout);
    return layout;
}

namespace {
// What every part of the drawing shares: the area, the zoom, the font.
struct Canvas {
    QPainter& painter;
    const TimelineView& view;
    QRectF area;
    QFontMetricsF metrics;
    double left() const { return area.left() + kLaneNames; }
    double x(double t) const { return left() + (t - view.secondsAt) * view.pixelsPerSecond; }
};

// Spans in a strip at `top`, each labelled within itself unless `named` is false.
void DrawSpans(const Canvas& c, const std::vector<TimelineSpan>& spans, double top, double height, bool named = true) {
    for (const TimelineSpan& span : spans) {
        const double l = std::max(c.x(span.start), c.left()), r = std::min(c.x(span.end), c.area.right());
        if (r < c.left() || l > c.area.right()) continue;
        const QRectF rect(l, top, std::max(1.0, r - l), height);
        c.painter.fillRect(rect, span.colour);
        if (!named || rect.width() <= 16) continue;
        c.painter.setPen(Qt::black);
        c.painter.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                           c.metrics.elidedText(span.label, Qt::ElideRight, rect.width() - 4));
    }
}

// The steps' bands with their names above them, each name from a short mark
// at its step's start.
void DrawSteps(const Canvas& c, const Timeline& timeline, const std::vector<PlacedLabel>& names) {
    DrawSpans(c, timeline.bands, c.area.top() + kStepNames, kStepBand, false);
    for (const PlacedLabel& name : names) {
        c.painter.setPen(timeline.bands[name.index].colour.darker(160));
        c.painter.drawLine(QPointF(name.rect.left(), name.rect.top() + 2),
                           QPointF(name.rect.left(), name.rect.bottom()));
        c.painter.setPen(Qt::black);
        c.painter.drawText(name.rect.adjusted(3, 0, 3, 0), Qt::AlignVCenter | Qt::AlignLeft, name.text);
    }
}

void DrawBoxesAndJoins(const Canvas& c, const Timeline& timeline, const TimelineLayout& layout) {
    for (const PlacedBox& p : layout.boxes) {
        c.painter.fillRect(p.rect, BoxColour(timeline.boxes[p.box]));
        c.painter.setPen(Qt::white);
        c.painter.drawText(p.rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, p.text);
    }
    c.painter.setPen(QPen(QColor(120, 120, 120), 1));
    for (const PlacedJoin& j : layout.joins) c.painter.drawLine(j.line);
    c.painter.setPen(Qt::black);
    for (const PlacedLabel& l : layout.latencies) c.painter.drawText(l.rect, Qt::AlignCenter, l.text);
}

void DrawAxis(const Canvas& c, const TimelineLayout& layout) {
    const double top = LaneRect(c.area, false).bottom() + 2 * kPlays + 2;
    c.painter.setPen(Qt::black);
    c.painter.drawLine(QPointF(c.left(), top), QPointF(c.area.right(), top));
    for (const PlacedTick& tick : layout.ticks) {
        c.painter.drawLine(QPointF(tick.x, top), QPointF(tick.x, top + 4));
        if (!tick.text.isEmpty()) c.painter.drawText(tick.rect, Qt::AlignHCenter | Qt::AlignTop, tick.text);
    }
}

QFont TimelineFont(QFont font) {
    font.setPixelSize(11);
    return font;
}
}  // namespace

void DrawTimeline(QPainter& painter, const Timeline& timeline, const TimelineView& view, const QRectF& area) {
    painter.save();
    painter.fillRect(area, Qt::white);
    const QFont font = TimelineFont(painter.font());
    painter.setFont(font);
    painter.setClipRect(area);
    const Canvas c{painter, view, area, QFontMetricsF(font)};
    const TimelineLayout layout = LayOutTimeline(timeline, view, area, c.metrics);
    DrawSteps(c, timeline, layout.steps);  // a self-test's steps
    painter.setPen(Qt::darkGray);
    painter.drawText(QRectF(area.left(), LaneRect(area, true).top(), kLaneNames, kLane), Qt::AlignCenter,
                     QStringLiteral("发送"));
    painter.drawText(QRectF(area.left(), LaneRect(area, false).top(), kLaneNames, kLane), Qt::AlignCenter,
                     QStringLiteral("接收"));
    DrawBoxesAndJoins(c, timeline, layout);
    // Plays, from their acceptance to their finish report; lyric streams below them.
    const double playTop = LaneRect(area, false).bottom() + 2;
    DrawSpans(c, timeline.plays, playTop, kPlays - 2);
    DrawSpans(c, timeline.streams, playTop + kPlays, kPlays - 2);
    DrawAxis(c, layout);
    painter.restore();
}

SvgPlan PlanSvg(double seconds, double pixelsPerSecond) {
    const double plot = kSvgMaxWidth - kLaneNames - kEndMargin;  // a row's time, in pixels
    seconds = std::isfinite(seconds) ? std::max(seconds, 1e-3) : 1e-3;
    SvgPlan plan;
    plan.pixelsPerSecond = std::isfinite(pixelsPerSecond) && pixelsPerSecond > 0 ? pixelsPerSecond : 1.0;
    plan.pixelsPerSecond = std::min(plan.pixelsPerSecond, kSvgMaxRows * plot / seconds);
    plan.rows = std::clamp(int(std::ceil(seconds * plan.pixelsPerSecond / plot - 1e-9)), 1, kSvgMaxRows);
    plan.rowSeconds = std::min(seconds, plot / plan.pixelsPerSecond);
    plan.size = QSize(int(std::ceil(kLaneNames + plan.rowSeconds * plan.pixelsPerSecond + kEndMargin)),
                      int(std::ceil(plan.rows * (kHeight + kRowGap))));
    return plan;
}

bool SaveTimelineSvg(const Timeline& timeline, double from, double to, double pixelsPerSecond, const QString& path,
                     const QString& title) {
    const SvgPlan plan = PlanSvg(to - from, pixelsPerSecond);
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(plan.size);
    svg.setViewBox(QRect(QPoint(0, 0), plan.size));
    // At 96 dots an inch its size in millimetres is its size in pixels to a viewer.
    svg.setResolution(96);
    svg.setTitle(title);
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    painter.fillRect(QRect(QPoint(0, 0), plan.size), Qt::white);
    for (int row = 0; row < plan.rows; ++row)
        DrawTimeline(painter, timeline, TimelineView{from + row * plan.rowSeconds, plan.pixelsPerSecond},
                     QRectF(0, row * (kHeight + kRowGap), plan.size.width(), kHeight));
    return painter.end();
}

TimelineWidget::TimelineWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(int(std::ceil(kHeight)));
    setMouseTracking(true);
}

QRectF TimelineWidget::plotArea() const { return QRectF(rect()); }

double TimelineWidget::secondsAtEnd() const {
    return view_.secondsAt + std::max(1.0, plotArea().width() - kLaneNames) / view_.pixelsPerSecond;
}

// From the start on, the end at most a margin from the right edge, zoomed
// out at most to show all.
void TimelineWidget::keepInRange() {
    const double width = std::max(1.0, plotArea().width() - kLaneNames);
    const double all = std::max(1.0, width - kEndMargin) / std::max(1e-3, timeline_.end - timeline_.start);
    view_.pixelsPerSecond =
        std::clamp(view_.pixelsPerSecond, std::min(all, kMostPixelsPerSecond), kMostPixelsPerSecond);
    const double last = timeline_.end + (kEndMargin - width) / view_.pixelsPerSecond;
    view_.secondsAt = std::clamp(view_.secondsAt, timeline_.start, std::max(timeline_.start, last));
}

void TimelineWidget::setTimeline(Timeline timeline) {
    timeline_ = std::move(timeline);
    if (followEnd_) {
        // Live: the last ten seconds or all, whichever is shorter, the end in view.
        const double width = std::max(1.0, plotArea().width() - kLaneNames);
        const double span = std::clamp(timeline_.end - timeline_.start, 0.05, 10.0);
        view_.pixelsPerSecond = width / span;
        view_.secondsAt = std::max(timeline_.start, timeline_.end - span);
    }
    keepInRange();
    update();
}

void TimelineWidget::zoom(double factor, double atX) {
    followEnd_ = false;
    const double at = view_.secondsAt + std::max(0.0, atX - kLaneNames) / view_.pixelsPerSecond;
    view_.pixelsPerSecond *= factor;
    keepInRange();
    view_.secondsAt = at - std::max(0.0, atX - kLaneNames) / view_.pixelsPerSecond;
    keepInRange();
    update();
}

void TimelineWidget::scrollBy(double pixels) {
    followEnd_ = false;
    view_.secondsAt += pixels / view_.pixelsPerSecond;
    keepInRange();
    update();
}

void TimelineWidget::showAll() {
    const double width = std::max(1.0, plotArea().width() - kLaneNames - kEndMargin);
    view_.pixelsPerSecond = width / std::max(1e-3, timeline_.end - timeline_.start);
    view_.secondsAt = timeline_.start;
    followEnd_ = true;
    keepInRange();
    update();
}

void TimelineWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    keepInRange();
}

void TimelineWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawTimeline(painter, timeline_, view_, plotArea());
}

void TimelineWidget::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (event->modifiers() & Qt::ControlModifier) zoom(std::pow(1.25, steps), event->position().x());
    else scrollBy(-steps * width() / 8.0);
    event->accept();
}

void TimelineWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(1.5, width() / 2.0); break;
    case Qt::Key_Minus: zoom(1 / 1.5, width() / 2.0); break;
    case Qt::Key_Left: scrollBy(-width() / 4.0); break;
    case Qt::Key_Right: scrollBy(width() / 4.0); break;
    case Qt::Key_Home: showAll(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

// A box's whole story, or the name of the step under the mouse.
QString TimelineWidget::tipAt(QPointF pos) const {
    const QRectF area = plotArea();
    if (pos.y() < area.top() + kSteps) {
        const double at = view_.secondsAt + (pos.x() - area.left() - kLaneNames) / view_.pixelsPerSecond;
        for (const TimelineSpan& band : timeline_.bands)
            if (band.start <= at && at < band.end) return band.label;
        return {};
    }
    for (const PlacedBox& p : PlaceBoxes(timeline_, view_, area, QFontMetricsF(TimelineFont(font()))))
        if (p.rect.contains(pos)) return timeline_.boxes[p.box].tip;
    return {};
}

bool TimelineWidget::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = tipAt(help->pos());
    if (tip.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), tip, this);
    return true;
}

TimelineWindow::TimelineWindow(const ChipConversation& conversation, QWidget* parent)
    : QWidget(parent, Qt::Window), conv_(conversation), view_(new TimelineWidget(this)), source_(new QLabel(this)),
      lines_(new QComboBox(this)), refresh_(new QTimer(this)) {
    setWindowTitle(QStringLiteral("通信时间线"));
    setObjectName(QStringLiteral("TimelineWindow"));
    resize(980, 220);
    auto* live = new QPushButton(QStringLiteral("实时"), this);
    auto* open = new QPushButton(QStringLiteral("打开抓包文件…"), this);
    auto* save = new QPushButton(QStringLiteral("保存为SVG…"), this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(source_, 1);
    bar->addWidget(lines_);
    lines_->setObjectName(QStringLiteral("lines"));
    lines_->setToolTip(QStringLiteral("抓包文件中的线路（测试台的槽位）"));
    lines_->hide();
    for (QPushButton* b : {live, open, save}) bar->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    openPath_ = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("打开抓包文件"), QString(),
                                            QStringLiteral("pcapng 抓包文件 (*.pcapng);;所有文件 (*)"));
    };
    savePath_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存时间线"), QStringLiteral("vorla-line.svg"),
                                            QStringLiteral("SVG (*.svg)"));
    };
    connect(live, &QPushButton::clicked, this, &TimelineWindow::showLive);
    connect(open, &QPushButton::clicked, this, &TimelineWindow::openCapture);
    connect(save, &QPushButton::clicked, this, &TimelineWindow::saveSvg);
    connect(lines_, &QComboBox::textActivated, this, &TimelineWindow::showLine);
    // Live: redrawn at most a few times a second, from the latest entries.
    refresh_->setSingleShot(true);
    refresh_->setInterval(250);
    connect(refresh_, &QTimer::timeout, this, [this] {
        const auto& all = conv_.lineRecord().entries();
        const auto from = all.size() > kLiveEntries ? all.end() - qsizetype(kLiveEntries) : all.begin();
        view_->setTimeline(BuildTimeline(std::deque<LineEntry>(from, all.end())));
    });
    connect(&conv_, &ChipConversation::lineRecorded, this, [this] {
        if (live_ && !refresh_->isActive()) refresh_->start();
    });
    showLive();
}

void TimelineWindow::showLive() {
    live_ = true;
    lines_->hide();
    source_->setText(QStringLiteral("本窗口的通信（实时）"));
    refresh_->start(0);
}

void TimelineWindow::openCapture() {
    const QString path = openPath_ ? openPath_() : QString();
    if (path.isEmpty()) return;
    QFile file(path);
    QString error;
    std::optional<capture::Capture> capture;
    if (file.open(QIODevice::ReadOnly)) capture = capture::Read(file.readAll(), &error);
    else error = file.errorString();
    if (!capture) {
        source_->setText(QStringLiteral("无法打开 %1：%2").arg(path, error));
        return;
    }
    live_ = false;
    refresh_->stop();
    opened_ = std::move(capture);
    openedPath_ = path;
    // Each line that carries packets; a station's capture has one a slot.
    std::vector<int> counts(opened_->interfaces.size(), 0);
    for (const capture::Packet& p : opened_->packets)
        if (p.interface < counts.size()) ++counts[p.interface];
    lines_->clear();
    for (size_t i = 0; i < counts.size(); ++i)
        if (counts[i] > 0) lines_->addItem(opened_->interfaces[i].name);
    lines_->setVisible(lines_->count() > 1);
    showLine(lines_->count() > 0 ? lines_->itemText(0) : QString());
}

void TimelineWindow::showLine(const QString& name) {
    if (!opened_) return;
    QString error;
    const auto line = name.isEmpty() ? opened_ : capture::LineOf(*opened_, name, &error);
    if (!line) {
        source_->setText(QStringLiteral("无法打开 %1：%2").arg(openedPath_, error));
        return;
    }
    lines_->setCurrentText(name);
    source_->setText(lines_->count() > 1
                         ? QStringLiteral("%1：%2（%3 个包）").arg(openedPath_, name).arg(line->packets.size())
                         : QStringLiteral("%1（%2 个包）").arg(openedPath_).arg(line->packets.size()));
    view_->setTimeline(BuildTimeline(EntriesOf(*line)));
    view_->showAll();
}

QStringList TimelineWindow::lines() const {
    QStringList names;
    for (int i = 0; i < lines_->count(); ++i) names << lines_->itemText(i);
    return names;
}

void TimelineWindow::saveSvg() {
    const QString path = savePath_ ? savePath_() : QString();
    if (path.isEmpty()) return;
    // What is in view, at its zoom.
    const bool ok = SaveTimelineSvg(view_->timeline(), view_->view().secondsAt, view_->secondsAtEnd(),
                                    view_->view().pixelsPerSecond, path, windowTitle());
    source_->setText(ok ? QStringLiteral("时间线已保存：%1").arg(path)
                        : QStringLiteral("时间线保存失败：%1").arg(path));
}

}  // namespace vorla
