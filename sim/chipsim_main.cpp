// SPDX-License-Identifier: MIT
// vorla-chipsim: a virtual Vorla chip on a pseudo-terminal.
#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>

#include <sys/socket.h>
#include <unistd.h>

#include "sim/chip_host.h"

namespace {
int signalPipe[2] = {-1, -1};
void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

const char* kUsage =
    "Usage: vorla-chipsim [options]\n"
    "\n"
    "Runs a virtual Vorla chip on a pseudo-terminal and prints the device to\n"
    "open as its serial port (for example: vorla-demo --com1 DEVICE). Prints\n"
    "one line for every frame it hears. Runs until interrupted.\n"
    "\n"
    "  --link PATH             also make PATH a symbolic link to the device\n"
    "  --speed F               play F times faster (default 1)\n"
    "  --reject-next N         reject the next N frames\n"
    "  --reject-rate P         reject frames with probability P (0..1)\n"
    "  --seed N                seed for --reject-rate and noise (default 1)\n"
    "  --drop-finish-reports   never send the playback-finished report\n"
    "  --back-to-back          plays end as they start: the acceptance and the\n"
    "                          finish report follow each other on the line\n"
    "  --line KIND             how bytes reach the port: uart (default; one at a\n"
    "                          time below 2400 baud, FIFO groups of 8 from 2400),\n"
    "                          usb (packets every 16 ms) or burst\n"
    "  --noise N               send N noise bytes every second\n"
    "  --help                  show this text\n";
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vorla::sim::ChipOptions options;
    QString link;
    int noise = 0;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "vorla-chipsim: %s needs a value\n", qPrintable(a));
                std::exit(2);
            }
            return args[++i];
        };
        bool ok = true;
        if (a == QStringLiteral("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == QStringLiteral("--link")) link = value();
        else if (a == QStringLiteral("--speed")) options.speed = value().toDouble(&ok);
        else if (a == QStringLiteral("--reject-next")) options.rejectNext = value().toInt(&ok);
        else if (a == QStringLiteral("--reject-rate")) options.rejectProbability = value().toDouble(&ok);
        else if (a == QStringLiteral("--seed")) options.seed = value().toUInt(&ok);
        else if (a == QStringLiteral("--drop-finish-reports")) options.dropFinishReports = true;
        else if (a == QStringLiteral("--back-to-back")) options.backToBack = true;
        else if (a == QStringLiteral("--line")) {
            const auto kind = vorla::sim::ParseLineKind(value());
            ok = kind.has_value();
            if (kind) options.line = *kind;
        } else if (a == QStringLiteral("--noise")) noise = value().toInt(&ok);
        else {
            std::fprintf(stderr, "vorla-chipsim: unknown option %s\n\n%s", qPrintable(a), kUsage);
            return 2;
        }
        if (!ok || options.speed <= 0) {
            std::fprintf(stderr, "vorla-chipsim: bad value for %s\n", qPrintable(a));
            return 2;
        }
    }

    vorla::sim::ChipHost chip(options);
    QString error;
    if (!chip.start(&error)) {
        std::fprintf(stderr, "vorla-chipsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(chip.devicePath(), link)) {
            std::fprintf(stderr, "vorla-chipsim: cannot link %s\n", qPrintable(link));
            return 1;
        }
    }
    std::printf("virtual chip on %s%s, %s line\n", qPrintable(chip.devicePath()),
                link.isEmpty() ? "" : qPrintable(QStringLiteral(" (link %1)").arg(link)),
                qPrintable(vorla::sim::LineKindName(options.line)));
    std::fflush(stdout);
    QObject::connect(&chip, &vorla::sim::ChipHost::note, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    QTimer noiseTimer;
    if (noise > 0) {
        QObject::connect(&noiseTimer, &QTimer::timeout, [&] { chip.injectNoise(noise); });
        noiseTimer.start(1000);
    }

    // Ends cleanly on Ctrl+C or a termination request.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }
    const int rc = app.exec();
    chip.stop();
    if (!link.isEmpty()) QFile::remove(link);
    return rc;
}
