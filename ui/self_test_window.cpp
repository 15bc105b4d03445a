// SPDX-License-Identifier: MIT
#include "ui/self_test_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSysInfo>
#include <QTableWidget>
#include <QVBoxLayout>

#include "protocol/frame_words.h"
#include "protocol/hex_text.h"
#include "selftest/report.h"
#include "ui/line_timeline.h"

namespace vorla {

namespace {
enum Column { kStep, kFrame, kWords, kReply, kLatency, kPlay, kVerdict, kColumns };

QColor OutcomeColour(Outcome o) {
    switch (o) {
    case Outcome::Pass: return QColor(0, 140, 0);
    case Outcome::Marginal: return QColor(200, 120, 0);
    case Outcome::Fail: return QColor(200, 0, 0);
    case Outcome::Error: return QColor(150, 0, 150);
    case Outcome::NotRun: return QColor(128, 128, 128);
    case Outcome::Incomplete: return QColor(90, 90, 200);
    }
    return Qt::black;
}

// A cell whose text may be cut by its column: the whole text in its tooltip.
void SetCell(QTableWidget& table, int row, int column, const QString& text) {
    QTableWidgetItem* item = table.item(row, column);
    item->setText(text);
    item->setToolTip(text);
}
}  // namespace

Timeline RunTimeline(const RunRecord& record, const LineRecord& line) {
    std::deque<LineEntry> entries;
    for (const LineEntry& e : line.entries())
        if (e.at >= record.clockStart) entries.push_back(e);
    Timeline timeline = BuildTimeline(entries);
    for (size_t i = 0; i < record.steps.size(); ++i) {
        const StepRecord& s = record.steps[i];
        if (s.measured.sentAt < 0) continue;
        const double next = i + 1 < record.steps.size() && record.steps[i + 1].measured.sentAt >= 0
                                ? record.steps[i + 1].measured.sentAt
                                : std::max(s.measured.sentAt, record.seconds);
        timeline.bands.push_back(TimelineSpan{record.clockStart + s.measured.sentAt, record.clockStart + next,
                                              s.step.name, OutcomeColour(s.verdict.outcome).lighter(170)});
        timeline.end = std::max(timeline.end, timeline.bands.back().end);
    }
    return timeline;
}

bool SaveRunTimelineSvg(const RunRecord& record, const LineRecord& line, const QString& path) {
    // Zoomed so that a step's name and a reply's box can be read, a short
    // run as wide as a screen; a long run (a burn-in) is drawn smaller,
    // within the picture's bounds.
    constexpr double kPixelsPerSecond = 200, kShortRunPixels = 1200;
    const Timeline timeline = RunTimeline(record, line);
    const double seconds = std::max(1e-3, timeline.end - timeline.start);
    return SaveTimelineSvg(timeline, timeline.start, timeline.end,
                           std::max(kPixelsPerSecond, kShortRunPixels / seconds), path,
                           QStringLiteral("芯片自检 %1").arg(record.info.dut).trimmed());
}

SelfTestWindow::SelfTestWindow(ChipConversation& conversation, QWidget* parent)
    : QWidget(parent, Qt::Window), conv_(conversation), own_(std::make_unique<SelfTest>(conversation)), test_(*own_),
      dut_(new QLineEdit(this)), operator_(new QLineEdit(LoginName(), this)), mode_(new QComboBox(this)),
      start_(new QPushButton(QStringLiteral("开始"), this)), stop_(new QPushButton(QStringLiteral("停止"), this)),
      save_(new QPushButton(QStringLiteral("保存报告…"), this)),
      saveTimeline_(new QPushButton(QStringLiteral("保存时间线…"), this)), progress_(new QProgressBar(this)),
      summary_(new QLabel(this)), table_(new QTableWidget(this)), timeline_(new TimelineWidget(this)) {
    setWindowTitle(QStringLiteral("芯片自检"));
    build();
}

SelfTestWindow::SelfTestWindow(ChipConversation& conversation, SelfTest& run, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), conv_(conversation), test_(run), dut_(new QLineEdit(this)),
      operator_(new QLineEdit(LoginName(), this)), mode_(new QComboBox(this)),
      start_(new QPushButton(QStringLiteral("开始"), this)), stop_(new QPushButton(QStringLiteral("停止"), this)),
      save_(new QPushButton(QStringLiteral("保存报告…"), this)),
      saveTimeline_(new QPushButton(QStringLiteral("保存时间线…"), this)), progress_(new QProgressBar(this)),
      summary_(new QLabel(this)), table_(new QTableWidget(this)), timeline_(new TimelineWidget(this)) {
    setWindowTitle(title);
    build();
    // The run is started and stopped where it belongs.
    for (QWidget* w : std::initializer_list<QWidget*>{dut_, mode_, start_, stop_}) w->hide();
    if (test_.record().steps.empty()) return;
    showRun();
    const int done = test_.running() ? test_.current() : int(test_.record().steps.size());
    for (int i = 0; i < done; ++i) showStep(i);
    if (test_.running()) showStarted(test_.current());
    else showFinished();
}

void SelfTestWindow::build() {
    setObjectName(QStringLiteral("SelfTestWindow"));
    resize(980, 640);
    dut_->setPlaceholderText(QStringLiteral("被测芯片编号"));
    dut_->setObjectName(QStringLiteral("dut"));
    operator_->setPlaceholderText(QStringLiteral("操作员"));
    operator_->setObjectName(QStringLiteral("operator"));
    mode_->addItems({QStringLiteral("快速（播放受理后即停止）"), QStringLiteral("完整（等待播完报告）")});
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("芯片："), this));
    bar->addWidget(dut_);
    bar->addWidget(new QLabel(QStringLiteral("操作员："), this));
    for (QWidget* w : std::initializer_list<QWidget*>{operator_, mode_, start_, stop_, save_, saveTimeline_})
        bar->addWidget(w);
    table_->setColumnCount(kColumns);
    table_->setHorizontalHeaderLabels({QStringLiteral("步骤"), QStringLiteral("帧"), QStringLiteral("内容"),
                                       QStringLiteral("应答"), QStringLiteral("时延 ms"), QStringLiteral("播放 s"),
                                       QStringLiteral("结果")});
    // Names and frames keep widths that fit most of them; the rest shows in tooltips.
    const int widths[kColumns] = {170, 150, 220, 90, 60, 60, 0};
    for (int c = 0; c + 1 < kColumns; ++c) table_->setColumnWidth(c, widths[c]);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
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
    connect(&test_, &SelfTest::started, this, &SelfTestWindow::showRun);
    connect(&test_, &SelfTest::stepStarted, this, &SelfTestWindow::showStarted);
    connect(&test_, &SelfTest::stepFinished, this, &SelfTestWindow::showStep);
    connect(&test_, &SelfTest::finished, this, &SelfTestWindow::showFinished);
}

