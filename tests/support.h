// Test doubles: a serial control that records what the window does with it,
// an event pump on a virtual clock that runs scripted events, and helpers.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>

#include "frm_7711.h"
#include "link/event_pump.h"
#include "link/serial_control.h"

namespace vorla::test {

// "01 80 87" -> bytes, and back.
QByteArray Hex(const char* text);
std::string ToHex(const QByteArray& bytes);

class FakeSerial : public SerialControl {
public:
    struct Op {
        enum Kind { Open, Close, Output } kind;
        int16_t port = 0;
        QString settings;
        QByteArray bytes;
    };
    std::vector<Op> ops;
    std::vector<std::string>* journal = nullptr;  // "send" for every output
    bool failOpen = false;
    const EventPump* timeSource = nullptr;  // arrival times from this clock

    void setCommPort(int16_t port) override { port_ = port; }
    int16_t commPort() const override { return port_; }
    bool setSettings(const QString& s) override;
    QString settings() const override { return settings_; }
    bool portOpen() const override { return open_; }
    bool setPortOpen(bool open) override;
    bool output(const QByteArray& bytes) override;
    PortFault lastFault() const override { return fault_; }
    QString deviceName() const override { return QStringLiteral("fake%1").arg(port_); }
    double clock() const override { return timeSource ? timeSource->now() : SerialControl::clock(); }

    // Bytes from the chip; the receive event is raised at once for every
    // batch they complete, unless held.
    void receive(const QByteArray& bytes) { bytesReceived(bytes); }
    // The device goes away while the port is open, as an unplugged adapter.
    void vanish();
    std::vector<QByteArray> sent() const;

protected:
    void raiseEventSoon() override { raiseEvents(); }
    void wakeAt(double) override {}

private:
    int16_t port_ = 0;
    QString settings_;
    bool open_ = false;
    PortFault fault_;
};

// Time stands still until a wait moves it: a wait runs the next scripted
// event due by its deadline, or jumps to the deadline.
class FakePump : public EventPump {
public:
    double now() const override { return t_; }
    void waitForEvents(double deadline) override;
    void blockingWait(int ms) override;
    void at(double time, std::function<void()> action) { script_.emplace(time, std::move(action)); }
    // Time spent by a handler that runs inside a wait.
    void spend(double seconds) { t_ += seconds; }
    // A wait without deadline and nothing scripted would sleep for ever: the
    // pump records it and stops, so the test ends instead of hanging.
    bool starved() const { return starved_; }
    std::vector<int> blockingWaits;  // milliseconds of every blocking wait
    std::function<void()> duringBlockingWait;  // what arrives at the start of one
    int waits = 0;
    int maxDepth = 0;  // how deep scripted events ran inside waits
    SerialControl* port = nullptr;

private:
    double t_ = 100.0;
    std::multimap<double, std::function<void()>> script_;
    bool starved_ = false;
    int depth_ = 0;
};

// The window on the doubles, with its log and sends recorded in one journal.
struct WindowRig {
    WindowRig();
    FakeSerial serial;
    FakePump pump;
    std::vector<std::string> journal;
    std::vector<QString> messages;
    std::unique_ptr<frm_7711> window;
    Ui::frm_7711& ui() { return window->ui(); }
    WindowState& st() { return window->state(); }
    QString log() const { return window->log().text(); }
    // The chip's three-byte replies.
    void reject() { serial.receive(Hex("01 10 14")); }
    void accept() { serial.receive(Hex("01 11 14")); }
    void finished() { serial.receive(Hex("01 12 14")); }
};

}  // namespace vorla::test
