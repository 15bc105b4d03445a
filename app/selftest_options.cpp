// SPDX-License-Identifier: MIT
#include "app/selftest_options.h"

#include <algorithm>
#include <functional>
#include <vector>

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include "selftest/report.h"
#include "sim/chip_options.h"

namespace vorla {

QString SelfTestUsage() {
    return QStringLiteral(
               "Usage: vorla-selftest (--device PATH | --simulate [CHIP OPTIONS]) [OPTIONS]\n"
               "\n"
               "Tests a Vorla speech-synthesis chip: every command, as the demonstration\n"
               "window sends it, each answer measured and judged against stated limits.\n"
               "One line a step on standard error, then a summary.\n"
               "\n"
               "Exit status:\n"
               "  0  passed: every step passed (warnings allowed unless --strict)\n"
               "  1  failed: the chip failed a step, or too many of its frames were rejected\n"
               "  2  wrong usage (a limits file that is not right too)\n"
               "  3  the station failed: the device is missing or lost, the report or\n"
               "     the capture cannot be written\n"
               "  4  incomplete: Ctrl+C or a termination request ended the run before its\n"
               "     end (no verdict on the chip)\n"
               "\n"
               "  --device PATH      the chip on this serial device or pseudo-terminal\n"
               "  --simulate         the virtual chip inside this program\n"
               "  --quick            stop each play right after its acceptance (default)\n"
               "  --full             wait for each play's finish report and judge its time\n"
               "  --only GROUP,...   run only these groups: %1\n"
               "  --repeat N         run the table N times (burn-in: latency and play time\n"
               "                     per command in the summary and the report)\n"
               "  --baud RATE        the rate the chip runs at now: 1200 (default), 2400,\n"
               "                     4800 or 9600\n"
               "  --find-baud        find the chip's rate first (a stop, then a wake, at\n"
               "                     each rate)\n"
               "  --strict           a warning is a failure\n"
               "  --stop-on-fail     end the run at its first failure, the rest not run\n"
               "  --limits FILE      JSON overriding any of the limits below (the report\n"
               "                     holds them all, in the same form)\n"
               "  --play-scale F     multiply every play time limit by F\n"
               "  --dut ID           the chip under test (a module's serial number)\n"
               "  --station NAME     the test station (default: this host's name)\n"
               "  --operator NAME    who runs the test (default: the login name)\n"
               "  --report FILE      the report, written as the run goes and when it is\n"
               "                     interrupted: JUnit XML for a .xml name, JSON\n"
               "                     otherwise; a folder gets a new JSON file named after\n"
               "                     the chip and the time. Given twice, both are written\n"
               "                     (JSON and JUnit of one run)\n"
               "  --capture FILE     every byte of the run with its time, as a pcapng\n"
               "                     capture (the report names it and its SHA-256)\n"
               "  --timeline FILE    the run on the line's timeline, as an SVG picture: its\n"
               "                     steps, every frame and read, and the latencies, in\n"
               "                     rows at most 2400 pixels wide\n"
               "  --help, --version\n"
               "\n"
               "The virtual chip (with --simulate; the report records its options):\n"
               "  --speed F               plays F times faster; the play limits are divided\n"
               "                          by F too\n"
               "  --line KIND             uart (default), usb or burst\n")
               .arg(StepGroups().join(u',')) +
           sim::ChipFaultUsage() + QStringLiteral("\nDefault limits:\n") + LimitsText(Limits::defaults());
}

namespace {
bool Number(const QString& text, double& out, double min) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < min || v > 1e9) return false;
    out = v;
    return true;
}

bool Groups(SelfTestCommandLine& c, const QString& v) {
    c.run.only = v.split(u',', Qt::SkipEmptyParts);
    return !c.run.only.isEmpty() &&
           std::all_of(c.run.only.begin(), c.run.only.end(), [](const QString& g) { return StepGroups().contains(g); });
}

bool Baud(SelfTestCommandLine& c, const QString& v) {
    for (int16_t i = 0; i < kBaudRates; ++i) {
        if (QString::number(BaudRateAt(i)->baud) != v) continue;
        c.run.startBaudIndex = i;
        c.chip.baud = BaudRateAt(i)->baud;
        return true;
    }
    return false;
}

