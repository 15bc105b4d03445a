// The real window on the QSerialPort layer, talking over a pseudo-terminal
// to the virtual chip on a thread of its own.
#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "link/qt_serial_control.h"
#include "sim/chip_host.h"
#include "support.h"

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

inline void Settle(int ms) { Spin(ms, [] { return false; }); }

struct ChipRig {
    QTemporaryDir dir;
    QString link;
    std::unique_ptr<ChipThread> chip;
    std::unique_ptr<QtSerialControl> port;
    std::unique_ptr<QtEventPump> pump;
    std::unique_ptr<frm_7711> window;
    std::vector<QString> messages;

    explicit ChipRig(ChipOptions options) {
        link = dir.filePath(QStringLiteral("com1"));
        startChip(options);
        PortMap map;
        map.setDevice(1, link);
        port = std::make_unique<QtSerialControl>(map);
        pump = std::make_unique<QtEventPump>(port.get());
        window = std::make_unique<frm_7711>(*port, *pump);
        window->setExitAction([] {});
        window->setMessageSink([this](const QString& m) { messages.push_back(m); });
    }
    ~ChipRig() {
        window.reset();
        chip.reset();
    }
    void startChip(ChipOptions options) {
        chip = std::make_unique<ChipThread>(options);
        QString error;
        ASSERT_TRUE(chip->start(&error)) << error.toStdString();
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(chip->devicePath(), link));
    }
    Ui::frm_7711& ui() { return window->ui(); }
    QString log() const { return window->log().text(); }
    QString status() { return ui().Label11->text(); }
    bool waitForLog(const QString& text, int times = 1, int ms = 5000) {
        return Spin(ms, [&] { return log().count(text) >= times; });
    }
};

}  // namespace vorla::test
