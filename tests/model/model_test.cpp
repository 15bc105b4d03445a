// SPDX-License-Identifier: MIT
// The conversation with the chip against a model, on generated timelines of
// operator input and chip messages (see model_rig.h), each property checked
// on its own so that RapidCheck shrinks each failure to its own smallest
// timeline. What is expected comes from the messages the chip was made to
// send and the inputs the operator gave (reference_model.h), never from what
// the conversation did.
//
// MODEL_CASES sets the cases a property runs (2,000 by default); RC_PARAMS
// takes RapidCheck's own settings (seed=N, reproduce=...). A failure prints
// RapidCheck's reproduce string at the end of the run, and the failing
// case's line is saved as a capture that vorla-chipsim --replay serves.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <sstream>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <rapidcheck.h>

#include "model/model_case.h"
#include "model/model_rig.h"
#include "model/reference_model.h"
#include "protocol/capture.h"
#include "protocol/commands.h"
#include "protocol/hex_text.h"

using namespace vorla;
using namespace vorla::model;

namespace {

constexpr int kDefaultCases = 2000;

struct CaseRun {
    explicit CaseRun(const Case& c) : rig(c) {
        rig.run();
        for (size_t i = 0; i < rig.events().size(); ++i) model.apply(rig.events()[i], rig.eventTimes()[i]);
        model.finish();
    }
    ModelRig rig;
    ReferenceModel model;
};

bool IsReplyLine(const Entry& e) { return e.kind == Entry::Kind::Log && e.log.startsWith(QStringLiteral("->")); }

std::string Shown(const Entry& e) {
    if (e.kind == Entry::Kind::Frame) return "frame " + e.frame.toHex(' ').toUpper().toStdString();
    QString text = e.log;
    return "log \"" + text.replace(QStringLiteral("\r\n"), QStringLiteral("⏎")).toStdString() + "\"";
}

// The first place where what came differs from what was expected, with the
// entries before it; empty when they agree. With `judged`, only that many
// entries are judged (the model cannot tell what comes after them).
std::string Difference(const std::vector<Entry>& expected, const std::vector<Entry>& actual,
                       std::optional<size_t> judged = std::nullopt) {
    const size_t n = std::min(expected.size(), judged.value_or(expected.size()));
    size_t i = 0;
    while (i < n && i < actual.size() && expected[i].sameAs(actual[i])) ++i;
    if (i == n && (judged || actual.size() == n)) return {};
    std::ostringstream os;
    os << "they differ at entry " << i << ":";
    for (size_t k = i >= 3 ? i - 3 : 0; k < i; ++k) os << "\n    as expected: " << Shown(actual[k]);
    if (i < n) os << "\n  expected: " << Shown(expected[i]) << "\n       for " << expected[i].cause;
    else os << "\n  expected: nothing more";
    if (i < actual.size()) os << "\n  came:     " << Shown(actual[i]) << "\n       from " << actual[i].cause;
    else os << "\n  came:     nothing more";
    return os.str();
}

std::vector<Entry> Only(const std::vector<Entry>& entries, const std::function<bool(const Entry&)>& keep) {
    std::vector<Entry> out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out), keep);
    return out;
}

// The model's entries of a kind against the conversation's, as far as the
// model can tell.
std::string Compare(const CaseRun& run, const std::function<bool(const Entry&)>& keep) {
    const auto& model = run.model.journal();
    std::optional<size_t> judged;
    if (const auto until = run.model.uncertainFrom())
        judged = size_t(std::count_if(model.begin(), model.begin() + qsizetype(std::min(*until, model.size())), keep));
    return Difference(Only(model, keep), Only(run.rig.journal(), keep), judged);
}

// Runs a property over generated cases; a failure is shrunk, its capture
// saved (named after the property and the seed) and the test fails.
constexpr uint64_t kDefaultSeed = 20261208;

void CheckModel(const std::string& name, const std::function<std::string(CaseRun&)>& property) {
    using namespace rc::detail;
    TestParams params = configuration().testParams;
    if (const char* cases = std::getenv("MODEL_CASES")) params.maxSuccess = std::max(1, std::atoi(cases));
    else if (!QString::fromLocal8Bit(qgetenv("RC_PARAMS")).contains(QStringLiteral("max_success")))
        params.maxSuccess = kDefaultCases;
    // The same cases every run unless asked otherwise (MODEL_SEED=N, or
    // MODEL_SEED=random for new ones), so that a run in CI is reproducible.
    const QByteArray seed = qgetenv("MODEL_SEED");
    if (seed == "random") {
        // RapidCheck's own random seed.
    } else if (!seed.isEmpty()) {
        params.seed = seed.toULongLong();
    } else if (!QString::fromLocal8Bit(qgetenv("RC_PARAMS")).contains(QStringLiteral("seed"))) {
        params.seed = kDefaultSeed;
    }
    QByteArray capture;
    const TestResult result =
        checkProperty(toProperty([&] {
                          const Case c = *GenCase();
                          CaseRun run(c);
                          RC_CLASSIFY(run.model.uncertainFrom().has_value(), "not judged to the end");
                          const std::string failure = property(run);
                          if (!failure.empty()) {
                              capture = capture::Write(run.rig.conversation().lineCapture());
                              RC_FAIL(failure);
                          }
                      }),
                      TestMetadata{"ConversationModel/" + name, name}, params);
    std::ostringstream message;
    printResultMessage(result, message);
    if (result.is<SuccessResult>()) {
        std::cout << name << ": " << message.str() << "\n";
        return;
    }
    const QString dir = qEnvironmentVariableIsSet("TMPDIR") ? qEnvironmentVariable("TMPDIR") : QDir::tempPath();
    const QString path = QDir(dir).filePath(
        QStringLiteral("vorla-model-%1-seed%2.pcapng").arg(QString::fromStdString(name)).arg(params.seed));
    QFile file(path);
    const bool saved = !capture.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(capture) == capture.size();
    FAIL() << message.str() << "\nseed " << params.seed << "; the failing case's line "
           << (saved ? "is in " + path.toStdString() + " (vorla-chipsim --replay FILE serves it)"
                     : std::string("could not be saved"));
}

