// SPDX-License-Identifier: MIT
#include "protocol/lyric_grammar.h"

#include <algorithm>

namespace vorla {

namespace lyric {
double TempoUnit(int16_t tempoCode) { return tempoCode / 3.6; }

double PauseSeconds(int16_t durationCode, double tempoUnit) {
    return double((int32_t(durationCode) - kDurationBase) * 4) * 0.01 * tempoUnit;
}

double HoldSeconds(int16_t durationCode, double tempoUnit) {
    return double(int32_t(durationCode) - kDurationBase) * 0.01 * tempoUnit;
}
}  // namespace lyric

bool LyricEndScanner::atEnd(const RxChar& c) {
    if (operands_ > 0) {
        --operands_;
        return false;
    }
    if (duration_) {
        duration_ = false;
        return false;
    }
    if (sentence_) {
        if (c.doubleByte()) {
            duration_ = true;
            return false;
        }
        sentence_ = false;  // read again as a code
    }
    switch (c.code) {
    // Operands may hold any byte, 0x04 included.
    case lyric::kTempo: operands_ = 2; break;
    case lyric::kPause: operands_ = 1; break;
    case lyric::kSentence: sentence_ = true; break;
    case lyric::kEnd: return true;
    default: break;
    }
    return false;
}

namespace {
using namespace lyric;
using Kind = LyricStep::Kind;

class Compiler {
public:
    Compiler(const RxText& text, int16_t lineLength) : text_(text), lineLength_(std::max<int16_t>(lineLength, 1)) {}

    std::vector<LyricStep> run() {
        show(1, QString());
        show(2, QString());
        size_t i = 0;
        while (i < text_.size()) {
            if (text_[i].code == kEnd) break;
            if (!step(i)) return std::move(steps_);  // cut short
        }
        add(Kind::RemoveHighlight);
        return std::move(steps_);
    }

private:
    LyricStep& add(Kind kind, int box = 0) {
        LyricStep& s = steps_.emplace_back();
        s.kind = kind;
        s.box = box;
        return s;
    }
    void wait(double seconds, bool sung) {
        LyricStep& s = add(Kind::Wait);
        s.seconds = seconds;
        s.sung = sung;
    }
    void show(int box, const QString& text) { add(Kind::ShowLine, box).text = text; }
    void show(const QString& text) {
        show(nextBox_, text);
        nextBox_ = nextBox_ == 1 ? 2 : 1;
    }

    // The code at i. False when the stream ran out inside it.
    bool step(size_t& i) {
        switch (text_[i].code) {
        case kTempo:
            if (i + 2 >= text_.size()) return false;
            tempoUnit_ = TempoUnit(text_[i + 2].code);
            i += 3;
            return true;
        case kLines: return showLines(i);
        case kPause:
            if (i + 1 >= text_.size()) return false;
            wait(PauseSeconds(text_[i + 1].code, tempoUnit_), false);
            i += 2;
            return true;
        case kSentence: return sentence(i);
        default: ++i; return true;
        }
    }

    // 0x05 at i: line 1, and line 2 after 0x06; i is left at the character
    // that ended the last line.
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

    // 0x08 at i: the pairs, then the sentence in lines of at most
    // lineLength characters, each character highlighted for its duration.
    bool sentence(size_t& i) {
        QString text;
        std::vector<double> holds;
        size_t j = i + 1;
        while (true) {
            if (j >= text_.size()) return false;
            if (!text_[j].doubleByte()) break;
            if (j + 1 >= text_.size()) return false;
            text += QChar(text_[j].ch);
            holds.push_back(HoldSeconds(text_[j + 1].code, tempoUnit_));
            j += 2;
        }
        size_t next = 0;
        while (!text.isEmpty()) {
            // A last part shorter than a line is shown with a comma.
            const bool last = text.size() < lineLength_;
            const QString line = last ? text : text.left(lineLength_);
            text.remove(0, line.size());
            const int box = nextBox_;
            show(last ? line + QStringLiteral(",") : line);
            add(Kind::ClearSelections);
            for (int pos = 0; pos < line.size(); ++pos) {
                add(Kind::Highlight, box).start = pos;
                wait(holds[next++], true);
            }
        }
        i = j;
        return true;
    }

    const RxText& text_;
    const int16_t lineLength_;
    std::vector<LyricStep> steps_;
    double tempoUnit_ = 0;
    int nextBox_ = 1;
};
}  // namespace

std::vector<LyricStep> LyricScript(const RxText& stream, int16_t lineLength) {
    return Compiler(stream, lineLength).run();
}

std::vector<LyricBeat> LyricTimeline(const RxText& stream) {
    std::vector<LyricBeat> beats;
    for (const LyricStep& s : LyricScript(stream))
        if (s.kind == LyricStep::Kind::Wait) beats.push_back(LyricBeat{std::max(0.0, s.seconds), s.sung});
    return beats;
}

double LyricSeconds(const RxText& stream) {
    double total = 0;
    for (const LyricBeat& beat : LyricTimeline(stream)) total += beat.seconds;
    return total;
}

}  // namespace vorla
