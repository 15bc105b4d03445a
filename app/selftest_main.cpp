// SPDX-License-Identifier: MIT
// vorla-selftest: the chip's self-test without a window.
#include <csignal>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

#include "app/selftest_options.h"
#include "app/simulated_port.h"
#include "app/station_options.h"
#include "app/station_run.h"
#include "app/stop_signals.h"
#include "protocol/capture.h"
#include "protocol/text_encoding.h"
#include "selftest/report.h"
#include "serial/qt_serial_control.h"
#include "ui/self_test_window.h"

using namespace vorla;

namespace {
constexpr int kUsageStatus = kExitUsage;
constexpr int kStationStatus = kExitStation;

// One line a step; on a terminal a bar that the next step overwrites, and a
// line of its own for every step that does not pass.
void Progress(const RunRecord& record, int index) {
    const StepRecord& s = record.steps[size_t(index)];
    const int total = int(record.steps.size());
    const QString line =
        QStringLiteral("[%1/%2] %3 %4: %5%6%7")
            .arg(index + 1, 3)
            .arg(total)
            .arg(s.step.group, s.step.name, OutcomeName(s.verdict.outcome))
            .arg(s.measured.latencyMs >= 0 ? QStringLiteral(" (%1 ms)").arg(s.measured.latencyMs, 0, 'f', 1)
                                           : QString())
            .arg(s.verdict.reasons.isEmpty() ? QString()
                                             : QStringLiteral(" — ") + s.verdict.reasons.join(QStringLiteral("; ")));
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    if (!terminal) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
        return;
    }
    const int done = (index + 1) * 30 / std::max(total, 1);
    const QString bar = QString(done, u'#') + QString(30 - done, u'.');
    if (s.verdict.outcome == Outcome::Pass) std::fprintf(stderr, "\r\033[K[%s] %s", qPrintable(bar), qPrintable(line));
    else std::fprintf(stderr, "\r\033[K%s\n", qPrintable(line));
}

