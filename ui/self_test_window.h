// SPDX-License-Identifier: MIT
// The self-test window "芯片自检": the chip under test, quick or full, the
// verdict summary, the steps as a table that follows the running step with
// their verdicts in colour, progress, Stop, the report saved as JUnit XML or
// JSON, and the run's timeline drawn as a picture that can be saved as SVG.
// It runs on the main window's conversation, so the main window's log
// records every frame as usual; the main window sends nothing meanwhile.
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "selftest/runner.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QPainter;

namespace vorla {

class TimelineWidget;
struct Timeline;

// A self-test run on the line's timeline: what the line carried from the
// run's start, its steps as bands coloured by verdict.
Timeline RunTimeline(const RunRecord& record, const LineRecord& line);
// The whole run as an SVG picture, in rows of bounded width (the window and
// vorla-selftest --timeline); false when it cannot be written.
bool SaveRunTimelineSvg(const RunRecord& record, const LineRecord& line, const QString& path);

class SelfTestWindow : public QWidget {
    Q_OBJECT
public:
    explicit SelfTestWindow(ChipConversation& conversation, QWidget* parent = nullptr);
    // Follows a run that something else starts and stops (a test station's
    // slot): its table, progress, summary and timeline, and the saving.
    SelfTestWindow(ChipConversation& conversation, SelfTest& run, const QString& title, QWidget* parent = nullptr);

    SelfTest& selfTest() { return test_; }
    // Where the reports and the picture go (a file dialog by default); tests
    // replace it. An empty path saves nothing.
    void setSavePathSource(std::function<QString(const QString& suggested)> source) { savePath_ = std::move(source); }
    QString summary() const;

public slots:
    void startRun();
    void stopRun();
    void saveReport();
    void saveTimeline();

private:
    void build();
    void showRun();
    void showStarted(int index);
    void showStep(int index);
    void showFinished();

    ChipConversation& conv_;
    std::unique_ptr<SelfTest> own_;  // the window's own run; none when it follows another's
    SelfTest& test_;
    QLineEdit* dut_;
    QLineEdit* operator_;
    QComboBox* mode_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* save_;
    QPushButton* saveTimeline_;
    QProgressBar* progress_;
    QLabel* summary_;
    QTableWidget* table_;
    TimelineWidget* timeline_;
    std::function<QString(const QString&)> savePath_;
};

}  // namespace vorla
