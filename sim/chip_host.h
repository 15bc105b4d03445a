// SPDX-License-Identifier: MIT
// Runs the virtual chip on the master side of a pseudo-terminal: the window
// (or any program) opens the slave side as its serial port.
#pragma once

#include <functional>

#include <QObject>
#include <QThread>

#include "sim/chip_core.h"
#include "sim/pty_end.h"

namespace vorla::sim {

class ChipHost : public QObject {
    Q_OBJECT
public:
    using Counters = ChipCore::Counters;

    explicit ChipHost(const ChipOptions& options = {}, QObject* parent = nullptr);
    ~ChipHost() override;

    // Creates the pseudo-terminal; false with a reason when it cannot.
    bool start(QString* error = nullptr);
    // Closes it: to the port on the other side the device has vanished.
    void stop();
    bool running() const { return pty_.isOpen(); }
    QString devicePath() const { return pty_.devicePath(); }
    ChipModel& model() { return core_.model(); }
    const Counters& counters() const { return core_.counters(); }

    // Fault injection: noise bytes, or any bytes, sent now.
    void injectNoise(int count) { core_.injectNoise(count); }
    void sendRaw(const QByteArray& bytes) { core_.sendRaw(bytes); }

signals:
    // One line per frame heard and per event, in words.
    void note(const QString& line);
    // What the operator should know about the chip's voice, said once.
    void voiceNotice(const QString& line);

private:
    ChipCore core_;
    PtyEnd pty_;
};

// The chip on a thread of its own, so that a window blocking its own thread
// never stalls the chip.
class ChipThread {
public:
    explicit ChipThread(const ChipOptions& options = {});
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
