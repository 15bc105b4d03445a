// SPDX-License-Identifier: MIT
// Benchmarks: figures printed, nothing asserted.
//
//   vorla_bench            everything (about six minutes)
//   vorla_bench --quick    shorter waits and lyric stream
//   vorla_bench --replies  only the reply-to-status latency
//   vorla_bench --voice    only the virtual chip's synthesis times
//   vorla_bench --selftest only self-test runs against the virtual chip
//   vorla_bench --station  only a test station's runs: 1 and 16 virtual chips, one vanishing
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTimer>

#include "chip_rig.h"
#include "conversation/line_record.h"
#include "protocol/capture.h"
#include "selftest/report.h"
#include "selftest/runner.h"
#include "selftest/station.h"
#include "ui/line_timeline.h"
#ifdef VORLA_VOICE
#include "sim/chip_audio.h"
#endif
#include "sim/line_model.h"
#include "window_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Stats {
    double median, p99, worst;
};
Stats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return {0, 0, 0};
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(double(v.size()) * 0.99))], v.back()};
}

// Click on the text button to the frame's bytes written to the port: the
// handler builds the frame, logs it and writes it through QSerialPort.
void ClickToBytes() {
    ChipRig b(sim::ChipOptions{1000.0});
    std::vector<double> us;
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer t;
        t.start();
        b.ui().Command6->click();
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
        // Paced by the chip's answer: the frame takes 0.17 s on the wire at 1200 baud.
        Spin(400, [&] { return b.log().count(QStringLiteral("接受")) > i; });
    }
    us.erase(us.begin());  // the first click opens the port
    const Stats s = Summarise(us);
    std::printf(
        "click-to-bytes (text command, frame built, logged, written): median %.1f us, p99 %.1f us, worst %.1f us\n",
        s.median, s.p99, s.worst);
}

// Appending a record, measured around the 1,000th and the 100,000th.
void LogAppend() {
    WindowRig r;
    auto batch = [&](int n) {
        // The rig's own records of sends are not part of what is measured.
        r.serial.ops.clear();
        r.journal.clear();
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i) r.window->Command1_Click();
        return double(t.nsecsElapsed()) / 1000.0 / n;
    };
    batch(900);
    const double at1k = batch(200);
    while (r.conv().log().text().count(u'\n') < 2 * 99'900) batch(1000);
    const double at100k = batch(200);
    std::printf(
        "log append (stop command with its record, fake port): %.1f us at 1,000 records, %.1f us at 100,000 (ratio "
        "%.2f)\n",
        at1k, at100k, at100k / at1k);
}

// A code playback waiting for a finish report that never comes.
void PlaybackWait(int seconds) {
    ChipRig b(sim::ChipOptions{50.0});
    b.chip->run([](sim::ChipHost& h) { h.model().setDropFinishReports(true); });
    double cpu0 = 0;
    QTimer::singleShot(500, [&] { cpu0 = CpuSeconds(); });
    QTimer::singleShot(500 + seconds * 1000, [&] {
        const double used = CpuSeconds() - cpu0;
        std::printf("code playback wait: %.3f s CPU in %d s (%.3f%% of a core)\n", used, seconds,
                    100.0 * used / seconds);
        b.window->Command1_Click();
    });
    // The harness sleeps until the run ends (no polling of its own to measure).
    QEventLoop untilEnded;
    QObject::connect(&b.conv(), &ChipConversation::codeRunChanged, &untilEnded, [&](bool running) {
        if (!running) untilEnded.quit();
    });
    b.window->Command13_Click();
    untilEnded.exec();
}

