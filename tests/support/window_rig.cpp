// SPDX-License-Identifier: MIT
#include "window_rig.h"

namespace vorla::test {

WindowRig::WindowRig() {
    serial.journal = &journal;
    conversation = std::make_unique<ChipConversation>(serial);
    window = std::make_unique<frm_7711>(*conversation);
    window->setMessageSink([this](const QString& text) { messages.push_back(text); });
    window->setExitAction([] {});
    QObject::connect(&conversation->log(), &FrameLog::appended, [this](const QString&) { journal.push_back("log"); });
}

}  // namespace vorla::test
