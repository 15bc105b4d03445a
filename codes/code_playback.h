// SPDX-License-Identifier: MIT
// Playing the four code lists one after another, each code sent only after
// the chip has reported the end of the one before.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codes/code_lists.h"
#include "codes/code_state.h"
#include "link/event_pump.h"

namespace vorla {

class CodePlaybackHost {
public:
    virtual ~CodePlaybackHost() = default;
    virtual const ListBox& codeList(int k) = 0;
    virtual PlaySettings currentSettings() = 0;
    virtual void clearLyricLines() = 0;
    // Sends the frame, then logs it; false when it could not be sent (the
    // failure has been reported).
    virtual bool sendCodeFrame(const Frame& frame) = 0;
};

class CodePlayer {
public:
    CodePlayer(CodeState& st, EventPump& pump, CodePlaybackHost& host) : st_(st), pump_(pump), host_(host) {}

    // The Play button. A click while a run waits replaces that run: the
    // waiting run ends without sending more and without its end-of-run reset,
    // and the new run goes on in its place (the click returns at once), so
    // clicks never nest runs however many come.
    void Play();

    // Builds one code's frame, records its check byte and last index, and
    // sends it.
    bool SendCodeFrame(int k);

    bool Running() const { return running_; }

private:
    // A new run's start: LastCommand, the first code due at once, the run
    // order, and where it starts.
    void StartRun();
    // Waits for the report of the code before; false when the run must not
    // send (it was ended or replaced, or the program ends).
    bool AwaitReport();
    void EndRun();

    CodeState& st_;
    EventPump& pump_;
    CodePlaybackHost& host_;
    std::vector<int> order_;
    size_t next_ = 0;  // index in order_ of the next code to send
    bool running_ = false;
    bool replaced_ = false;
};

}  // namespace vorla
