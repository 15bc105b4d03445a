// SPDX-License-Identifier: MIT
// Runs the virtual chip on the master side of a pseudo-terminal: the window
// (or any program) opens the slave side as its serial port.
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include "sim/chip_model.h"

namespace vorla::sim {

class ChipHost : public QObject {
    Q_OBJECT
public:
    explicit ChipHost(ChipOptions options = {}, QObject* parent = nullptr);
    ~ChipHost() override;

    // Creates the pseudo-terminal; false with a reason when it cannot.
    bool start(QString* error = nullptr);
    // Closes it: to the port on the other side the device has vanished.
    void stop();
    bool running() const { return master_ >= 0; }
    QString devicePath() const { return path_; }
    ChipModel& model() { return model_; }
    // What the chip has done so far, readable from any thread without
    // disturbing it (updated after every event it handles).
    struct Counters {
        std::atomic<int> framesHeard{0};
        std::atomic<int> accepted{0};
        std::atomic<int> rejected{0};
        std::atomic<int> finished{0};
        std::atomic<bool> playing{false};
    };
    const Counters& counters() const { return counters_; }

    // Fault injection: noise bytes, or any bytes, sent now.
    void injectNoise(int count);
    void sendRaw(const QByteArray& bytes);

signals:
    // One line per frame heard and per event, in words.
    void note(const QString& line);

private:
    void onReadable();
    void onTick();
    void runModel();
    void putOnLine(const ChipModel::Output& out);
    void sendDue();
    bool lineMatches(QString* what) const;
    double now() const { return double(clock_.nsecsElapsed()) * 1e-9; }

    ChipModel model_;
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees a hang-up
    QString path_;
    QSocketNotifier* readable_ = nullptr;
    QTimer* tick_ = nullptr;
    QTimer* pace_ = nullptr;
    QElapsedTimer clock_;
    LineModel line_;
    int lineBaud_ = 1200;  // the rate of the next bytes put on the line
    std::deque<std::pair<double, int>> switches_;  // (when, baud): the chip's rate changes
    QByteArray unwritten_;  // delivered, not yet taken by the pseudo-terminal
    bool noiseReported_ = false;
    Counters counters_;
};

// The chip on a thread of its own, so that a window blocking its own thread
// never stalls the chip.
class ChipThread {
public:
    explicit ChipThread(ChipOptions options = {});
    ~ChipThread();
    bool start(QString* error = nullptr);
    void stop();
    ChipHost& host() { return *host_; }
    QString devicePath() const { return host_->devicePath(); }
    // Runs f on the chip's thread and waits for it.
    void run(const std::function<void(ChipHost&)>& f);

private:
    QThread thread_;
    ChipHost* host_;
};

}  // namespace vorla::sim