QString SelfTestWindow::summary() const { return summary_->text(); }

void SelfTestWindow::startRun() {
    if (test_.running()) return;
    RunOptions options;
    options.info.full = mode_->currentIndex() == 1;
    options.info.dut = dut_->text().trimmed();
    options.info.port = conv_.portName();
    options.info.version = QCoreApplication::applicationVersion();
    options.info.station = QSysInfo::machineHostName();
    options.info.operatorName = operator_->text().trimmed();
    options.startBaudIndex = conv_.portBaudIndex();
    test_.start(options);
}

// A run has started: a row a step, the progress at its start.
void SelfTestWindow::showRun() {
    const RunRecord& record = test_.record();
    table_->setRowCount(int(record.steps.size()));
    for (int i = 0; i < int(record.steps.size()); ++i) {
        for (int c = 0; c < kColumns; ++c) table_->setItem(i, c, new QTableWidgetItem);
        const Step& s = record.steps[size_t(i)].step;
        SetCell(*table_, i, kStep, s.group + u' ' + s.name);
        table_->item(i, kStep)->setToolTip(s.describe());
    }
    progress_->setRange(0, int(record.steps.size()));
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("%v/%m"));
    summary_->setText(QStringLiteral("%1 步，进行中…").arg(record.steps.size()));
    start_->setEnabled(false);
    stop_->setEnabled(true);
}

