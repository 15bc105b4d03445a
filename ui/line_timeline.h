// SPDX-License-Identifier: MIT
// The line on a time axis: two lanes (sent, received), each frame and each
// read a box labelled in words, each frame joined to the reply that answers
// it with the latency written on the join, rejections and resends marked,
// plays as spans from their acceptance to their finish report, lyric streams
// as spans from their first read to their last, and, for a
// self-test run, its steps as bands coloured by verdict. One painter draws it
// for the window and for SVG files.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include <QColor>
#include <QFontMetricsF>
#include <QLineF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QWidget>

class QComboBox;

#include "conversation/conversation.h"
#include "conversation/line_record.h"

class QLabel;
class QPainter;
class QTimer;

namespace vorla {

struct TimelineBox {
    enum class Mark { None, Rejected, Resent, Finished };
    double start = 0;  // seconds, the frame's first byte on the wire / the read's
    double end = 0;
    bool sent = true;
    QString label;  // in words
    QString tip;    // the whole story: time, bytes, words
    Mark mark = Mark::None;
};
struct TimelineJoin {
    size_t sent = 0;  // boxes joined
    size_t reply = 0;
    double latencyMs = 0;  // the frame's last byte on the wire to the reply's last byte read
};
struct TimelineSpan {
    double start = 0;
    double end = 0;
    QString label;
    QColor colour;
};
struct Timeline {
    std::vector<TimelineBox> boxes;
    std::vector<TimelineJoin> joins;
    std::vector<TimelineSpan> plays;
    std::vector<TimelineSpan> streams;  // lyric streams, from their first read to their last
    std::vector<TimelineSpan> bands;    // a self-test's steps
    double start = 0;
    double end = 0;
};

// The timeline of a line's record.
Timeline BuildTimeline(const std::deque<LineEntry>& entries);
// The same from a capture read back (its times from its first packet).
std::deque<LineEntry> EntriesOf(const capture::Capture& capture);

// Where things go at a zoom: `secondsAt` is the time at the area's left edge.
struct TimelineView {
    double secondsAt = 0;
    double pixelsPerSecond = 100;
};
struct PlacedBox {
    size_t box = 0;
    QRectF rect;
    QString text;  // elided to fit inside the box; empty when nothing fits
};
struct PlacedJoin {
    size_t join = 0;
    QLineF line;  // from the frame's right end to the reply's
};
struct PlacedLabel {
    size_t index = 0;  // the join's or the step's
    QRectF rect;
    QString text;
};
struct PlacedTick {
    double seconds = 0;  // from the timeline's start: a whole number of steps
    double x = 0;
    QRectF rect;  // its text's; empty (and no text) where the text would not fit
    QString text;
};
// Everything the painter draws at a zoom, placed so that no label lies on
// another or on a join: boxes in their lanes, joins, each latency beside its
// join (left out where there is no room), the steps' names each at its
// step's start (left out where the name before reaches it), and the axis'
// ticks at whole multiples of a round step from the timeline's start.
struct TimelineLayout {
    std::vector<PlacedBox> boxes;
    std::vector<PlacedJoin> joins;
    std::vector<PlacedLabel> latencies;
    std::vector<PlacedLabel> steps;
    double tickStep = 0;
    std::vector<PlacedTick> ticks;
};
// The boxes in `area` at `view`: inside their lane, never overlapping the
// one before in the same lane, their labels elided within them.
std::vector<PlacedBox> PlaceBoxes(const Timeline& timeline, const TimelineView& view, const QRectF& area,
                                  const QFontMetricsF& metrics);
TimelineLayout LayOutTimeline(const Timeline& timeline, const TimelineView& view, const QRectF& area,
                              const QFontMetricsF& metrics);
// The axis' tick step for a zoom: 1, 2 or 5 times a power of ten seconds,
// at least `minPixels` apart.
double TickStep(double pixelsPerSecond, double minPixels = 80);
// A tick's time in seconds with as many decimals as the step has: 0.5 s, 1 s, 1.5 s.
QString TickText(double seconds, double step);
// The height the drawing takes: one row of the picture.
double TimelineHeight();

void DrawTimeline(QPainter& painter, const Timeline& timeline, const TimelineView& view, const QRectF& area);

// A picture of the time from `from` to `to` goes into rows of at most
// kSvgMaxWidth pixels, one under the other, at most kSvgMaxRows of them:
// a longer time is drawn at a lower zoom, so that any viewer opens it.
inline constexpr int kSvgMaxWidth = 2400;
inline constexpr int kSvgMaxRows = 16;
struct SvgPlan {
    double pixelsPerSecond = 0;  // at most the zoom asked for
    double rowSeconds = 0;
    int rows = 1;
    QSize size;
};
SvgPlan PlanSvg(double seconds, double pixelsPerSecond);
// The time from `from` to `to` as an SVG file, laid out by PlanSvg; false
// when it cannot be written.
bool SaveTimelineSvg(const Timeline& timeline, double from, double to, double pixelsPerSecond, const QString& path,
                     const QString& title);

// The timeline in a widget: the wheel scrolls, Ctrl+wheel and +/- zoom,
// the arrow keys scroll, Home shows all; a box's whole story and a step's
// name in their tooltips. It never scrolls before the start, nor past the
// end further than a margin, nor zooms out further than shows all.
class TimelineWidget : public QWidget {
    Q_OBJECT
public:
    explicit TimelineWidget(QWidget* parent = nullptr);
    void setTimeline(Timeline timeline);
    const Timeline& timeline() const { return timeline_; }
    const TimelineView& view() const { return view_; }
    void zoom(double factor, double atX);
    void scrollBy(double pixels);
    void showAll();
    // The time at the right edge.
    double secondsAtEnd() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF plotArea() const;
    void keepInRange();
    QString tipAt(QPointF pos) const;
    Timeline timeline_;
    TimelineView view_;
    bool followEnd_ = true;  // a live timeline keeps its end in view until scrolled
};

// 通信时间线: the conversation's line, live (its latest entries), or a
// capture file opened into it (of a station's capture, one slot's line at a
// time, chosen beside it); what is in view saved as SVG.
class TimelineWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr size_t kLiveEntries = 20'000;

    explicit TimelineWindow(const ChipConversation& conversation, QWidget* parent = nullptr);
    TimelineWidget& view() { return *view_; }
    // Where captures are opened from and SVG files saved to (file dialogs by
    // default); tests replace them.
    void setOpenPathSource(std::function<QString()> source) { openPath_ = std::move(source); }
    void setSavePathSource(std::function<QString()> source) { savePath_ = std::move(source); }
    void openCapture();
    void saveSvg();
    void showLive();
    // The opened capture's line of this interface (a station's slot).
    void showLine(const QString& name);
    QStringList lines() const;

private:
    const ChipConversation& conv_;
    TimelineWidget* view_;
    QLabel* source_;
    QComboBox* lines_;
    std::optional<capture::Capture> opened_;
    QString openedPath_;
    QTimer* refresh_;
    bool live_ = true;
    std::function<QString()> openPath_;
    std::function<QString()> savePath_;
};

}  // namespace vorla
