// SPDX-License-Identifier: MIT
// The test station window "测试台": a tile a slot (its name and device, a
// DUT field that takes a scanner's input, a start button, the step under
// way, progress, and the verdict as a large coloured word that stays until
// the next DUT starts), each opening its slot's table and timeline; every
// slot started at once, or each by itself when its DUT is in (typed or
// scanned, Enter starts it); every slot stopped; the station's report saved.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QWidget>

#include "selftest/station.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vorla {

class SelfTestWindow;

// The verdict of a slot's run in one word: 通过 (passed, warnings too), 失败,
// 错误 (the line failed) or 未完成 (stopped, or not run).
QString VerdictWord(const RunRecord& record);

class StationWindow : public QWidget {
    Q_OBJECT
public:
    // The window runs the station (opened) and keeps it.
    explicit StationWindow(std::unique_ptr<Station> station, QWidget* parent = nullptr);
    ~StationWindow() override;

    Station& station() { return *station_; }
    // Where the report goes (a file dialog by default); tests replace it.
    void setSavePathSource(std::function<QString(const QString& suggested)> source) { savePath_ = std::move(source); }

    // A tile's parts, for the tests and the scanner's focus.
    QLineEdit* dutField(int slot) const;
    QPushButton* startButton(int slot) const;
    QString stepText(int slot) const;
    QString verdictText(int slot) const;
    int progress(int slot) const;

public slots:
    // The slot's DUT as its field holds it: the slot starts.
    void startSlot(int slot);
    void startAll();
    void stopAll();
    void saveReport();
    // The slot's table and timeline.
    SelfTestWindow* openSlot(int slot);

private:
    struct Tile;
    QWidget* makeTile(int slot);
    void showSlotStarted(int slot);
    void showStepStarted(int slot, int index);
    void showStepFinished(int slot, int index);
    void showSlotFinished(int slot);
    void showStatus(const QString& text);

    std::unique_ptr<Station> station_;
    std::vector<std::unique_ptr<Tile>> tiles_;
    QLabel* status_;
    QCheckBox* inTurn_ = nullptr;
    std::function<QString(const QString&)> savePath_;
};

}  // namespace vorla
