// SPDX-License-Identifier: MIT
// vorla-chipsim: a virtual Vorla chip on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>

#include <sys/socket.h>
#include <unistd.h>

#include "protocol/capture.h"
#include "sim/chip_host.h"
#include "sim/chip_options.h"
#include "sim/replay_host.h"
#ifdef VORLA_VOICE
#include "sim/chip_voice.h"
#endif

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
    "The chip speaks (espeak-ng's Mandarin voice) and plays its music and\n"
    "sounds on the sound output; a play lasts as long as its audio.\n"
    "\n"
    "  --link PATH             also make PATH a symbolic link to the device\n"
    "  --baud RATE             the rate it starts at: 1200 (default), 2400, 4800\n"
    "                          or 9600\n"
    "  --speed F               play F times faster (default 1)\n"
    "  --line KIND             how bytes reach the port: uart (default; one at a\n"
    "                          time below 2400 baud, FIFO groups of 8 from 2400),\n"
    "                          usb (packets every 16 ms) or burst\n"
    "  --noise N               send N noise bytes every second\n"
    "  --mute                  never use the sound output (timing stays the same)\n"
    "  --record DIR            write every utterance to DIR as a 16-bit mono WAV\n"
    "                          file: 0001.wav, 0002.wav, ...\n"
    "  --replay FILE           serve a capture (pcapng, as vorla-demo and\n"
    "                          vorla-selftest write them) instead of the chip: the\n"
    "                          recorded answer follows each frame at its recorded\n"
    "                          gap (--speed F divides the gaps)\n"
    "  --interface NAME        with --replay: serve this interface's line (a\n"
    "                          station's capture has one a slot, named after it;\n"
    "                          packet numbers then count its packets)\n"
    "  --strict                with --replay: each frame must be the recorded one;\n"
    "                          a difference stops the replay (exit status 1)\n"
    "  --lenient               with --replay: the next recorded answer follows\n"
    "                          whatever frame comes\n"
    "  --help                  show this text\n"
    "  --version               show the version\n"
    "\n"
    "Faults, for testing a chip's tester:\n";

struct Settings {
    vorla::sim::ChipOptions chip;
    QString link;
    int noise = 0;
    QString replay;     // a capture to serve instead of the chip
    QString interface;  // which of its lines
    bool lenient = false;
};

// --replay and how strictly; false (and why) for a wrong combination.
bool ReadReplayOptions(const QCommandLineParser& parser, Settings& s, QString* error) {
    s.replay = parser.value(QStringLiteral("replay"));
    s.lenient = parser.isSet(QStringLiteral("lenient"));
    s.interface = parser.value(QStringLiteral("interface"));
    const bool strict = parser.isSet(QStringLiteral("strict"));
    if (s.lenient && strict) *error = QStringLiteral("--strict and --lenient exclude each other");
    else if (s.replay.isEmpty() && (s.lenient || strict || !s.interface.isEmpty()))
        *error = QStringLiteral("--strict, --lenient and --interface go with --replay");
    else return true;
    return false;
}

// Reads the command line into `s`. Returns an exit status when the program
// must end here (--help, --version, a wrong option), or -1.
int ReadCommandLine(const QStringList& arguments, Settings& s) {
    using vorla::sim::kChipBaud, vorla::sim::kChipFaults, vorla::sim::kChipLine, vorla::sim::kChipSpeed,
        vorla::sim::kChipVoice;
    constexpr unsigned kChip = kChipSpeed | kChipLine | kChipVoice | kChipFaults | kChipBaud;
    QCommandLineParser parser;
    parser.addOptions({QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
                       QCommandLineOption(QStringLiteral("version")),
                       QCommandLineOption(QStringLiteral("link"), QString(), QStringLiteral("PATH")),
                       QCommandLineOption(QStringLiteral("noise"), QString(), QStringLiteral("N")),
                       QCommandLineOption(QStringLiteral("replay"), QString(), QStringLiteral("FILE")),
                       QCommandLineOption(QStringLiteral("interface"), QString(), QStringLiteral("NAME")),
                       QCommandLineOption(QStringLiteral("strict")), QCommandLineOption(QStringLiteral("lenient"))});
    vorla::sim::AddChipOptions(parser, kChip);
    QString error;
    bool given = false;
    bool ok = vorla::sim::ParseCommandLine(parser, arguments, &error);
    if (ok && parser.isSet(QStringLiteral("help"))) {
        std::fputs(kUsage, stdout);
        std::fputs(qPrintable(vorla::sim::ChipFaultUsage()), stdout);
        return 0;
    }
    if (ok && parser.isSet(QStringLiteral("version"))) {
        std::puts("vorla-chipsim " VORLA_VERSION);
        return 0;
    }
    ok = ok && vorla::sim::ReadChipOptions(parser, kChip, s.chip, &error, &given);
    s.link = parser.value(QStringLiteral("link"));
    ok = ok && ReadReplayOptions(parser, s, &error);
    if (ok && parser.isSet(QStringLiteral("noise"))) {
        s.noise = parser.value(QStringLiteral("noise")).toInt(&ok);
        ok = ok && s.noise >= 0;
        if (!ok) error = QStringLiteral("bad value for --noise: %1").arg(parser.value(QStringLiteral("noise")));
    }
    if (ok) return -1;
    std::fprintf(stderr, "vorla-chipsim: %s\n(vorla-chipsim --help lists the options)\n", qPrintable(error));
    return 2;
}
}  // namespace

