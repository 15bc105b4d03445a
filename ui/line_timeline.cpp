// SPDX-License-Identifier: MIT
#include "ui/line_timeline.h"

#include <algorithm>
#include <cmath>

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
// Heights of the strips, from the top: steps, sent, joins, received, plays
// and lyric streams, axis.
constexpr double kBand = 16, kLane = 24, kJoins = 26, kPlays = 14, kAxis = 22, kLaneNames = 40;

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
        const auto note = capture::ParseNote(e.event);
        if (note && note->type == capture::Note::Type::Message && !e.bytes.isEmpty()) message(e, *note);
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
        const auto note = capture::ParseNote(e.event);
        if (note && note->resend > 0) box.mark = TimelineBox::Mark::Resent;
        box.tip = QStringLiteral("%1 s  发出 %2\n%3").arg(e.at, 0, 'f', 6).arg(HexBytes(e.bytes), box.label);
        if (note) exchange_ = note->exchange;
        lastFrame_ = e.bytes;
        closeLyrics();
        frameBox_ = t_.boxes.size();
        push(std::move(box));
    }
    void message(const LineEntry& e, const capture::Note& note) {
        TimelineBox box{std::max(e.at - wire(e.bytes), lastReadEnd_), e.at, false,
                        MessageWords(note.kind, e.bytes.size()), {}, TimelineBox::Mark::None};
        if (note.kind == QStringLiteral("finished")) box.mark = TimelineBox::Mark::Finished;
        if (note.kind == QStringLiteral("rejected")) box.mark = TimelineBox::Mark::Rejected;
        box.tip = QStringLiteral("%1 s  收到 %2\n%3").arg(e.at, 0, 'f', 6).arg(HexBytes(e.bytes), box.label);
        lastReadEnd_ = e.at;
        const size_t index = t_.boxes.size();
        push(std::move(box));
        const bool ours = note.exchange == exchange_ && frameBox_ < index;
        if (note.latencyMs && ours) {
            t_.joins.push_back(TimelineJoin{frameBox_, index, *note.latencyMs});
            if (note.kind == QStringLiteral("accepted") && IsPlayFrame(lastFrame_))
                openPlay(e.at, t_.boxes[frameBox_].label);
        }
        if (note.kind == QStringLiteral("finished")) closePlay(e.at, true);
        if (note.kind == QStringLiteral("lyrics")) {
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
    const double top = area.top() + kBand + (sent ? 0 : kLane + kJoins);
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
    for (const capture::Packet& p : capture.packets)
        entries.push_back(
            LineEntry{double(p.micros - first) * 1e-6, int16_t(p.interface + 1), p.direction, p.bytes, p.comment});
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
    if (step < 1e-3) return QStringLiteral("%1 µs").arg(std::round(seconds * 1e6));
    if (step < 1) return QStringLiteral("%1 ms").arg(std::round(seconds * 1e3));
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 0);
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

// Spans in a strip at `top`, each labelled within itself.
void DrawSpans(const Canvas& c, const std::vector<TimelineSpan>& spans, double top, double height) {
    for (const TimelineSpan& span : spans) {
        const double l = std::max(c.x(span.start), c.left()), r = std::min(c.x(span.end), c.area.right());
        if (r < c.left() || l > c.area.right()) continue;
        const QRectF rect(l, top, std::max(1.0, r - l), height);
        c.painter.fillRect(rect, span.colour);
        if (rect.width() <= 16) continue;
        c.painter.setPen(Qt::black);
        c.painter.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                           c.metrics.elidedText(span.label, Qt::ElideRight, rect.width() - 4));
    }
}