// A lyric stream of the given length played in the real window: CPU used and
// the highlight times against the stream's schedule.
void Lyrics(int seconds) {
    QtClock clock;  // real time and alarms
    FakeSerial serial{clock};
    ChipConversation conv(serial);
    frm_7711 window(conv);
    window.setExitAction([] {});
    window.ui().Combo2->setEditText(QStringLiteral("-"));  // read at once
    window.show();
    // Tempo unit 10 s; sentences of 8 characters of 0.25 to 0.75 s each.
    QByteArray stream = QByteArray("\x01\x11\x14\x01\x00\x24", 6);
    std::vector<double> schedule;  // seconds after the data was read
    double at = 0;
    int n = 0;
    while (at < seconds) {
        stream += '\x08';
        for (int i = 0; i < 8; ++i, ++n) {
            const int hundredths = 25 + (n * 7) % 51;
            stream += QByteArray("\xBA\xC3", 2);
            stream += char(32 + hundredths / 10);
            schedule.push_back(at);
            at += (hundredths / 10) * 0.1;
        }
    }
    stream += '\x04';
    std::vector<double> seen;
    double start = 0;
    QEventLoop untilSung;  // the harness sleeps until the last highlight
    for (QLineEdit* line : {window.ui().Text1, window.ui().Text2})
        QObject::connect(line, &QLineEdit::selectionChanged, [&, line] {
            if (line->selectionLength() != 1) return;
            seen.push_back(clock.now() - start);
            if (seen.size() >= schedule.size()) untilSung.quit();
        });
    const double cpu0 = CpuSeconds();
    serial.setPortOpen(true);
    start = clock.now();  // the data is read as it arrives: the schedule counts from here
    serial.receive(stream);
    untilSung.exec();
    const double used = CpuSeconds() - cpu0;
    std::vector<double> errorsMs;
    for (size_t i = 0; i < seen.size() && i < schedule.size(); ++i)
        errorsMs.push_back(std::abs(seen[i] - schedule[i]) * 1000.0);
    const Stats s = Summarise(errorsMs);
    std::printf(
        "lyric stream of %.0f s (%zu highlights): %.3f s CPU (%.3f%% of a core); highlight error median %.3f ms, "
        "p99 %.3f ms, worst %.3f ms\n",
        at, seen.size(), used, 100.0 * used / at, s.median, s.p99, s.worst);
}

// From the last byte of a complete reply reaching the port to its status
// text, at 1200 and 9600 baud, with the reply handed over as each kind of
// line hands it over.
void ReplyLatency(int samples) {
    struct Kind {
        const char* name;
        QByteArray reply;
        bool lyricsFrame;  // the frame it answers asked for lyrics
    };
    const Kind kinds[] = {{"rejection", QByteArray("\x01\x10\x14", 3), false},
                          {"finish report", QByteArray("\x01\x12\x14", 3), false},
                          {"acceptance", QByteArray("\x01\x11\x14", 3), false},
                          {"bare acceptance, lyrics asked", QByteArray("\x01\x11\x14", 3), true}};
    for (const int baud : {1200, 9600}) {
        for (const sim::LineKind line : {sim::LineKind::Uart, sim::LineKind::Usb, sim::LineKind::Burst}) {
            PtyRig r(baud);
            r.ui().Combo2->setEditText(QStringLiteral("-"));
            SteadyClock::time_point shown{};
            int replies = 0;
            QObject::connect(&r.conv().log(), &FrameLog::appended, [&](const QString& chunk) {
                if (!chunk.startsWith(QStringLiteral("->"))) return;
                shown = SteadyClock::now();
                ++replies;
            });
            std::printf("reply to status text, %d baud, %s line (ms):", baud, qPrintable(sim::LineKindName(line)));
            for (const Kind& kind : kinds) {
                r.ui().Check5->setChecked(kind.lyricsFrame);
                kind.lyricsFrame ? r.window->Command3_Click() : r.window->Command1_Click();
                // The reply as the line hands it over: pieces at their times.
                sim::LineModel model(line);
                model.send(kind.reply, baud, 0);
                std::vector<std::pair<double, QByteArray>> pieces;
                for (double at = model.nextDelivery(); at != sim::LineModel::kNever; at = model.nextDelivery())
                    pieces.emplace_back(at, model.deliver(at));
                std::vector<double> ms;
                for (int i = 0; i < samples; ++i) {
                    // Each acceptance of a frame that asked for lyrics answers a frame of its own.
                    if (kind.lyricsFrame && i > 0) r.window->Command3_Click();
                    r.pty->read();  // the frames the window sent (a rejection resends)
                    std::atomic<SteadyClock::time_point> last{};
                    const int before = replies;
                    std::jthread writer([&] {
                        const SteadyClock::time_point t0 = SteadyClock::now();
                        for (const auto& [at, bytes] : pieces) {
                            std::this_thread::sleep_until(t0 + std::chrono::duration<double>(at));
                            [[maybe_unused]] const auto n = ::write(r.pty->master, bytes.data(), size_t(bytes.size()));
                            last = SteadyClock::now();
                        }
                    });
                    if (!Spin(2000, [&] { return replies > before; })) continue;
                    writer.join();
                    ms.push_back(std::chrono::duration<double, std::milli>(shown - last.load()).count());
                }
                const Stats st = Summarise(ms);
                std::printf("  %s median %.2f p99 %.2f;", kind.name, st.median, st.p99);
            }
            std::printf("\n");
        }
    }
}