void SelfTestWindow::stopRun() { test_.stop(); }

void SelfTestWindow::showStarted(int index) {
    if (index >= table_->rowCount()) return;
    table_->selectRow(index);
    table_->scrollToItem(table_->item(index, kStep), QAbstractItemView::PositionAtCenter);
}

void SelfTestWindow::showStep(int index) {
    if (index >= table_->rowCount()) return;
    const StepRecord& s = test_.record().steps[size_t(index)];
    const Measured& m = s.measured;
    SetCell(*table_, index, kFrame, HexBytes(m.frame));
    SetCell(*table_, index, kWords,
            m.frame.isEmpty()             ? QString()
            : s.step.frameWords.isEmpty() ? DescribeFrame(m.frame)
                                          : s.step.frameWords);
    const QString reply = !m.answer                            ? QStringLiteral("无")
                          : *m.answer == reply::Kind::Accepted ? QStringLiteral("受理")
                                                               : QStringLiteral("拒绝");
    SetCell(*table_, index, kReply,
            reply + (m.resends() > 0 ? QStringLiteral("（重发%1次）").arg(m.resends()) : QString()));
    SetCell(*table_, index, kLatency, m.latencyMs >= 0 ? QString::number(m.latencyMs, 'f', 1) : QString());
    SetCell(*table_, index, kPlay, m.playSeconds >= 0 ? QString::number(m.playSeconds, 'f', 2) : QString());
    SetCell(*table_, index, kVerdict,
            OutcomeName(s.verdict.outcome) +
                (s.verdict.reasons.isEmpty() ? QString()
                                             : QStringLiteral("：") + s.verdict.reasons.join(QStringLiteral("；"))));
    table_->item(index, kVerdict)->setForeground(OutcomeColour(s.verdict.outcome));
    if (s.verdict.outcome != Outcome::NotRun) progress_->setValue(index + 1);
    timeline_->setTimeline(RunTimeline(test_.record(), conv_.lineRecord()));
}

void SelfTestWindow::showFinished() {
    const RunRecord& record = test_.record();
    for (int i = 0; i < int(record.steps.size()) && i < table_->rowCount(); ++i)
        if (record.steps[size_t(i)].verdict.outcome == Outcome::NotRun ||
            record.steps[size_t(i)].verdict.outcome == Outcome::Error)
            showStep(i);
    // How far it got: an aborted run's bar stops where it did.
    const int ran = int(record.steps.size()) - record.count(Outcome::NotRun);
    progress_->setValue(ran);
    if (record.aborted()) progress_->setFormat(QStringLiteral("%v/%m（中止）"));
    summary_->setText(SummaryLine(record));
    summary_->setStyleSheet(QStringLiteral("color: %1").arg(OutcomeColour(record.verdict.outcome).name()));
    start_->setEnabled(true);
    stop_->setEnabled(false);
    save_->setEnabled(true);
    saveTimeline_->setEnabled(true);
    timeline_->setTimeline(RunTimeline(record, conv_.lineRecord()));
    timeline_->showAll();
}

void SelfTestWindow::saveReport() {
    const QString path = savePath_ ? savePath_(DefaultReportName(test_.record(), QStringLiteral("xml"))) : QString();
    if (path.isEmpty()) return;
    ReportFile file;
    const bool ok = file.open(path, test_.record());
    summary_->setText(SummaryLine(test_.record()) + u'\n' +
                      (ok ? QStringLiteral("报告已保存：%1").arg(file.path())
                          : QStringLiteral("报告保存失败：%1").arg(file.error())));
}

void SelfTestWindow::saveTimeline() {
    const QString path = savePath_ ? savePath_(DefaultReportName(test_.record(), QStringLiteral("svg"))) : QString();
    if (path.isEmpty()) return;
    const bool ok = SaveRunTimelineSvg(test_.record(), conv_.lineRecord(), path);
    summary_->setText(
        SummaryLine(test_.record()) + u'\n' +
        (ok ? QStringLiteral("时间线已保存：%1").arg(path) : QStringLiteral("时间线保存失败：%1").arg(path)));
}

}  // namespace vorla