// The boxes in their lanes, then each frame joined to its reply with the
// latency on the join, labels never on one another.
void DrawBoxesAndJoins(const Canvas& c, const Timeline& timeline) {
    const std::vector<PlacedBox> placed = PlaceBoxes(timeline, c.view, c.area, c.metrics);
    std::vector<const PlacedBox*> byBox(timeline.boxes.size(), nullptr);
    for (const PlacedBox& p : placed) {
        byBox[p.box] = &p;
        c.painter.fillRect(p.rect, BoxColour(timeline.boxes[p.box]));
        c.painter.setPen(Qt::white);
        c.painter.drawText(p.rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, p.text);
    }
    double lastLabelRight = -1e300;
    const double top = LaneRect(c.area, true).bottom(), bottom = LaneRect(c.area, false).top();
    for (const TimelineJoin& j : timeline.joins) {
        const PlacedBox* s = byBox[j.sent];
        const PlacedBox* r = byBox[j.reply];
        if (!s || !r) continue;
        c.painter.setPen(QPen(QColor(120, 120, 120), 1));
        c.painter.drawLine(QPointF(s->rect.right(), top), QPointF(r->rect.right(), bottom));
        const QString text = QStringLiteral("%1 ms").arg(j.latencyMs, 0, 'f', 1);
        const double w = c.metrics.horizontalAdvance(text);
        const double cx = (s->rect.right() + r->rect.right()) / 2;
        if (cx - w / 2 < std::max(lastLabelRight + 4, c.left())) continue;
        c.painter.setPen(Qt::black);
        c.painter.drawText(QRectF(cx - w / 2, top + 2, w, kJoins - 4), Qt::AlignCenter, text);
        lastLabelRight = cx + w / 2;
    }
}

void DrawAxis(const Canvas& c, double top, double start) {
    c.painter.setPen(Qt::black);
    c.painter.drawLine(QPointF(c.left(), top), QPointF(c.area.right(), top));
    const double step = TickStep(c.view.pixelsPerSecond);
    for (double t = std::ceil(c.view.secondsAt / step) * step; c.x(t) <= c.area.right(); t += step) {
        c.painter.drawLine(QPointF(c.x(t), top), QPointF(c.x(t), top + 4));
        c.painter.drawText(QRectF(c.x(t) - 40, top + 4, 80, kAxis - 6), Qt::AlignHCenter | Qt::AlignTop,
                           TickText(t - start, step));
    }
}
}  // namespace

void DrawTimeline(QPainter& painter, const Timeline& timeline, const TimelineView& view, const QRectF& area) {
    painter.save();
    painter.fillRect(area, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setClipRect(area);
    const Canvas c{painter, view, area, QFontMetricsF(font)};
    DrawSpans(c, timeline.bands, area.top(), kBand - 2);  // a self-test's steps
    painter.setPen(Qt::darkGray);
    painter.drawText(QRectF(area.left(), LaneRect(area, true).top(), kLaneNames, kLane), Qt::AlignCenter,
                     QStringLiteral("发送"));
    painter.drawText(QRectF(area.left(), LaneRect(area, false).top(), kLaneNames, kLane), Qt::AlignCenter,
                     QStringLiteral("接收"));
    DrawBoxesAndJoins(c, timeline);
    // Plays, from their acceptance to their finish report; lyric streams below them.
    const double playTop = LaneRect(area, false).bottom() + 2;
    DrawSpans(c, timeline.plays, playTop, kPlays - 2);
    DrawSpans(c, timeline.streams, playTop + kPlays, kPlays - 2);
    DrawAxis(c, playTop + 2 * kPlays + 2, timeline.start);
    painter.restore();
}

bool SaveTimelineSvg(const Timeline& timeline, double pixelsPerSecond, const QString& path, const QString& title) {
    const double seconds = std::max(0.001, timeline.end - timeline.start);
    const QSize size(int(std::min(2e5, kLaneNames + seconds * pixelsPerSecond + 40)),
                     int(kBand + 2 * kLane + kJoins + 2 * kPlays + kAxis + 8));
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(title);
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    DrawTimeline(painter, timeline, TimelineView{timeline.start, pixelsPerSecond}, QRectF(QPointF(0, 0), size));
    return painter.end();
}

TimelineWidget::TimelineWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(int(kBand + 2 * kLane + kJoins + 2 * kPlays + kAxis + 8));
    setMouseTracking(true);
}