// The frames a sleeping chip may hear: a wake, a sleep again (a rejected
// sleep repeated), and what the raw sender types.
bool ReachesSleepingChip(const QByteArray& frame) {
    static const std::vector<QByteArray> allowed = [] {
        std::vector<QByteArray> frames{ControlFrame(FrameEnds{}, kSleepMode).toByteArray(),
                                       ControlFrame(FrameEnds{}, kWakeMode).toByteArray()};
        QStringList typed{Controls::startUp().rawText};
        for (int v = 0; v < 4; ++v) typed << RawTextChoice(v);
        for (const QString& text : typed)
            if (const HexText hex = ParseHexText(text); hex.status == HexTextStatus::Ok)
                for (const bool check : {true, false}) frames.push_back(RawFrame(hex.bytes, check).toByteArray());
        return frames;
    }();
    return std::find(allowed.begin(), allowed.end(), frame) != allowed.end();
}

// The replies the chip sent outside lyric data, each logged once, in the
// order the model acts on them (the order they came, but that a rate
// switch's answer goes before what its wait held), as far as the model
// judges.
std::string ReplyLines(const CaseRun& run) {
    size_t replies = 0;
    for (const Event& e : run.rig.events()) replies += std::holds_alternative<ReplyArrived>(e) ? 1 : 0;
    const size_t modelled = size_t(std::count_if(run.model.journal().begin(), run.model.journal().end(), IsReplyLine));
    if (!run.model.uncertainFrom() && modelled != replies)
        return "the model logs " + std::to_string(modelled) + " replies of the " + std::to_string(replies) +
               " that came";
    return Compare(run, IsReplyLine);
}

}  // namespace

// Every reply the chip sent outside lyric data is logged, once, in the order
// it is acted on; nothing else is logged as a reply.
TEST(ConversationModel, EveryReplyLoggedOnceInOrder) { CheckModel("EveryReplyLoggedOnceInOrder", ReplyLines); }

// The log holds the frames' records and the replies in the order the clicks
// and the replies came, whatever was held meanwhile. Which replies and which
// records are logged is judged by the other properties: here only runs
// whose reply lines and records are each right, and how they interleave.
TEST(ConversationModel, LogInTimeOrder) {
    CheckModel("LogInTimeOrder", [](CaseRun& run) -> std::string {
        const auto isRecord = [](const Entry& e) { return e.kind == Entry::Kind::Log && !IsReplyLine(e); };
        if (!ReplyLines(run).empty() || !Compare(run, isRecord).empty()) return {};
        return Compare(run, [](const Entry& e) { return e.kind == Entry::Kind::Log; });
    });
}

// The frames on the line are the model's: held input is never lost or
// reordered, a rejected frame goes again as it was (rebuilt from the same
// controls) at most three times in a row, a code goes at its finish report.
TEST(ConversationModel, FramesAsTheInputAndRepliesAsk) {
    CheckModel("FramesAsTheInputAndRepliesAsk",
               [](CaseRun& run) { return Compare(run, [](const Entry& e) { return e.kind == Entry::Kind::Frame; }); });
}

// Between a sleep frame and the next wake nothing but a wake (or a sleep
// repeated after a rejection, or a typed frame) reaches the chip.
TEST(ConversationModel, NothingButAWakeReachesASleepingChip) {
    CheckModel("NothingButAWakeReachesASleepingChip", [](CaseRun& run) -> std::string {
        const QByteArray sleep = ControlFrame(FrameEnds{}, kSleepMode).toByteArray();
        const QByteArray wake = ControlFrame(FrameEnds{}, kWakeMode).toByteArray();
        bool asleep = false;
        for (const Entry& e : run.rig.journal()) {
            if (e.kind != Entry::Kind::Frame) continue;
            if (asleep && !ReachesSleepingChip(e.frame))
                return "the sleeping chip got " + Shown(e) + " from " + e.cause;
            if (e.frame == sleep) asleep = true;
            else if (e.frame == wake) asleep = false;
        }
        return {};
    });
}

// No wait holds input past its deadline, and none is left at the end.
TEST(ConversationModel, NoWaitOutlivesItsDeadline) {
    CheckModel("NoWaitOutlivesItsDeadline", [](CaseRun& run) -> std::string {
        return run.rig.waitFaults().empty() ? std::string() : run.rig.waitFaults().front();
    });
}

// A code run sends every code the model sends, in order, and at the end
// waits exactly when the model does: only for a finish report it has not had.
TEST(ConversationModel, CodeRunsWaitOnlyForFinishReportsNotHad) {
    CheckModel("CodeRunsWaitOnlyForFinishReportsNotHad", [](CaseRun& run) -> std::string {
        const auto& codes = run.model.codeFrames();
        size_t next = 0;
        for (const Entry& e : run.rig.journal())
            if (next < codes.size() && e.kind == Entry::Kind::Frame && e.frame == codes[next]) ++next;
        if (run.model.uncertainFrom()) return {};
        if (next < codes.size())
            return "code frame " + std::to_string(next) + " (" + codes[next].toHex(' ').toUpper().toStdString() +
                   ") never went out";
        if (run.rig.codeRunning() != run.model.codeRunning())
            return run.rig.codeRunning() ? "a code run waits at the end, where the model's is over or never began"
                                         : "no code run waits at the end, where the model's waits for a finish report";
        return {};
    });
}