// The limits file, named in the report with its SHA-256; a file that
// cannot be used says why.
bool LimitsFile(SelfTestCommandLine& c, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.error = QStringLiteral("cannot read the limits %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString why;
    const auto limits = LimitsFromJson(bytes, &why);
    if (!limits) {
        c.error = QStringLiteral("the limits in %1: %2").arg(path, why);
        return false;
    }
    c.run.limits = *limits;
    c.run.info.limitsFile = QFileInfo(path).absoluteFilePath();
    c.run.info.limitsSha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return true;
}

using Setter = std::function<bool(SelfTestCommandLine&, const QString&)>;
// The options with a value, in the order they are read: --limits before
// --play-scale, which scales the limits read.
const std::vector<std::pair<QString, Setter>>& ValueOptions() {
    static const std::vector<std::pair<QString, Setter>> options{
        {QStringLiteral("device"), [](SelfTestCommandLine& c, const QString& v) { return !(c.device = v).isEmpty(); }},
        {QStringLiteral("report"),
         [](SelfTestCommandLine& c, const QString& v) {
             c.reportPaths << v;
             return !v.isEmpty();
         }},
        {QStringLiteral("capture"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.capturePath = v).isEmpty(); }},
        {QStringLiteral("timeline"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.timelinePath = v).isEmpty(); }},
        {QStringLiteral("dut"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.run.info.dut = v).isEmpty(); }},
        {QStringLiteral("station"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.run.info.station = v).isEmpty(); }},
        {QStringLiteral("operator"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.run.info.operatorName = v).isEmpty(); }},
        {QStringLiteral("only"), Groups},
        {QStringLiteral("repeat"),
         [](SelfTestCommandLine& c, const QString& v) {
             bool ok = false;
             c.run.info.repeat = v.toInt(&ok);
             return ok && c.run.info.repeat >= 1;
         }},
        {QStringLiteral("baud"), Baud},
        {QStringLiteral("limits"), LimitsFile},
        {QStringLiteral("play-scale"),
         [](SelfTestCommandLine& c, const QString& v) { return Number(v, c.run.limits.playScale, 0.0001); }},
    };
    return options;
}

const std::vector<std::pair<QString, std::function<void(SelfTestCommandLine&)>>>& Flags() {
    static const std::vector<std::pair<QString, std::function<void(SelfTestCommandLine&)>>> flags{
        {QStringLiteral("help"), [](SelfTestCommandLine& o) { o.help = true; }},
        {QStringLiteral("version"), [](SelfTestCommandLine& o) { o.version = true; }},
        {QStringLiteral("simulate"), [](SelfTestCommandLine& o) { o.simulate = true; }},
        {QStringLiteral("quick"), [](SelfTestCommandLine& o) { o.run.info.full = false; }},
        {QStringLiteral("full"), [](SelfTestCommandLine& o) { o.run.info.full = true; }},
        {QStringLiteral("strict"), [](SelfTestCommandLine& o) { o.run.info.strict = true; }},
        {QStringLiteral("stop-on-fail"), [](SelfTestCommandLine& o) { o.run.info.stopOnFail = true; }},
        {QStringLiteral("find-baud"), [](SelfTestCommandLine& o) { o.run.findBaud = true; }}};
    return flags;
}

constexpr unsigned kChip = sim::kChipSpeed | sim::kChipLine | sim::kChipFaults;

// Every value given, in order: the last counts, or each (--report).
bool ReadValues(const QCommandLineParser& parser, SelfTestCommandLine& c) {
    for (const auto& [name, read] : ValueOptions()) {
        for (const QString& value : parser.values(name)) {
            if (read(c, value)) continue;
            if (c.error.isEmpty()) c.error = QStringLiteral("bad value for --%1: %2").arg(name, value);
            return false;
        }
    }
    return true;
}

// The virtual chip plays F times faster: its play limits are F times
// shorter, and the report says what chip it was.
void Simulated(SelfTestCommandLine& c) {
    c.run.limits.playScale /= c.chip.speed;
    c.run.info.virtualChip =
        RunInfo::VirtualChip{c.chip.speed, sim::LineKindName(c.chip.line), sim::ChipFaultArguments(c.chip)};
}
}  // namespace

SelfTestCommandLine ParseSelfTestCommandLine(const QStringList& arguments) {
    SelfTestCommandLine c;
    c.run.info.station = QSysInfo::machineHostName();
    c.run.info.operatorName = LoginName();
    QCommandLineParser parser;
    for (const auto& [name, set] : Flags()) parser.addOption(QCommandLineOption(name));
    for (const auto& [name, read] : ValueOptions())
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("VALUE")));
    sim::AddChipOptions(parser, kChip);
    if (!sim::ParseCommandLine(parser, arguments, &c.error)) return c;
    for (const auto& [name, set] : Flags())
        if (parser.isSet(name)) set(c);
    bool chipGiven = false;
    if (!ReadValues(parser, c) || !sim::ReadChipOptions(parser, kChip, c.chip, &c.error, &chipGiven)) return c;
    if (c.help || c.version) return c;
    if (c.simulate == !c.device.isEmpty()) c.error = QStringLiteral("give either --device PATH or --simulate");
    else if (chipGiven && !c.simulate) c.error = QStringLiteral("the virtual chip's options go with --simulate");
    if (c.simulate) Simulated(c);
    c.run.info.port = c.simulate ? QStringLiteral("virtual chip") : c.device;
    return c;
}

}  // namespace vorla
