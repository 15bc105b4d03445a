// SPDX-License-Identifier: MIT
#include "app/options.h"

namespace vorla {

QString UsageText() {
    return QStringLiteral(
               "Usage: vorla-demo [--simulate [--line KIND] [--mute] [--record DIR]]\n"
               "                  [--com1 DEVICE] [--com2 DEVICE]\n"
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
               "  --help         show this text\n"
               "  --version      show the version\n"
               "\n"
               "A right-click on the COM1 or COM2 option in the window chooses its device\n"
               "from those present or by path; the choice is remembered. --com1 and --com2\n"
               "override it for one run, to reach a USB serial adapter (/dev/ttyUSB0) or a\n"
               "pseudo-terminal, such as the one vorla-chipsim prints.\n")
        .arg(PortMap().device(1), PortMap().device(2));
}

namespace {
// The option at arguments[i] that takes a value (moving i on to it); false
// with options.error set when the value is missing or wrong.
bool ReadValueOption(const QStringList& arguments, qsizetype& i, ProgramOptions& options, bool& chipGiven) {
    const QString& arg = arguments[i];
    const QString value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
    if (arg == QStringLiteral("--record")) {
        if (value.isEmpty()) {
            options.error = QStringLiteral("--record needs a folder");
            return false;
        }
        options.recordDir = value;
        chipGiven = true;
    } else if (arg == QStringLiteral("--line")) {
        const auto kind = sim::ParseLineKind(value);
        if (!kind) {
            options.error = QStringLiteral("--line needs one of uart, usb, burst");
            return false;
        }
        options.line = *kind;
        chipGiven = true;
    } else {
        if (value.isEmpty()) {
            options.error = QStringLiteral("%1 needs a device").arg(arg);
            return false;
        }
        options.ports.setDevice(arg == QStringLiteral("--com1") ? 1 : 2, value);
    }
    ++i;
    return true;
}

// Reads the option at arguments[i] (and its value, moving i on); false with
// options.error set when it cannot be used.
bool ReadOption(const QStringList& arguments, qsizetype& i, ProgramOptions& options, bool& chipGiven) {
    const QString& arg = arguments[i];
    if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
        options.help = true;
        return true;
    }
    if (arg == QStringLiteral("--version")) {
        options.version = true;
        return true;
    }
    if (arg == QStringLiteral("--simulate")) {
        options.simulate = true;
        return true;
    }
    if (arg == QStringLiteral("--mute")) {
        options.mute = true;
        chipGiven = true;
        return true;
    }
    if (arg == QStringLiteral("--line") || arg == QStringLiteral("--record") || arg == QStringLiteral("--com1") ||
        arg == QStringLiteral("--com2"))
        return ReadValueOption(arguments, i, options, chipGiven);
    options.error = QStringLiteral("unknown option %1").arg(arg);
    return false;
}
}  // namespace

ProgramOptions ParseProgramOptions(const QStringList& arguments) {
    ProgramOptions options;
    bool chipGiven = false;  // an option of the virtual chip
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!ReadOption(arguments, i, options, chipGiven)) return options;
    if (chipGiven && !options.simulate && !options.help && !options.version)
        options.error = QStringLiteral("--line, --mute and --record go with --simulate");
    return options;
}

}  // namespace vorla
