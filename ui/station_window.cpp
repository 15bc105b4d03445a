// SPDX-License-Identifier: MIT
#include "ui/station_window.h"

#include <cmath>

#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "selftest/report.h"
#include "ui/self_test_window.h"

namespace vorla {

namespace {
QColor WordColour(const QString& word) {
    if (word == QStringLiteral("通过")) return QColor(0, 140, 0);
    if (word == QStringLiteral("失败")) return QColor(200, 0, 0);
    if (word == QStringLiteral("错误")) return QColor(150, 0, 150);
    return QColor(110, 110, 110);
}
}  // namespace

QString VerdictWord(const RunRecord& record) {
    switch (record.verdict.outcome) {
    case Outcome::Pass:
    case Outcome::Marginal: return QStringLiteral("通过");
    case Outcome::Error: return QStringLiteral("错误");
    case Outcome::Fail:
        // Stopped before its end with no step failed: not finished, not failed.
        return record.count(Outcome::Fail) == 0 && !record.endedEarly.isEmpty() ? QStringLiteral("未完成")
                                                                                : QStringLiteral("失败");
    case Outcome::NotRun:
    case Outcome::Incomplete: break;
    }
    return QStringLiteral("未完成");
}

struct StationWindow::Tile {
    QLineEdit* dut = nullptr;
    QPushButton* start = nullptr;
    QLabel* step = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* verdict = nullptr;
    QPointer<SelfTestWindow> detail;
};

StationWindow::StationWindow(std::unique_ptr<Station> station, QWidget* parent)
    : QWidget(parent, Qt::Window), station_(std::move(station)), status_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("测试台"));
    setObjectName(QStringLiteral("StationWindow"));
    auto* all = new QPushButton(QStringLiteral("全部开始"), this);
    auto* stop = new QPushButton(QStringLiteral("全部停止"), this);
    auto* save = new QPushButton(QStringLiteral("保存报告…"), this);
    inTurn_ = new QCheckBox(QStringLiteral("发声步骤逐个槽位进行"), this);
    inTurn_->setToolTip(QStringLiteral("播放的步骤一次只在一个槽位进行，每片芯片的声音单独可闻；其余步骤照常同时进行"));
    inTurn_->setChecked(station_->playsInTurn());
    auto* bar = new QHBoxLayout;
    bar->addWidget(status_, 1);
    bar->addWidget(inTurn_);
    for (QPushButton* b : {all, stop, save}) bar->addWidget(b);
    auto* grid = new QGridLayout;
    const int count = station_->slotCount();
    const int columns = std::max(1, int(std::ceil(std::sqrt(double(count)))));
    for (int i = 0; i < count; ++i) grid->addWidget(makeTile(i), i / columns, i % columns);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(grid, 1);
    savePath_ = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存测试台报告"), suggested,
                                            QStringLiteral("JUnit XML (*.xml);;JSON (*.json)"));
    };
    connect(inTurn_, &QCheckBox::toggled, this, [this](bool on) { station_->setPlaysInTurn(on); });
    connect(all, &QPushButton::clicked, this, &StationWindow::startAll);
    connect(stop, &QPushButton::clicked, this, &StationWindow::stopAll);
    connect(save, &QPushButton::clicked, this, &StationWindow::saveReport);
    connect(station_.get(), &Station::stepStarted, this, &StationWindow::showStepStarted);
    connect(station_.get(), &Station::stepFinished, this, &StationWindow::showStepFinished);
    connect(station_.get(), &Station::slotFinished, this, &StationWindow::showSlotFinished);
    showStatus(QStringLiteral("%1 个槽位：扫描或输入芯片编号，回车开始该槽位").arg(count));
    if (count > 0) tiles_.front()->dut->setFocus();
}

StationWindow::~StationWindow() {
    // The slots' windows follow runs the station owns: they go first.
    for (const auto& tile : tiles_) delete tile->detail;
}

QWidget* StationWindow::makeTile(int slot) {
    auto tile = std::make_unique<Tile>();
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setObjectName(QStringLiteral("slot-%1").arg(station_->slotName(slot)));
    auto* name = new QLabel(QStringLiteral("<b>%1</b>").arg(station_->slotName(slot).toHtmlEscaped()), frame);
    auto* device = new QLabel(DeviceLine(station_->device(slot)), frame);
    device->setToolTip(device->text());
    tile->dut = new QLineEdit(frame);
    tile->dut->setPlaceholderText(QStringLiteral("芯片编号（扫描或输入，回车开始）"));
    tile->start = new QPushButton(QStringLiteral("开始"), frame);
    auto* open = new QPushButton(QStringLiteral("详情…"), frame);
    tile->step = new QLabel(frame);
    tile->progress = new QProgressBar(frame);
    tile->verdict = new QLabel(frame);
    tile->verdict->setAlignment(Qt::AlignCenter);
    QFont big = tile->verdict->font();
    big.setPointSizeF(big.pointSizeF() * 2.5);
    big.setBold(true);
    tile->verdict->setFont(big);
    auto* row = new QHBoxLayout;
    row->addWidget(tile->dut, 1);
    row->addWidget(tile->start);
    row->addWidget(open);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(name);
    layout->addWidget(device);
    layout->addLayout(row);
    layout->addWidget(tile->step);
    layout->addWidget(tile->progress);
    layout->addWidget(tile->verdict);
    connect(tile->dut, &QLineEdit::returnPressed, this, [this, slot] { startSlot(slot); });
    connect(tile->start, &QPushButton::clicked, this, [this, slot] { startSlot(slot); });
    connect(open, &QPushButton::clicked, this, [this, slot] { openSlot(slot); });
    tiles_.push_back(std::move(tile));
    return frame;
}

