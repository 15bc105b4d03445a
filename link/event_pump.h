// SPDX-License-Identifier: MIT
// Waiting on the window's thread.
//
// A wait that must let clicks and replies through sleeps until the next batch
// of events or its deadline, then returns so the caller can look at the state
// again; it never spins. A blocking wait lets the window repaint but handles
// no input and holds back the receive event until it is over.
#pragma once

#include <limits>

#include <QElapsedTimer>

namespace vorla {

class SerialControl;

class EventPump {
public:
    static constexpr double kNoDeadline = std::numeric_limits<double>::infinity();
    virtual ~EventPump() = default;
    // Seconds on a monotonic clock.
    virtual double now() const = 0;
    // Handles the next batch of events, sleeping until one comes or the
    // deadline (in now() seconds) passes.
    virtual void waitForEvents(double deadline) = 0;
    // Blocks for ms milliseconds: painting goes on, input and the receive
    // event wait until afterwards.
    virtual void blockingWait(int ms) = 0;
    // Set when the program is ending: every wait returns and no run goes on.
    bool stopping() const { return stopping_; }
    void requestStop() { stopping_ = true; }

private:
    bool stopping_ = false;
};

class QtEventPump : public EventPump {
public:
    explicit QtEventPump(SerialControl* port = nullptr);
    void setPort(SerialControl* port) { port_ = port; }
    double now() const override;
    void waitForEvents(double deadline) override;
    void blockingWait(int ms) override;

private:
    SerialControl* port_;
    QElapsedTimer clock_;
};

}  // namespace vorla