// Start-up of the real program to its shown window, in a child process.
void StartUp(const char* self) {
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--startup-child", nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("start-up to the shown window: %.1f ms (whole process, offscreen); peak memory %.1f MiB\n",
                double(t.nsecsElapsed()) / 1e6, double(usage.ru_maxrss) / 1024.0);
}

// Self-test runs of the whole table against the virtual chip over a
// pseudo-terminal: quick and full, at 1200 and 9600 baud; their time next to
// the wire time of what went over the line, and the reply latencies. Full
// runs play ten times faster, their play limits scaled to match.
void SelfTestRun(int16_t baudIndex, bool full) {
    sim::ChipOptions options;
    options.baud = BaudRateAt(baudIndex)->baud;
    if (full) options.speed = 10;
    ChipRig b(options);
    b.port->setSettings(*BaudSettingsFor(baudIndex));
    SelfTest test(b.conv());
    RunOptions o;
    o.startBaudIndex = baudIndex;
    o.info.full = full;
    if (full) o.limits.playScale = 0.1;
    test.start(o);
    Spin(3600000, [&] { return !test.running(); });
    const RunRecord& r = test.record();
    std::vector<double> latencies;
    for (const StepRecord& s : r.steps)
        if (s.measured.latencyMs >= 0) latencies.push_back(s.measured.latencyMs);
    const Stats s = Summarise(latencies);
    std::printf("self-test, %s, %d baud, uart line: %s; reply latency median %.2f ms, p99 %.2f ms\n",
                full ? "full (plays 10x faster)" : "quick", options.baud, qPrintable(SummaryLine(r)), s.median, s.p99);
    for (const StepRecord& step : r.steps)
        if (step.verdict.outcome == Outcome::Fail || step.verdict.outcome == Outcome::Error)
            std::printf("  %s: %s\n", qPrintable(step.step.name),
                        qPrintable(step.verdict.reasons.join(QStringLiteral("; "))));
}

void SelfTestRuns(bool withFull) {
    for (const bool full : {false, true}) {
        if (full && !withFull) continue;
        for (const int16_t baud : {int16_t(0), int16_t(3)}) SelfTestRun(baud, full);
    }
}

