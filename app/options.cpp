// SPDX-License-Identifier: MIT
#include "app/options.h"

namespace vorla {

QString UsageText() {
    return QStringLiteral(
               "Usage: vorla-demo [--simulate [--line KIND]] [--com1 DEVICE] [--com2 DEVICE]\n"
               "\n"
               "Opens the demonstration window for the Vorla speech-synthesis chip.\n"
               "\n"
               "  --simulate     run a virtual chip in the program and connect COM1 to it\n"
               "  --line KIND    how the virtual chip's bytes reach the port: uart (default;\n"
               "                 one at a time below 2400 baud, FIFO groups of 8 from\n"
               "                 2400), usb (packets every 16 ms) or burst\n"
               "  --com1 DEVICE  device opened for port COM1 (default %1)\n"
               "  --com2 DEVICE  device opened for port COM2 (default %2)\n"
               "  --help         show this text\n"
               "\n"
               "Use --com1 or --com2 to reach a USB serial adapter (/dev/ttyUSB0) or a\n"
               "pseudo-terminal, such as the one vorla-chipsim prints.\n")
        .arg(PortMap().device(1), PortMap().device(2));
}

ProgramOptions ParseProgramOptions(const QStringList& arguments) {
    ProgramOptions options;
    bool lineGiven = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
            options.help = true;
        } else if (arg == QStringLiteral("--simulate")) {
            options.simulate = true;
        } else if (arg == QStringLiteral("--line")) {
            const auto kind = i + 1 < arguments.size() ? sim::ParseLineKind(arguments[i + 1]) : std::nullopt;
            if (!kind) {
                options.error = QStringLiteral("--line needs one of uart, usb, burst");
                return options;
            }
            options.line = *kind;
            ++i;
            lineGiven = true;
        } else if (arg == QStringLiteral("--com1") || arg == QStringLiteral("--com2")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                options.error = QStringLiteral("%1 needs a device").arg(arg);
                return options;
            }
            options.ports.setDevice(arg == QStringLiteral("--com1") ? 1 : 2, arguments[++i]);
        } else {
            options.error = QStringLiteral("unknown option %1").arg(arg);
            return options;
        }
    }
    if (lineGiven && !options.simulate && !options.help) options.error = QStringLiteral("--line goes with --simulate");
    return options;
}

}  // namespace vorla
