// SPDX-License-Identifier: MIT
// The virtual chip's protocol model on the far end of the recording serial
// control, everything on a virtual clock: frames reach the chip when their
// last byte has crossed the wire at the port's rate (only when the port's
// rate is the chip's), and its answers come back as the line model hands
// them over. Runs of the self-test take milliseconds of real time.
#pragma once

#include <deque>
#include <memory>

#include "conversation/conversation.h"
#include "sim/chip_model.h"
#include "support/fakes.h"

namespace vorla::test {

struct ChipOnClock {
    VirtualClock clock;
    FakeSerial serial{clock};
    sim::ChipModel chip;
    sim::LineModel line;
    std::unique_ptr<ChipConversation> conv;
    std::unique_ptr<Alarm> chipAlarm;
    std::unique_ptr<Alarm> lineAlarm;
    std::deque<std::pair<double, int>> switches;  // (when, baud): the chip's rate changes
    int lineBaud = 0;
    double wireFree = 0;

    explicit ChipOnClock(sim::ChipOptions options = {}, int16_t baudIndex = 3)
        : chip([&] {
              options.baud = BaudRateAt(baudIndex)->baud;
              return options;
          }()),
          line(options.line) {
        conv = std::make_unique<ChipConversation>(serial);
        serial.setSettings(*BaudSettingsFor(baudIndex));
        lineBaud = chip.baud();
        chipAlarm = clock.makeAlarm([this] { pump(); });
        lineAlarm = clock.makeAlarm([this] { pump(); });
        serial.onOutput = [this](const QByteArray& bytes) { write(bytes); };
    }

    int portBaud() const { return serial.settings().baud; }

    void write(const QByteArray& bytes) {
        const int baud = portBaud();
        wireFree = std::max(clock.now(), wireFree) + double(bytes.size()) * 10.0 / baud;
        clock.at(wireFree, [this, bytes, baud] {
            if (baud == chip.baud()) chip.hear(bytes, clock.now());
            pump();
        });
    }

    // Runs the chip, puts its answers on the line, hands over what the
    // line delivers, and comes back when something is due.
    void pump() {
        const double now = clock.now();
        chip.advance(now);
        for (const sim::ChipModel::Output& out : chip.takeOutput()) {
            const double done = line.send(out.bytes, lineBaud, now);
            if (out.switchToBaud) {
                switches.emplace_back(done, out.switchToBaud);
                lineBaud = out.switchToBaud;
            }
        }
        chip.takeNotes();
        chip.takeAudioEvents();
        const QByteArray bytes = line.deliver(now);
        while (!switches.empty() && switches.front().first <= now) {
            chip.setBaud(switches.front().second);
            switches.pop_front();
        }
        if (const double next = chip.nextDeadline(); next != sim::ChipModel::kNever) chipAlarm->setAt(next);
        double next = line.nextDelivery();
        if (!switches.empty()) next = std::min(next, switches.front().first);
        if (next != sim::LineModel::kNever) lineAlarm->setAt(next);
        if (!bytes.isEmpty()) serial.receive(bytes);
    }
};

}  // namespace vorla::test