// Ends cleanly on Ctrl+C or a termination request.
void QuitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

bool Link(const QString& device, const QString& link) {
    if (link.isEmpty()) return true;
    QFile::remove(link);
    if (QFile::link(device, link)) return true;
    std::fprintf(stderr, "vorla-chipsim: cannot link %s\n", qPrintable(link));
    return false;
}

// The capture served as a chip; the exit status.
int Replay(QCoreApplication& app, const Settings& settings) {
    QFile file(settings.replay);
    QString error;
    std::optional<vorla::capture::Capture> capture;
    if (file.open(QIODevice::ReadOnly)) capture = vorla::capture::Read(file.readAll(), &error);
    else error = file.errorString();
    if (capture) capture = vorla::capture::LineOf(*capture, settings.interface, &error);
    if (!capture) {
        std::fprintf(stderr, "vorla-chipsim: %s: %s\n", qPrintable(settings.replay), qPrintable(error));
        return 1;
    }
    vorla::sim::ReplayHost host(*capture, vorla::sim::Replay::Options{!settings.lenient, settings.chip.speed});
    if (!host.start(&error) || !Link(host.devicePath(), settings.link)) {
        std::fprintf(stderr, "vorla-chipsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("replay of %s (%zu packets, %s) on %s\n", qPrintable(settings.replay), capture->packets.size(),
                settings.lenient ? "lenient" : "strict", qPrintable(host.devicePath()));
    std::fflush(stdout);
    QObject::connect(&host, &vorla::sim::ReplayHost::note, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    int status = 0;
    QObject::connect(&host, &vorla::sim::ReplayHost::stopped, &app, [&](const QString& why) {
        std::fprintf(stderr, "vorla-chipsim: replay stopped: %s\n", qPrintable(why));
        status = 1;
        app.quit();
    });
    QuitOnSignals(app);
    app.exec();
    if (!settings.link.isEmpty()) QFile::remove(settings.link);
    return status;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Settings settings;
#ifdef VORLA_VOICE
    vorla::sim::WithVoice(settings.chip);  // the chip speaks; its plays last as long as their audio
#endif
    if (const int status = ReadCommandLine(QCoreApplication::arguments(), settings); status >= 0) return status;
    if (!settings.replay.isEmpty()) return Replay(app, settings);
    const vorla::sim::ChipOptions& options = settings.chip;
    const QString& link = settings.link;
    const int noise = settings.noise;

    vorla::sim::ChipHost chip(options);
    QString error;
    if (!chip.start(&error)) {
        std::fprintf(stderr, "vorla-chipsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!Link(chip.devicePath(), link)) return 1;
    std::printf("virtual chip on %s%s, %s line, at %d baud\n", qPrintable(chip.devicePath()),
                link.isEmpty() ? "" : qPrintable(QStringLiteral(" (link %1)").arg(link)),
                qPrintable(vorla::sim::LineKindName(options.line)), options.baud);
    std::fflush(stdout);
    QObject::connect(&chip, &vorla::sim::ChipHost::note, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    QObject::connect(&chip, &vorla::sim::ChipHost::voiceNotice,
                     [](const QString& line) { std::fprintf(stderr, "vorla-chipsim: %s\n", qPrintable(line)); });
    QTimer noiseTimer;
    if (noise > 0) {
        QObject::connect(&noiseTimer, &QTimer::timeout, [&] { chip.injectNoise(noise); });
        noiseTimer.start(1000);
    }

    QuitOnSignals(app);
    const int rc = app.exec();
    chip.stop();
    if (!link.isEmpty()) QFile::remove(link);
    return rc;
}