QLineEdit* StationWindow::dutField(int slot) const { return tiles_.at(size_t(slot))->dut; }
QPushButton* StationWindow::startButton(int slot) const { return tiles_.at(size_t(slot))->start; }
QString StationWindow::stepText(int slot) const { return tiles_.at(size_t(slot))->step->text(); }
QString StationWindow::verdictText(int slot) const { return tiles_.at(size_t(slot))->verdict->text(); }
int StationWindow::progress(int slot) const { return tiles_.at(size_t(slot))->progress->value(); }

void StationWindow::startSlot(int slot) {
    if (slot < 0 || slot >= int(tiles_.size())) return;
    Tile& tile = *tiles_[size_t(slot)];
    QString why;
    if (!station_->startSlot(slot, tile.dut->text().trimmed(), &why)) {
        tile.step->setText(why);
        tile.step->setStyleSheet(QStringLiteral("color: #c00000"));
        return;
    }
    showSlotStarted(slot);
}

void StationWindow::showSlotStarted(int slot) {
    Tile& tile = *tiles_.at(size_t(slot));
    tile.step->setStyleSheet(QString());
    tile.verdict->clear();
    tile.dut->setReadOnly(true);
    tile.start->setEnabled(false);
    inTurn_->setEnabled(false);  // runs under way keep how they take turns
    tile.progress->setRange(0, int(station_->test(slot).record().steps.size()));
    tile.progress->setValue(0);
}

void StationWindow::startAll() {
    QStringList duts;
    std::vector<bool> idle;
    for (int i = 0; i < int(tiles_.size()); ++i) {
        duts << tiles_[size_t(i)]->dut->text().trimmed();
        idle.push_back(!station_->slotRunning(i));
    }
    QString why;
    if (!station_->startAll(duts, &why)) showStatus(why);
    for (int i = 0; i < int(tiles_.size()); ++i)
        if (idle[size_t(i)] && station_->slotRunning(i)) showSlotStarted(i);
}

void StationWindow::stopAll() { station_->stop(QStringLiteral("stopped by the operator")); }

void StationWindow::saveReport() {
    const StationRecord record = station_->record();
    const QString suggested =
        QStringLiteral("vorla-station-%1-%2.xml")
            .arg(record.station, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = savePath_ ? savePath_(suggested) : QString();
    if (path.isEmpty()) return;
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(StationReportFor(path, record)) >= 0 && file.commit();
    showStatus(ok ? QStringLiteral("报告已保存：%1").arg(path)
                  : QStringLiteral("报告保存失败：%1：%2").arg(path, file.errorString()));
}

SelfTestWindow* StationWindow::openSlot(int slot) {
    if (slot < 0 || slot >= int(tiles_.size())) return nullptr;
    Tile& tile = *tiles_[size_t(slot)];
    if (!tile.detail)
        tile.detail = new SelfTestWindow(station_->conversation(slot), station_->test(slot),
                                         QStringLiteral("测试台槽位 %1").arg(station_->slotName(slot)), this);
    tile.detail->show();
    tile.detail->raise();
    return tile.detail;
}

void StationWindow::showStepStarted(int slot, int index) {
    if (slot < 0 || slot >= int(tiles_.size())) return;
    const RunRecord& record = station_->test(slot).record();
    if (index < 0 || index >= int(record.steps.size())) return;
    const Step& s = record.steps[size_t(index)].step;
    tiles_[size_t(slot)]->step->setText(
        QStringLiteral("%1/%2 %3 %4").arg(index + 1).arg(record.steps.size()).arg(s.group, s.name));
}

void StationWindow::showStepFinished(int slot, int index) {
    if (slot < 0 || slot >= int(tiles_.size())) return;
    tiles_[size_t(slot)]->progress->setValue(index + 1);
}

void StationWindow::showSlotFinished(int slot) {
    if (slot < 0 || slot >= int(tiles_.size())) return;
    Tile& tile = *tiles_[size_t(slot)];
    const RunRecord& record = station_->test(slot).record();
    const QString word = VerdictWord(record);
    tile.verdict->setText(word);
    tile.verdict->setStyleSheet(QStringLiteral("color: %1").arg(WordColour(word).name()));
    tile.verdict->setToolTip(SummaryLine(record));
    tile.step->setText(record.verdict.reasons.join(QStringLiteral("；")));
    tile.dut->setReadOnly(false);
    tile.dut->selectAll();  // the next scan replaces it
    tile.start->setEnabled(true);
    inTurn_->setEnabled(!station_->running());
}

void StationWindow::showStatus(const QString& text) { status_->setText(text); }

}  // namespace vorla
