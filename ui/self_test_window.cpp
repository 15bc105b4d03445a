// SPDX-License-Identifier: MIT
#include "ui/self_test_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QTableWidget>
#include <QVBoxLayout>

#include "codes/self_test_report.h"

namespace vorla {

namespace {
using Verdict = SelfTestResult::Verdict;

QColor VerdictColour(Verdict v) {
    switch (v) {
    case Verdict::Pass: return QColor(0, 140, 0);
    case Verdict::Warning: return QColor(200, 120, 0);
    case Verdict::Fail: return QColor(200, 0, 0);
    case Verdict::NotRun: return QColor(128, 128, 128);
    }
    return Qt::black;
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

constexpr double kLabelWidth = 160;
constexpr double kRowHeight = 12;

class TimelineView : public QWidget {
public:
    explicit TimelineView(const SelfTest& test, QWidget* parent) : QWidget(parent), test_(test) {
        setMinimumHeight(160);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        DrawTimeline(painter, test_.report(), QRectF(rect()));
    }

private:
    const SelfTest& test_;
};
}  // namespace

void DrawTimeline(QPainter& painter, const SelfTestReport& report, const QRectF& area) {
    const size_t n = report.steps.size();
    if (n == 0) return;
    double end = 0.001;
    for (const SelfTestResult& r : report.results) end = std::max({end, r.sentAt, r.acceptedAt, r.finishedAt});
    const double row = std::min(kRowHeight, area.height() / double(n));
    const double scale = (area.width() - kLabelWidth - 10) / end;
    QFont font = painter.font();
    font.setPixelSize(std::max(6, int(row) - 2));
    painter.setFont(font);
    for (size_t i = 0; i < n; ++i) {
        const SelfTestResult& r = report.results[i];
        const double y = area.top() + double(i) * row;
        painter.setPen(Qt::black);
        painter.drawText(QRectF(area.left(), y, kLabelWidth - 4, row), Qt::AlignRight | Qt::AlignVCenter,
                         report.steps[i].name.left(16));
        if (r.sentAt < 0) continue;
        const auto x = [&](double t) { return area.left() + kLabelWidth + t * scale; };
        const double accepted = r.acceptedAt >= 0 ? r.acceptedAt : r.sentAt;
        // Sent to accepted, then accepted to finished (lighter).
        painter.fillRect(QRectF(x(r.sentAt), y + 1, std::max(1.0, x(accepted) - x(r.sentAt)), row - 2),
                         VerdictColour(r.verdict));
        if (r.finishedAt >= 0)
            painter.fillRect(QRectF(x(accepted), y + row / 4, std::max(1.0, x(r.finishedAt) - x(accepted)), row / 2),
                             VerdictColour(r.verdict).lighter(160));
        if (r.resends > 0 || r.reply.startsWith(QStringLiteral("rejected"))) {
            painter.setPen(QPen(Qt::red, 2));
            painter.drawLine(QPointF(x(r.sentAt), y), QPointF(x(r.sentAt), y + row));  // a rejection
        }
    }
}

bool SaveTimelineSvg(const SelfTestReport& report, const QString& path) {
    QSvgGenerator svg;
    svg.setFileName(path);
    const QSize size(900, int(20 + kRowHeight * double(report.steps.size())));
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("芯片自检 %1").arg(report.options.dut));
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    DrawTimeline(painter, report, QRectF(0, 10, size.width(), size.height() - 20));
    return painter.end();
}

SelfTestWindow::SelfTestWindow(ChipConversation& conversation, QWidget* parent)
    : QWidget(parent, Qt::Window), conv_(conversation), test_(conversation, conversation.clock()),
      dut_(new QLineEdit(this)), mode_(new QComboBox(this)), start_(new QPushButton(QStringLiteral("开始"), this)),
      stop_(new QPushButton(QStringLiteral("停止"), this)), save_(new QPushButton(QStringLiteral("保存报告…"), this)),
      saveTimeline_(new QPushButton(QStringLiteral("保存时间线…"), this)), progress_(new QProgressBar(this)),
      summary_(new QLabel(this)), table_(new QTableWidget(this)), timeline_(new TimelineView(test_, this)) {
    setWindowTitle(QStringLiteral("芯片自检"));
    setObjectName(QStringLiteral("SelfTestWindow"));
    resize(900, 640);
    dut_->setPlaceholderText(QStringLiteral("被测芯片编号"));
    mode_->addItems({QStringLiteral("快速（播放受理后即停止）"), QStringLiteral("完整（等待播完报告）")});
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("芯片："), this));
    for (QWidget* w : std::initializer_list<QWidget*>{dut_, mode_, start_, stop_, save_, saveTimeline_})
        bar->addWidget(w);
    table_->setColumnCount(7);
    table_->setHorizontalHeaderLabels({QStringLiteral("步骤"), QStringLiteral("帧"), QStringLiteral("内容"),
                                       QStringLiteral("应答"), QStringLiteral("时延 ms"), QStringLiteral("播放 s"),
                                       QStringLiteral("结果")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(progress_);
    layout->addWidget(summary_);
    layout->addWidget(table_, 3);
    layout->addWidget(timeline_, 2);
    stop_->setEnabled(false);
    save_->setEnabled(false);
    saveTimeline_->setEnabled(false);
    savePath_ = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存"), suggested);
    };
    connect(start_, &QPushButton::clicked, this, &SelfTestWindow::startRun);
    connect(stop_, &QPushButton::clicked, this, &SelfTestWindow::stopRun);
    connect(save_, &QPushButton::clicked, this, &SelfTestWindow::saveReport);
    connect(saveTimeline_, &QPushButton::clicked, this, &SelfTestWindow::saveTimeline);
    connect(&test_, &SelfTest::stepFinished, this, &SelfTestWindow::showStep);
    connect(&test_, &SelfTest::finished, this, &SelfTestWindow::showFinished);
}

