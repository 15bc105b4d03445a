// SPDX-License-Identifier: MIT
// Plays a karaoke lyric stream back in two lyric lines, on a clock: the
// stream's steps (see LyricScript) run until a wait, an alarm rings at the
// wait's end, and the steps go on from there. Waits are scheduled from the
// moment the data was read, so time spent between two timing points comes
// off the next wait and the highlight keeps to the song.
#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QString>

#include "protocol/lyric_grammar.h"
#include "serial/clock.h"

namespace vorla {

class LyricPlayer : public QObject {
    Q_OBJECT
public:
    explicit LyricPlayer(Clock& clock, QObject* parent = nullptr);

    // Plays the stream from its start, in place of whatever was playing;
    // `mark` is the moment its data was read (seconds on the clock).
    void play(const RxText& stream, double mark);
    // Ends the run where it stands.
    void stop();
    bool playing() const { return playing_; }

signals:
    // Box 1 is the first lyric line, box 2 the second.
    void lineShown(int box, const QString& text);
    // The box gets the focus and `length` characters from `start` selected.
    void highlighted(int box, int start, int length);
    void selectionCleared(int box);

private:
    void run();

    Clock& clock_;
    std::unique_ptr<Alarm> alarm_;
    std::vector<LyricStep> steps_;
    size_t next_ = 0;
    double mark_ = 0;      // the last timing point
    double deadline_ = 0;  // of the wait in progress
    bool playing_ = false;
    unsigned run_ = 0;  // counts runs, so a run replaced from a slot stops
};

}  // namespace vorla
