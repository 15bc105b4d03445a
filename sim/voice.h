// SPDX-License-Identifier: MIT
// The virtual chip's voice as the chip sees it: it is handed a play's audio
// job, says when that audio sounds and for how long, and is stopped. A build
// without a voice has none, and the chip's plays then take fixed times.
#pragma once

#include <functional>

#include <QObject>
#include <QString>

#include "sim/play_job.h"

namespace vorla::sim {

struct ChipOptions;

class Voice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Prepares the job's audio; ready() says when it sounds. A job started
    // replaces the one before.
    virtual void start(const AudioJob& job) = 0;
    // Silences whatever sounds, or drops what is being prepared.
    virtual void stop() = 0;

signals:
    // Job `id` sounds from now for `seconds`, all its passes together.
    void ready(int id, double seconds);
    // Said once: the voice cannot be heard, or a recording failed.
    void notice(const QString& line);
    // A recording was written.
    void recorded(const QString& path);
};

// Makes the chip's voice, a child of `parent`.
using VoiceFactory = std::function<Voice*(const ChipOptions& options, QObject* parent)>;

}  // namespace vorla::sim
