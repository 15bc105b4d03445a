// SPDX-License-Identifier: MIT
// Test doubles shared by the tests and the fuzz targets: a serial control
// that records what is done with it, an event pump on a virtual clock that
// runs scripted events, and a list box backed by a vector.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QByteArray>

#include "codes/list_box.h"
#include "link/event_pump.h"
#include "link/serial_control.h"
#include "support/hex.h"

namespace vorla::test {

class FakeSerial : public SerialControl {
public:
    struct Op {
        enum Kind { Open, Close, Output } kind;
        int16_t port = 0;
        QString settings;
        QByteArray bytes;
        QString device;
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
    QString device(int16_t port) const override;
    bool devicesChoosable() const override { return true; }
    void chooseDevice(int16_t port, const QString& device) override { devices_[port] = device; }
    double clock() const override { return timeSource ? timeSource->now() : SerialControl::clock(); }

    // Bytes from the chip; the receive event is raised at once for every
    // batch they complete, unless held.
    void receive(const QByteArray& bytes) { bytesReceived(bytes); }
    // Whatever is due once the line has been quiet (move the clock first).
    void lineQuiet() { checkQuiet(); }
    // The device goes away while the port is open, as an unplugged adapter.
    void vanish();
    std::vector<QByteArray> sent() const;

protected:
    void raiseEventSoon() override { raiseEvents(); }
    void wakeAt(double) override {}

private:
    int16_t port_ = 0;
    std::map<int16_t, QString> devices_;
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
    std::vector<int> blockingWaits;            // milliseconds of every blocking wait
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

// A list box held in a vector, as the code-list routines see one.
class VectorListBox : public ListBox {
public:
    struct Item {
        QString text;
        int32_t data = 0;
    };
    int listCount() const override { return int(items_.size()); }
    int listIndex() const override { return index_; }
    void setListIndex(int index) override { index_ = (index >= 0 && index < listCount()) ? index : -1; }
    QString itemText(int index) const override { return valid(index) ? items_[size_t(index)].text : QString(); }
    int32_t itemData(int index) const override { return valid(index) ? items_[size_t(index)].data : 0; }
    void setItemData(int index, int32_t data) override {
        if (valid(index)) items_[size_t(index)].data = data;
    }
    void addItem(const QString& text, int index) override;
    void removeItem(int index) override;
    void clear() override {
        items_.clear();
        index_ = -1;
    }
    bool isEnabled() const override { return enabled_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }

private:
    bool valid(int index) const { return index >= 0 && index < listCount(); }
    std::vector<Item> items_;
    int index_ = -1;
    bool enabled_ = true;
};

}  // namespace vorla::test
