// SPDX-License-Identifier: MIT
#include "link/lyrics.h"

#include <vector>

#include "link/lyric_codes.h"

namespace vorla {

namespace {
using namespace lyric;

class Run {
public:
    Run(RxText stream, int16_t lineLength, LyricDisplay& display, EventPump& pump, LyricState& st)
        : text_(std::move(stream)), lineLength_(lineLength > 0 ? lineLength : 1), display_(display), pump_(pump),
          st_(st) {}

    void play() {
        display_.setLine(1, QString());
        display_.setLine(2, QString());
        size_t i = 0;
        while (i < text_.size()) {
            if (text_[i].code == kEnd) {
                removeHighlight();
                return;
            }
            if (!step(i)) return;
        }
        removeHighlight();
    }

private:
    // The code at i. False when the run ends there: the stream ran out
    // inside it, or a wait found both lines emptied.
    bool step(size_t& i) {
        switch (text_[i].code) {
        case kTempo:
            if (i + 2 >= text_.size()) return false;
            tempoUnit_ = text_[i + 2].code / 3.6;
            i += 3;
            return true;
        case kLines: return showLines(i);
        case kPause: return pause(i);
        case kSentence: return playSentence(i);
        default: ++i; return true;
        }
    }

    bool pause(size_t& i) {
        if (i + 1 >= text_.size()) return false;
        // Wide arithmetic: a double-byte duration gives a negative wait.
        const double seconds = double((int32_t(text_[i + 1].code) - 32) * 4) * 0.01 * tempoUnit_;
        if (!wait(seconds)) return false;
        i += 2;
        return true;
    }

    void removeHighlight() {
        display_.clearSelection(2);
        display_.clearSelection(1);
    }

    void show(const QString& text) {
        display_.setLine(nextBox_, text);
        nextBox_ = nextBox_ == 1 ? 2 : 1;
    }

    // 0x05 at i: line 1, and line 2 after 0x06. Leaves i at the character that
    // ended the last line. False when the stream ends inside a line.
    bool showLines(size_t& i) {
        size_t j = i + 1;
        QString line1;
        while (j < text_.size() && text_[j].doubleByte()) line1 += QChar(text_[j++].ch);
        if (j >= text_.size()) return false;
        show(line1);
        if (text_[j].code == kLine2) {
            QString line2;
            ++j;
            while (j < text_.size() && text_[j].doubleByte()) line2 += QChar(text_[j++].ch);
            while (j < text_.size() && text_[j].code > 0x20) line2 += QChar(text_[j++].ch);
            if (j >= text_.size()) return false;
            show(line2);
        }
        i = j;
        return true;
    }

    // 0x08 at i: collect the pairs, then show the sentence in lines of at most
    // lineLength characters, highlighting each character for its duration.
    bool playSentence(size_t& i) {
        QString sentence;
        std::vector<int32_t> durations;
        size_t j = i + 1;
        if (!collectSentence(j, sentence, durations)) return false;
        size_t next = 0;
        while (!sentence.isEmpty()) {
            // A last part shorter than a line is shown with a comma.
            const bool last = sentence.size() < lineLength_;
            const QString line = last ? sentence : sentence.left(lineLength_);
            sentence.remove(0, line.size());
            const int box = nextBox_;
            show(last ? line + QStringLiteral(",") : line);
            display_.clearSelection(2);
            display_.clearSelection(1);
            if (!highlightLine(box, line, durations, next)) return false;
        }
        i = j;
        return true;
    }

    // From j on: pairs of a double-byte character and its duration, up to the
    // first single-byte character where a character was expected (j is left
    // there). False when the stream ends first.
    bool collectSentence(size_t& j, QString& sentence, std::vector<int32_t>& durations) const {
        while (true) {
            if (j >= text_.size()) return false;
            if (!text_[j].doubleByte()) return true;
            if (j + 1 >= text_.size()) return false;
            sentence += QChar(text_[j].ch);
            durations.push_back(int32_t(text_[j + 1].code) - 32);
            j += 2;
        }
    }

    // Highlights the line's characters one after the other, each for its
    // duration (next counts through the sentence's durations).
    bool highlightLine(int box, const QString& line, const std::vector<int32_t>& durations, size_t& next) {
        for (qsizetype pos = 1; pos <= line.size(); ++pos) {
            st_.HighlightPos = int16_t(pos);
            display_.highlight(box, int(pos - 1), 1);
            const double seconds = next < durations.size() ? durations[next] * 0.01 * tempoUnit_ : 0.0;
            ++next;
            if (!wait(seconds)) return false;
        }
        return true;
    }

    // Waits until LyricMark + seconds. False when the run must end.
    bool wait(double seconds) {
        const double start = pump_.now();
        st_.LyricLag = start - st_.LyricMark;
        const double deadline = start + seconds - st_.LyricLag;
        if (deadline <= start) {
            // Already due: no wait, and the schedule starts again from now.
            st_.LyricMark = start;
            return true;
        }
        while (pump_.now() < deadline) {
            pump_.waitForEvents(deadline);
            if (pump_.stopping()) return false;
            if (display_.lineEmpty(1) && display_.lineEmpty(2)) return false;
        }
        // The next wait counts from the scheduled time, not from when this
        // one woke up, so wake-up latency does not add up over a song.
        st_.LyricMark = deadline;
        return true;
    }

    const RxText text_;
    const int16_t lineLength_;
    LyricDisplay& display_;
    EventPump& pump_;
    LyricState& st_;
    double tempoUnit_ = 0;
    int nextBox_ = 1;
};
}  // namespace

void DecodeLyrics(RxText stream, int16_t lineLength, LyricDisplay& display, EventPump& pump, LyricState& st) {
    Run(std::move(stream), lineLength, display, pump, st).play();
}

}  // namespace vorla