// A station of `count` virtual chips on pseudo-terminals (each on a thread of
// its own), the quick table at 9600 baud in every slot at once; `vanish`:
// that slot's chip is switched off after its 30th step. Prints the time, the
// CPU and memory a slot, and each slot's reply latency p95.
void StationRun(int count, int vanish = -1) {
    std::vector<std::unique_ptr<ChipThread>> chips;
    StationPlan plan;
    sim::ChipOptions options;
    options.baud = 9600;
    const long before = ResidentKb();
    for (int i = 0; i < count; ++i) {
        chips.push_back(std::make_unique<ChipThread>(options));
        if (!chips.back()->start()) return;
        plan.slotPlans.push_back(SlotPlan{QStringLiteral("S%1").arg(i + 1), chips.back()->devicePath(), {}, {}});
    }
    QtClock clock;
    Station station(clock);
    RunOptions run;
    run.startBaudIndex = 3;
    QString why;
    if (!station.open(plan, run, &why)) {
        std::printf("station: %s\n", qPrintable(why));
        return;
    }
    double vanishedAt = -1;
    QObject::connect(&station, &Station::stepFinished, [&](int slot, int index) {
        if (slot != vanish || index != 29) return;
        chips[size_t(slot)]->stop();
        vanishedAt = clock.now();
    });
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    station.startAll();
    Spin(3600000, [&] { return !station.running(); });
    const double seconds = double(wall.elapsed()) / 1000;
    const double cpuPerSlot = (CpuSeconds() - cpu) / count;
    const StationRecord r = station.record();
    double p95Low = 1e9, p95High = 0, slowest = 0;
    QStringList verdicts;
    for (size_t i = 0; i < r.slotRuns.size(); ++i) {
        const RunRecord& run = r.slotRuns[i].run;
        verdicts << OutcomeName(run.verdict.outcome);
        if (int(i) == vanish) {
            std::printf("  slot %zu, its chip gone after step 30: %s, ended %.2f s after (a step's deadline %.1f s)\n",
                        i + 1, qPrintable(OutcomeName(run.verdict.outcome)), run.clockStart + run.seconds - vanishedAt,
                        run.limits.replyDeadlineSeconds);
            continue;
        }
        std::vector<double> latencies;
        for (const StepRecord& s : run.steps)
            if (s.measured.latencyMs >= 0) latencies.push_back(s.measured.latencyMs);
        const Spread spread = SpreadOf(latencies);
        p95Low = std::min(p95Low, spread.p95);
        p95High = std::max(p95High, spread.p95);
        slowest = std::max(slowest, run.seconds);
    }
    verdicts.removeDuplicates();
    std::printf(
        "station of %d virtual chips, quick table at 9600 baud: %.1f s (slowest slot %.1f s), verdicts %s; "
        "reply latency p95 %.2f to %.2f ms a slot; CPU %.3f s and %.0f KiB resident a slot\n",
        count, seconds, slowest, qPrintable(verdicts.join(u',')), p95Low, p95High, cpuPerSlot,
        double(ResidentKb() - before) / count);
}

void StationRuns() {
    StationRun(1);
    StationRun(16);
    StationRun(16, 0);
}

int StartUpChild(int argc, char** argv) {
    QApplication app(argc, argv);
    PortMap map;
    QtClock clock;
    QtSerialControl port(map, clock);
    ChipConversation conv(port);
    frm_7711 window(conv);
    window.show();
    // Done once the window has been painted.
    QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}

#ifdef VORLA_VOICE
// How long the virtual chip takes to make a play's audio, against how long
// the audio lasts.
void VoiceSynthesis() {
    const std::pair<const char*, sim::AudioJob> jobs[] = {{"text, 5 characters", {}},
                                                          {"text, 20 characters", {}},
                                                          {"text, 50 characters", {}},
                                                          {"poem", {}},
                                                          {"karaoke piece", {}}};
    const QString text = QStringLiteral(
        "欢迎使用语音合成芯片，现在是北京时间上午十点整。今天天气晴朗，气温二十度，适合出门散步。请注意");
    std::printf("virtual chip's voice: synthesis time (median of 5) against audio length\n");
    int n = 0;
    for (auto [name, job] : jobs) {
        const int chars[] = {5, 20, 50};
        if (n < 3)
            for (const QChar c : text.left(chars[n]))
                job.items.push_back(sim::PlayItem{sim::PlayItem::Char, 0, QString(c)});
        else job.items.push_back(sim::PlayItem{n == 3 ? sim::PlayItem::Poem : sim::PlayItem::Music, 0, QString()});
        std::vector<double> ms;
        double seconds = 0;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            seconds = sim::RenderPass(job).seconds();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-20s %7.1f ms for %5.2f s of audio (%.0fx real time)\n", name, ms[2], seconds,
                    seconds * 1000 / ms[2]);
        ++n;
    }
}
#else
void VoiceSynthesis() { std::printf("virtual chip's voice: not built (VORLA_VOICE off)\n"); }
#endif

