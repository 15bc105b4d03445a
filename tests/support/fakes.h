// SPDX-License-Identifier: MIT
// Test doubles shared by the tests and the fuzz targets: a serial control
// that records what is done with it, a virtual clock whose alarms ring and
// scripted events run as a test moves time on, and a list box backed by a
// vector.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>

#include "conversation/list_box.h"
#include "serial/clock.h"
#include "serial/serial_control.h"
#include "support/hex.h"

namespace vorla::test {

class FakeSerial : public SerialControl {
public:
    struct Op {
        enum Kind { Open, Close, Output } kind;
        int16_t port = 0;
        LineSettings settings;
        QByteArray bytes;
        QString device;
    };
    std::vector<Op> ops;
    std::vector<std::string>* journal = nullptr;  // "send" for every output
    bool failOpen = false;
    // Sees every output that went out (a chip on the other end).
    std::function<void(const QByteArray&)> onOutput;

    // Arrivals are timed on `clock`; the line's quiet ends batches as it
    // moves past their times.
    explicit FakeSerial(Clock& clock) : SerialControl(clock) {}

    void setCommPort(int16_t port) override { port_ = port; }
    int16_t commPort() const override { return port_; }
    bool setSettings(const LineSettings& s) override;
    LineSettings settings() const override { return settings_; }
    bool portOpen() const override { return open_; }
    bool setPortOpen(bool open) override;
    bool output(const QByteArray& bytes) override;
    PortFault lastFault() const override { return fault_; }
    QString device(int16_t port) const override;
    bool devicesChoosable() const override { return true; }
    void chooseDevice(int16_t port, const QString& device) override { devices_[port] = device; }

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

private:
    int16_t port_ = 0;
    std::map<int16_t, QString> devices_;
    LineSettings settings_;
    bool open_ = false;
    PortFault fault_;
};

// Time stands still until the test moves it; alarms ring and scripted
// events run in time order on the way, each from the top, never inside
// another.
class VirtualClock : public Clock {
public:
    double now() const override { return t_; }
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> ring) override;
    // Runs `action` at `time`.
    void at(double time, std::function<void()> action) { script_.emplace(time, std::move(action)); }
    // Moves to `until`, ringing and running whatever is due on the way.
    void advanceTo(double until);
    void advance(double seconds) { advanceTo(t_ + seconds); }
    // Runs everything pending, the latest no later than `limit` seconds on.
    void runAll(double limit = 3600);
    bool idle() const;
    // Alarms ring this much after their time, as a busy thread wakes late.
    void setLateness(double seconds) { lateness_ = seconds; }

private:
    class VirtualAlarm;
    // The earliest alarm or scripted event, and when.
    double next(VirtualAlarm** alarm) const;
    double t_ = 100.0;
    double lateness_ = 0;
    std::multimap<double, std::function<void()>> script_;
    std::vector<VirtualAlarm*> alarms_;
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
