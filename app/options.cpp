// SPDX-License-Identifier: MIT
#include "app/options.h"

#include <QCommandLineParser>

#include "sim/chip_options.h"

namespace vorla {

QString UsageText() {
    return QStringLiteral(
               "Usage: vorla-demo [--simulate [--line KIND] [--mute] [--record DIR]]\n"
               "                  [--com1 DEVICE] [--com2 DEVICE] [--capture FILE]\n"
               "\n"
               "Opens the demonstration window for the Vorla speech-synthesis chip.\n"
               "\n"
               "  --simulate     run a virtual chip in the program and connect COM1 to it\n"
               "  --line KIND    how the virtual chip's bytes reach the port: uart (default;\n"
               "                 one at a time below 2400 baud, FIFO groups of 8 from\n"
               "                 2400), usb (packets every 16 ms) or burst\n"
               "  --mute         the virtual chip speaks and plays without the sound output\n"
               "                 (timing stays the same)\n"
               "  --record DIR   the virtual chip writes every utterance to DIR as a 16-bit\n"
               "                 mono WAV file: 0001.wav, 0002.wav, ...\n"
               "  --com1 DEVICE  device opened for port COM1 (default: the one chosen in\n"
               "                 the window, else %1)\n"
               "  --com2 DEVICE  device opened for port COM2 (default: the one chosen in\n"
               "                 the window, else %2)\n"
               "  --capture FILE every byte over the line with its time, written as a pcapng\n"
               "                 capture when the window closes, also on Ctrl+C or a\n"
               "                 termination request (Wireshark reads it)\n"
               "  --help         show this text\n"
               "  --version      show the version\n"
               "\n"
               "A right-click on the COM1 or COM2 option in the window chooses its device\n"
               "from those present or by path; the choice is remembered. --com1 and --com2\n"
               "override it for one run, to reach a USB serial adapter (/dev/ttyUSB0) or a\n"
               "pseudo-terminal, such as the one vorla-chipsim prints.\n")
        .arg(PortMap().device(1), PortMap().device(2));
}

ProgramOptions ParseProgramOptions(const QStringList& arguments) {
    ProgramOptions options;
    QCommandLineParser parser;
    parser.addOptions({QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
                       QCommandLineOption(QStringLiteral("version")), QCommandLineOption(QStringLiteral("simulate")),
                       QCommandLineOption(QStringLiteral("com1"), QString(), QStringLiteral("DEVICE")),
                       QCommandLineOption(QStringLiteral("com2"), QString(), QStringLiteral("DEVICE")),
                       QCommandLineOption(QStringLiteral("capture"), QString(), QStringLiteral("FILE"))});
    constexpr unsigned kChip = sim::kChipLine | sim::kChipVoice;
    sim::AddChipOptions(parser, kChip);
    if (!sim::ParseCommandLine(parser, arguments, &options.error)) return options;
    options.help = parser.isSet(QStringLiteral("help"));
    options.version = parser.isSet(QStringLiteral("version"));
    options.simulate = parser.isSet(QStringLiteral("simulate"));
    options.capturePath = parser.value(QStringLiteral("capture"));
    for (const auto& [name, port] :
         {std::pair{QStringLiteral("com1"), int16_t(1)}, std::pair{QStringLiteral("com2"), int16_t(2)}})
        if (parser.isSet(name)) options.ports.setDevice(port, parser.value(name));
    bool chipGiven = false;
    if (!sim::ReadChipOptions(parser, kChip, options.chip, &options.error, &chipGiven)) return options;
    if (chipGiven && !options.simulate && !options.help && !options.version)
        options.error = QStringLiteral("--line, --mute and --record go with --simulate");
    return options;
}

}  // namespace vorla