// The line on record: adding an entry (a frame written or a read), and
// writing the capture, per packet, at the record's capacity.
void CaptureCost() {
    const long before = ResidentKb();
    LineRecord record;
    const QByteArray frame = QByteArray::fromHex("0180c0e1c4e3bac304bd");
    QElapsedTimer t;
    t.start();
    const int n = int(LineRecord::kCapacity) * 2;
    for (int i = 0; i < n; ++i)
        record.add(LineEntry{i * 0.01, 1, i % 2 ? capture::Direction::In : capture::Direction::Out, frame, {}});
    const double addNs = double(t.nsecsElapsed()) / n;
    const double bytesAnEntry = double(ResidentKb() - before) * 1024.0 / double(record.entries().size());
    t.restart();
    const QByteArray written =
        capture::Write(record.toCapture(n * 0.01, 0, [](int16_t) { return QStringLiteral("/dev/ttyUSB0"); }, {}));
    const double writeNs = double(t.nsecsElapsed()) / double(record.entries().size());
    std::printf(
        "line record: %.0f ns an entry added, about %.0f bytes of memory an entry (%zu kept, %llu dropped); "
        "capture written at %.0f ns a packet, %.1f bytes a packet of 10 bytes\n",
        addNs, bytesAnEntry, record.entries().size(), static_cast<unsigned long long>(record.dropped()), writeNs,
        double(written.size()) / double(record.entries().size()));
}

// The timeline of 10,000 frames and their replies: built, and painted all
// in view and zoomed in.
void TimelinePaint() {
    std::deque<LineEntry> entries;
    const QByteArray frame = QByteArray::fromHex("0180c0e1c4e3bac304bd");
    for (int i = 0; i < 10'000; ++i) {
        entries.push_back(LineEntry{i * 0.05, 1, capture::Direction::Out, frame, {}});
        entries.push_back(LineEntry{i * 0.05 + 0.03, 1, capture::Direction::In, QByteArray::fromHex("011114"), {}});
    }
    QElapsedTimer t;
    t.start();
    const Timeline timeline = BuildTimeline(entries);
    const double buildMs = double(t.nsecsElapsed()) / 1e6;
    QImage image(1200, 160, QImage::Format_RGB32);
    const auto paint = [&](const TimelineView& view) {
        std::vector<double> ms;
        for (int i = 0; i < 5; ++i) {
            QPainter painter(&image);
            t.restart();
            DrawTimeline(painter, timeline, view, QRectF(image.rect()));
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        return Summarise(ms).median;
    };
    const double all = paint(TimelineView{0, 1100 / 500.0});
    const double zoomed = paint(TimelineView{250, 1000});
    std::printf(
        "timeline of 10,000 frames and replies: built in %.0f ms; painted in %.1f ms all in view, "
        "%.1f ms zoomed to a second\n",
        buildMs, all, zoomed);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::string(argv[1]) == "--startup-child") return StartUpChild(argc, argv);
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    QApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--replies") {
        ReplyLatency(300);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--clicks") {
        ClickToBytes();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--capture") {
        CaptureCost();
        TimelinePaint();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--selftest") {
        SelfTestRuns(true);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--station") {
        StationRuns();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--voice") {
        VoiceSynthesis();
        return 0;
    }
    std::printf("benchmarks (%s)\n", quick ? "quick" : "full");
    StartUp(argv[0]);
    ClickToBytes();
    CaptureCost();
    TimelinePaint();
    LogAppend();
    PlaybackWait(quick ? 5 : 60);
    Lyrics(quick ? 20 : 180);
    ReplyLatency(quick ? 50 : 300);
    SelfTestRuns(!quick);
    VoiceSynthesis();
    return 0;
}