// Answers --help, --version and a wrong command line; -1 to go on.
int Answered(const SelfTestCommandLine& options) {
    if (options.help) {
        std::fputs(qPrintable(SelfTestUsage() + StationUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("vorla-selftest " VORLA_VERSION);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "vorla-selftest: %s\n(vorla-selftest --help lists the options)\n",
                     qPrintable(options.error));
        return kUsageStatus;
    }
    return -1;
}

// The serial control to the chip, opened; nothing (said why) when it cannot be.
std::unique_ptr<SerialControl> OpenPort(const SelfTestCommandLine& options, Clock& clock) {
    std::unique_ptr<SerialControl> port;
    if (options.simulate) {
        port = std::make_unique<SimulatedPort>(clock, options.chip);
    } else {
        PortMap map;
        map.setDevice(ChipConversation::kStartPort, options.device);
        port = std::make_unique<QtSerialControl>(map, clock);
    }
    port->setCommPort(ChipConversation::kStartPort);
    port->setSettings(*BaudSettingsFor(options.run.startBaudIndex));
    if (port->setPortOpen(true)) return port;
    std::fprintf(stderr, "vorla-selftest: %s\n", qPrintable(FaultLogLine(port->lastFault())));
    return nullptr;
}

// The line's capture, named in the record with its SHA-256; false (said why)
// when it cannot be written.
bool WriteCapture(const ChipConversation& conversation, const QString& path, RunRecord& record) {
    const QByteArray bytes = capture::Write(conversation.lineCapture());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "vorla-selftest: the capture %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    record.info.capture = QFileInfo(path).absoluteFilePath();
    record.info.captureSha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    std::fprintf(stderr, "capture: %s\n", qPrintable(record.info.capture));
    return true;
}

// The run's timeline as an SVG picture; false (said why) when it cannot be written.
bool WriteTimeline(const RunRecord& record, const ChipConversation& conversation, const QString& path) {
    if (!SaveRunTimelineSvg(record, conversation.lineRecord(), path)) {
        std::fprintf(stderr, "vorla-selftest: the timeline %s cannot be written\n", qPrintable(path));
        return false;
    }
    std::fprintf(stderr, "timeline: %s\n", qPrintable(QFileInfo(path).absoluteFilePath()));
    return true;
}

// The application object. Drawing the timeline takes fonts, which take a
// QGuiApplication; it runs on the offscreen platform, as nothing is shown, so
// that no display is needed. Without a picture to draw, a QCoreApplication.
std::unique_ptr<QCoreApplication> Application(int& argc, char** argv, bool drawing) {
    if (!drawing) return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

// Printed once the rate the run goes at is known (found, with --find-baud).
void PrintHeading(const RunRecord& record, bool found) {
    const RunInfo& info = record.info;
    std::fprintf(stderr, "vorla-selftest %s: chip %s on %s at %d baud%s, %s run, station %s, operator %s, started %s\n",
                 VORLA_VERSION, qPrintable(info.dut.isEmpty() ? QStringLiteral("(unnamed)") : info.dut),
                 qPrintable(info.port), record.baud, found ? " (found)" : "", info.full ? "full" : "quick",
                 qPrintable(info.station), qPrintable(info.operatorName), qPrintable(Timestamp(record.started)));
}

bool WriteReports(std::vector<ReportFile>& reports, const RunRecord& record) {
    bool written = true;
    for (ReportFile& report : reports) written = report.write(record) && written;
    return written;
}

// The summary, the failed steps by cause, the burn-in figures and the
// notes; the reports written last. The exit status.
int Finish(const RunRecord& record, std::vector<ReportFile>& reports, bool written) {
    std::fprintf(stderr, "\n%s\n", qPrintable(SummaryLine(record)));
    for (const QString& line : FailureGroups(record)) std::fprintf(stderr, "  failed, %s\n", qPrintable(line));
    for (const QString& line : BurnInLines(record)) std::fprintf(stderr, "  %s\n", qPrintable(line));
    for (const QString& note : record.notes) std::fprintf(stderr, "note: %s\n", qPrintable(note));
    for (ReportFile& report : reports) {
        const bool ok = report.write(record);
        if (ok) std::fprintf(stderr, "report: %s\n", qPrintable(report.path()));
        else std::fprintf(stderr, "vorla-selftest: %s\n", qPrintable(report.error()));
        written = ok && written;
    }
    return written ? ExitStatus(record.verdict) : kStationStatus;
}
// Each report file, where the command line says; false (said why) when one
// cannot be written.
bool OpenReports(std::vector<ReportFile>& reports, const QStringList& paths, const RunRecord& record) {
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (reports[size_t(i)].open(paths[i], record)) continue;
        std::fprintf(stderr, "vorla-selftest: %s\n", qPrintable(reports[size_t(i)].error()));
        return false;
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    // Read before the application object, whose kind depends on them.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    // Several chips at once: a test station.
    if (IsStationCommandLine(arguments)) return RunStationProgram(argc, argv, arguments);
    SelfTestCommandLine options = ParseSelfTestCommandLine(arguments);
    if (const int status = Answered(options); status >= 0) return status;
    const std::unique_ptr<QCoreApplication> app = Application(argc, argv, !options.timelinePath.isEmpty());
    if (!GbkAvailable()) {
        std::fprintf(stderr, "vorla-selftest: the GBK (code page 936) converter is not available\n");
        return kStationStatus;
    }
    // The station before the chip: the device opens and the report can be written.
    QtClock clock;
    const std::unique_ptr<SerialControl> port = OpenPort(options, clock);
    if (!port) return kStationStatus;
    ChipConversation conversation(*port);
    port->setSettings(*BaudSettingsFor(options.run.startBaudIndex));
    SelfTest test(conversation);
    options.run.info.version = QStringLiteral(VORLA_VERSION);
    test.start(options.run);
    std::vector<ReportFile> reports(size_t(options.reportPaths.size()));
    if (!OpenReports(reports, options.reportPaths, test.record())) return kStationStatus;
    bool headed = false;
    const auto heading = [&] {
        if (!std::exchange(headed, true)) PrintHeading(test.record(), options.run.findBaud);
    };
    if (!options.run.findBaud) heading();
    QObject::connect(&test, &SelfTest::stepStarted, heading);
    bool written = true;
    QObject::connect(&test, &SelfTest::stepFinished, [&](int index) {
        Progress(test.record(), index);
        written = WriteReports(reports, test.record()) && written;
    });
    int status = kExitFailed;
    QObject::connect(&test, &SelfTest::finished, [&] {
        heading();
        RunRecord record = test.record();
        const bool captured = options.capturePath.isEmpty() || WriteCapture(conversation, options.capturePath, record);
        const bool drawn = options.timelinePath.isEmpty() || WriteTimeline(record, conversation, options.timelinePath);
        status = Finish(record, reports, written && captured && drawn);
        QCoreApplication::exit(status);
    });
    // Ctrl+C and a termination request end the run; its report is written.
    OnStopSignals(&test, [&test](int signal) {
        test.stop(signal == SIGTERM ? QStringLiteral("terminated") : QStringLiteral("interrupted"));
    });
    app->exec();
    return status;
}