QRectF TimelineWidget::plotArea() const { return QRectF(rect()); }

void TimelineWidget::setTimeline(Timeline timeline) {
    timeline_ = std::move(timeline);
    if (followEnd_) {
        // Live: the last ten seconds or all, whichever is shorter, the end in view.
        const double width = std::max(1.0, plotArea().width() - kLaneNames);
        const double span = std::clamp(timeline_.end - timeline_.start, 0.05, 10.0);
        view_.pixelsPerSecond = width / span;
        view_.secondsAt = std::max(timeline_.start, timeline_.end - span);
    }
    update();
}

void TimelineWidget::zoom(double factor, double atX) {
    followEnd_ = false;
    const double at = view_.secondsAt + std::max(0.0, atX - kLaneNames) / view_.pixelsPerSecond;
    view_.pixelsPerSecond = std::clamp(view_.pixelsPerSecond * factor, 1e-3, 1e7);
    view_.secondsAt = at - std::max(0.0, atX - kLaneNames) / view_.pixelsPerSecond;
    update();
}

void TimelineWidget::scrollBy(double pixels) {
    followEnd_ = false;
    view_.secondsAt += pixels / view_.pixelsPerSecond;
    update();
}

void TimelineWidget::showAll() {
    const double width = std::max(1.0, plotArea().width() - kLaneNames - 10);
    view_.pixelsPerSecond = width / std::max(0.001, timeline_.end - timeline_.start);
    view_.secondsAt = timeline_.start;
    followEnd_ = true;
    update();
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

bool TimelineWidget::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    QFont font = this->font();
    font.setPixelSize(11);
    for (const PlacedBox& p : PlaceBoxes(timeline_, view_, plotArea(), QFontMetricsF(font))) {
        if (!p.rect.contains(help->pos())) continue;
        QToolTip::showText(help->globalPos(), timeline_.boxes[p.box].tip, this);
        return true;
    }
    QToolTip::hideText();
    return true;
}

TimelineWindow::TimelineWindow(const ChipConversation& conversation, QWidget* parent)
    : QWidget(parent, Qt::Window), conv_(conversation), view_(new TimelineWidget(this)), source_(new QLabel(this)),
      refresh_(new QTimer(this)) {
    setWindowTitle(QStringLiteral("通信时间线"));
    setObjectName(QStringLiteral("TimelineWindow"));
    resize(980, 220);
    auto* live = new QPushButton(QStringLiteral("实时"), this);
    auto* open = new QPushButton(QStringLiteral("打开抓包文件…"), this);
    auto* save = new QPushButton(QStringLiteral("保存为SVG…"), this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(source_, 1);
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
    source_->setText(QStringLiteral("%1（%2 个包）").arg(path).arg(capture->packets.size()));
    view_->setTimeline(BuildTimeline(EntriesOf(*capture)));
    view_->showAll();
}

void TimelineWindow::saveSvg() {
    const QString path = savePath_ ? savePath_() : QString();
    if (path.isEmpty()) return;
    // As wide as the shortest box needs to be read, within what an SVG viewer takes.
    const Timeline& t = view_->timeline();
    double shortest = 1.0;
    for (const TimelineBox& b : t.boxes) shortest = std::min(shortest, std::max(1e-4, b.end - b.start));
    const double pps =
        std::min(std::max(view_->view().pixelsPerSecond, 60.0 / shortest), 1.9e5 / std::max(0.001, t.end - t.start));
    const bool ok = SaveTimelineSvg(t, pps, path, windowTitle());
    source_->setText(ok ? QStringLiteral("时间线已保存：%1").arg(path)
                        : QStringLiteral("时间线保存失败：%1").arg(path));
}

}  // namespace vorla
