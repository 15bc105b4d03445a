// SPDX-License-Identifier: MIT
// The conversation with the chip on the recording serial control and a
// virtual clock, with the window's start-up controls and code lists, and
// its log and sends recorded in one journal.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "conversation/code_lists.h"
#include "conversation/conversation.h"
#include "support/fakes.h"

namespace vorla::test {

struct ConversationRig {
    VirtualClock clock;
    FakeSerial serial{clock};
    std::array<VectorListBox, kCodeLists> lists;
    std::unique_ptr<ChipConversation> conv;
    std::vector<std::string> journal;
    std::vector<QString> messages;
    Controls controls = Controls::startUp();
    bool codeRunning = false;           // as the conversation last said
    std::array<QString, 2> lyricLines;  // what the two lyric lines show

    ConversationRig() {
        serial.journal = &journal;
        for (int k = 0; k < kCodeLists; ++k)
            for (const CodeListItem& item : InitialCodeList(k)) fill(k, item.text, item.code);
        conv = std::make_unique<ChipConversation>(serial);
        pushLists();
        conv->setControls(controls);
        QObject::connect(&conv->log(), &FrameLog::appended, [this](const QString&) { journal.push_back("log"); });
        QObject::connect(conv.get(), &ChipConversation::formatRejected,
                         [this](const QString& m) { messages.push_back(m); });
        QObject::connect(conv.get(), &ChipConversation::codeRunChanged, [this](bool on) { codeRunning = on; });
        QObject::connect(conv.get(), &ChipConversation::lyricLineChanged,
                         [this](int box, const QString& text) { lyricLines[box == 2 ? 1 : 0] = text; });
    }
    void fill(int k, const QString& text, int32_t code) { lists[size_t(k)].append(text, code); }
    // The lists as they stand, handed to the conversation as the window does after an edit.
    void pushLists() {
        conv->setCodeLists({ItemsOf(lists[0]), ItemsOf(lists[1]), ItemsOf(lists[2]), ItemsOf(lists[3])});
    }
    // Changes the controls as the window would, then gives the command.
    void send(Command command) { conv->send(command); }
    void set(const std::function<void(Controls&)>& change) {
        change(controls);
        conv->setControls(controls);
    }
    QString log() const { return conv->log().text(); }
    QString status() const { return conv->status(); }
    std::vector<QByteArray> sent() const { return serial.sent(); }
    // The chip's three-byte replies.
    void reject() { serial.receive(Hex("01 10 14")); }
    void accept() { serial.receive(Hex("01 11 14")); }
    void finished() { serial.receive(Hex("01 12 14")); }
};

}  // namespace vorla::test
