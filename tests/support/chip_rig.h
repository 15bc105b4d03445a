// SPDX-License-Identifier: MIT
// The real window on the QSerialPort layer, talking over a pseudo-terminal
// to the virtual chip on a thread of its own, or to bytes a test writes.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "serial/qt_serial_control.h"
#include "sim/chip_host.h"
#include "support/hex.h"
#include "ui/frm_7711.h"
#include "ui_frm_7711.h"

namespace vorla::test {

using sim::ChipHost;
using sim::ChipOptions;
using sim::ChipThread;

inline bool Spin(int ms, const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QTimer wake;
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

// Runs the event loop until `done`, for as long as something keeps
// happening: false only once `progress` has stood still for `stallMs` (a
// loaded machine is slow, not stuck; a lost reply stops all progress).
inline bool SpinWhileProgressing(const std::function<bool()>& done, const std::function<long long()>& progress,
                                 int stallMs = 60000) {
    long long seen = progress();
    QElapsedTimer still;
    still.start();
    while (!done()) {
        if (still.elapsed() >= stallMs) return false;
        QTimer wake;
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (const long long now = progress(); now != seen) {
            seen = now;
            still.restart();
        }
    }
    return true;
}

// Resident memory of this process, in KiB.
inline long ResidentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

inline void Settle(int ms) {
    Spin(ms, [] { return false; });
}

// The real window, its COM1 a link in a temporary folder that the test
// points at a device.
struct LinkedWindow {
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("com1"));
    QtClock clock;
    std::unique_ptr<QtSerialControl> port;
    std::unique_ptr<ChipConversation> conversation;
    std::unique_ptr<frm_7711> window;
    std::vector<QString> messages;
    bool codeRunning = false;  // as the conversation last said
    qint64 framesWritten = 0;  // frames handed to the port

    void openWindow() {
        PortMap map;
        map.setDevice(1, link);
        port = std::make_unique<QtSerialControl>(map, clock);
        conversation = std::make_unique<ChipConversation>(*port);
        window = std::make_unique<frm_7711>(*conversation);
        window->setExitAction([] {});
        window->setMessageSink([this](const QString& m) { messages.push_back(m); });
        QObject::connect(conversation.get(), &ChipConversation::codeRunChanged, [this](bool on) { codeRunning = on; });
        QObject::connect(conversation.get(), &ChipConversation::frameWritten, [this] { ++framesWritten; });
    }
    void closeWindow() {
        window.reset();
        conversation.reset();
    }
    Ui::frm_7711& ui() { return window->ui(); }
    ChipConversation& conv() { return *conversation; }
    QString log() const { return conversation->log().text(); }
    QString status() { return ui().Label11->text(); }
    bool waitForLog(const QString& text, int times = 1, int ms = 5000) {
        return Spin(ms, [&] { return log().count(text) >= times; });
    }
};

// The window talking to the virtual chip on a thread of its own.
struct ChipRig : LinkedWindow {
    std::unique_ptr<ChipThread> chip;

    explicit ChipRig(ChipOptions options) {
        startChip(options);
        openWindow();
    }
    ~ChipRig() {
        closeWindow();
        chip.reset();
    }
    void startChip(ChipOptions options) {
        chip = std::make_unique<ChipThread>(options);
        QString error;
        ASSERT_TRUE(chip->start(&error)) << error.toStdString();
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(chip->devicePath(), link));
    }
};

// The chip's side of a pseudo-terminal.
struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        int slaveFd = -1;
        char name[256] = {};
        if (openpty(&master, &slaveFd, name, nullptr, nullptr) != 0) return;
        ::close(slaveFd);  // the port under test opens it by name
        slave = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    QByteArray read() {
        QByteArray out;
        char buf[256];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0) out.append(buf, n);
        return out;
    }
    void write(const QByteArray& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), size_t(bytes.size())), bytes.size());
    }
};

using SteadyClock = std::chrono::steady_clock;

// The window on the serial layer, the chip's side a pseudo-terminal behind a
// link that can be pointed at a new one (an adapter plugged in again).
struct PtyRig : LinkedWindow {
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    std::vector<QString> lines;  // every text the lyric lines showed
    SteadyClock::time_point firstLine{};

    explicit PtyRig(int baud) {
        QFile::link(pty->slave, link);
        openWindow();
        port->setSettings(LineSettings{baud});
        for (QLineEdit* line : {ui().Text1, ui().Text2})
            QObject::connect(line, &QLineEdit::textChanged, [this](const QString& t) {
                if (t.isEmpty()) return;
                if (lines.empty()) firstLine = SteadyClock::now();
                lines.push_back(t);
            });
    }
    void replug() {
        pty = std::make_unique<Pty>();
        QFile::remove(link);
        QFile::link(pty->slave, link);
    }
    // Writes each piece at its time (seconds from now) from a thread of its
    // own, as the line would, whatever the window's thread is doing. The
    // thread is joined when the returned handle goes.
    std::jthread write(std::vector<std::pair<double, QByteArray>> pieces, SteadyClock::time_point* start) {
        const int fd = pty->master;
        *start = SteadyClock::now();
        return std::jthread([fd, pieces = std::move(pieces), t0 = *start] {
            for (const auto& [at, bytes] : pieces) {
                std::this_thread::sleep_until(t0 + std::chrono::duration<double>(at));
                [[maybe_unused]] const auto n = ::write(fd, bytes.data(), size_t(bytes.size()));
            }
        });
    }
};

}  // namespace vorla::test
