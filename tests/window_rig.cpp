// SPDX-License-Identifier: MIT
#include "window_rig.h"

namespace vorla::test {

WindowRig::WindowRig() {
    serial.journal = &journal;
    serial.timeSource = &pump;
    pump.port = &serial;
    window = std::make_unique<frm_7711>(serial, pump);
    window->setMessageSink([this](const QString& text) { messages.push_back(text); });
    window->setExitAction([] {});
    QObject::connect(&window->log(), &FrameLog::appended, [this](const QString&) { journal.push_back("log"); });
}

}  // namespace vorla::test