void SelfTestWindow::startRun() {
    if (test_.running()) return;
    SelfTestOptions options;
    options.full = mode_->currentIndex() == 1;
    options.dut = dut_->text().trimmed();
    options.port = conv_.portName();
    options.version = QCoreApplication::applicationVersion();
    options.startBaudIndex = conv_.portBaudIndex();
    test_.start(options);
    const SelfTestReport& report = test_.report();
    table_->setRowCount(int(report.steps.size()));
    for (int i = 0; i < int(report.steps.size()); ++i) {
        table_->setItem(i, 0,
                        new QTableWidgetItem(report.steps[size_t(i)].group + u' ' + report.steps[size_t(i)].name));
        for (int c = 1; c < 7; ++c) table_->setItem(i, c, new QTableWidgetItem);
    }
    progress_->setRange(0, int(report.steps.size()));
    progress_->setValue(0);
    summary_->clear();
    start_->setEnabled(false);
    stop_->setEnabled(true);
}

void SelfTestWindow::stopRun() { test_.stop(); }

void SelfTestWindow::showStep(int index) {
    const SelfTestResult& r = test_.report().results[size_t(index)];
    const QString cells[] = {
        Hex(r.frame),
        r.words,
        r.reply + (r.resends > 0 ? QStringLiteral("（重发%1次）").arg(r.resends) : QString()),
        r.latencyMs >= 0 ? QString::number(r.latencyMs, 'f', 1) : QString(),
        r.playSeconds >= 0 ? QString::number(r.playSeconds, 'f', 2) : QString(),
        VerdictText(r.verdict) + (r.message.isEmpty() ? QString() : QStringLiteral("：") + r.message)};
    for (int c = 0; c < 6; ++c) table_->item(index, c + 1)->setText(cells[c]);
    table_->item(index, 6)->setForeground(VerdictColour(r.verdict));
    progress_->setValue(index + 1);
    timeline_->update();
}

void SelfTestWindow::showFinished() {
    const SelfTestReport& report = test_.report();
    for (int i = 0; i < int(report.results.size()); ++i) {
        if (report.results[size_t(i)].verdict != Verdict::NotRun) continue;
        table_->item(i, 6)->setText(VerdictText(Verdict::NotRun) + QStringLiteral("：") +
                                    report.results[size_t(i)].message);
        table_->item(i, 6)->setForeground(VerdictColour(Verdict::NotRun));
    }
    summary_->setText(QStringLiteral("%1 步，%2 秒：通过 %3，警告 %4，失败 %5，未运行 %6")
                          .arg(report.steps.size())
                          .arg(report.seconds, 0, 'f', 1)
                          .arg(report.count(Verdict::Pass))
                          .arg(report.count(Verdict::Warning))
                          .arg(report.count(Verdict::Fail))
                          .arg(report.count(Verdict::NotRun)));
    start_->setEnabled(true);
    stop_->setEnabled(false);
    save_->setEnabled(true);
    saveTimeline_->setEnabled(true);
    timeline_->update();
}

void SelfTestWindow::saveReport() {
    const QString path = savePath_ ? savePath_(DefaultReportName(test_.report(), QStringLiteral("xml"))) : QString();
    if (path.isEmpty()) return;
    QSaveFile file(path);
    const bool ok =
        file.open(QIODevice::WriteOnly) && file.write(ReportFor(path, test_.report())) >= 0 && file.commit();
    summary_->setText(ok ? QStringLiteral("报告已保存：%1").arg(path)
                         : QStringLiteral("报告保存失败：%1：%2").arg(path, file.errorString()));
}

void SelfTestWindow::saveTimeline() {
    const QString path = savePath_ ? savePath_(DefaultReportName(test_.report(), QStringLiteral("svg"))) : QString();
    if (path.isEmpty()) return;
    const bool ok = SaveTimelineSvg(test_.report(), path);
    summary_->setText(ok ? QStringLiteral("时间线已保存：%1").arg(path)
                         : QStringLiteral("时间线保存失败：%1").arg(path));
}

}  // namespace vorla
