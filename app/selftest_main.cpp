// SPDX-License-Identifier: MIT
// vorla-selftest: the chip's self-test without a window.
#include <cstdio>
#include <memory>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "app/selftest_options.h"
#include "app/simulated_port.h"
#include "codes/self_test_report.h"
#include "link/qt_serial_control.h"
#include "protocol/text_encoding.h"

using namespace vorla;

namespace {

// One line a step; on a terminal a bar that the next step overwrites, and a
// line of its own for every step that does not pass.
void Progress(const SelfTestReport& report, int index) {
    const SelfTestStep& step = report.steps[size_t(index)];
    const SelfTestResult& r = report.results[size_t(index)];
    const int total = int(report.steps.size());
    const QString line = QStringLiteral("[%1/%2] %3 %4: %5%6%7")
                             .arg(index + 1, 3)
                             .arg(total)
                             .arg(step.group, step.name, VerdictText(r.verdict))
                             .arg(r.latencyMs >= 0 ? QStringLiteral(" (%1 ms)").arg(r.latencyMs, 0, 'f', 1) : QString())
                             .arg(r.message.isEmpty() ? QString() : QStringLiteral(" — ") + r.message);
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    if (!terminal) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
        return;
    }
    const int done = (index + 1) * 30 / total;
    const QString bar = QString(done, u'#') + QString(30 - done, u'.');
    if (r.verdict == SelfTestResult::Verdict::Pass)
        std::fprintf(stderr, "\r\033[K[%s] %s", qPrintable(bar), qPrintable(line));
    else std::fprintf(stderr, "\r\033[K%s\n", qPrintable(line));
}

bool WriteReport(const QString& given, const SelfTestReport& report) {
    QString path = given;
    if (QFileInfo(given).isDir()) path = QDir(given).filePath(DefaultReportName(report, QStringLiteral("xml")));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ReportFor(path, report)) < 0 || !file.commit()) {
        std::fprintf(stderr, "vorla-selftest: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    std::fprintf(stderr, "report: %s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const SelfTestCommandLine options = ParseSelfTestCommandLine(QCoreApplication::arguments());
    if (options.help) {
        std::fputs(qPrintable(SelfTestUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("vorla-selftest " VORLA_VERSION);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "vorla-selftest: %s\n\n%s", qPrintable(options.error), qPrintable(SelfTestUsage()));
        return 2;
    }
    if (!GbkAvailable()) {
        std::fprintf(stderr, "vorla-selftest: the GBK (code page 936) converter is not available\n");
        return 1;
    }
    std::unique_ptr<SerialControl> port;
    if (options.simulate) {
        port = std::make_unique<SimulatedPort>(options.chip);
    } else {
        PortMap map;
        map.setDevice(ChipConversation::kStartPort, options.device);
        port = std::make_unique<QtSerialControl>(map);
    }
    QtClock clock;
    ChipConversation conversation(*port, clock);
    port->setSettings(*BaudSettingsFor(options.run.startBaudIndex));
    SelfTest test(conversation, clock);
    SelfTestOptions run = options.run;
    run.version = QStringLiteral(VORLA_VERSION);
    std::fprintf(stderr, "vorla-selftest %s: chip %s on %s at %d baud, %s run, started %s\n", VORLA_VERSION,
                 qPrintable(run.dut.isEmpty() ? QStringLiteral("(unnamed)") : run.dut), qPrintable(run.port),
                 BaudRateAt(run.startBaudIndex)->baud, run.full ? "full" : "quick",
                 qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)));
    QObject::connect(&test, &SelfTest::stepFinished, [&](int index) { Progress(test.report(), index); });
    int status = 1;
    QObject::connect(&test, &SelfTest::finished, [&] {
        const SelfTestReport& report = test.report();
        using V = SelfTestResult::Verdict;
        std::fprintf(stderr, "\n%d steps in %.1f s: %d passed, %d with warnings, %d failed, %d not run%s\n",
                     int(report.steps.size()), report.seconds, report.count(V::Pass), report.count(V::Warning),
                     report.count(V::Fail), report.count(V::NotRun),
                     report.fault.isEmpty() ? "" : qPrintable(QStringLiteral("; ") + report.fault));
        const bool written = options.reportPath.isEmpty() || WriteReport(options.reportPath, report);
        status = report.passed() && report.count(V::NotRun) == 0 && written ? 0 : 1;
        QCoreApplication::exit(status);
    });
    test.start(run);
    app.exec();
    return status;
}
