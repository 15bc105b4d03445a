// SPDX-License-Identifier: MIT
// The window on the conversation with the chip, over the recording serial
// control and a virtual clock, with its log and sends recorded in one
// journal.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "ui/frm_7711.h"
#include "ui_frm_7711.h"

namespace vorla::test {

struct WindowRig {
    WindowRig();
    VirtualClock clock;
    FakeSerial serial{clock};
    std::vector<std::string> journal;
    std::vector<QString> messages;
    std::unique_ptr<ChipConversation> conversation;
    std::unique_ptr<frm_7711> window;
    Ui::frm_7711& ui() { return window->ui(); }
    ChipConversation& conv() { return *conversation; }
    QString log() const { return conversation->log().text(); }
    // The chip's three-byte replies.
    void reject() { serial.receive(Hex("01 10 14")); }
    void accept() { serial.receive(Hex("01 11 14")); }
    void finished() { serial.receive(Hex("01 12 14")); }
};

}  // namespace vorla::test
