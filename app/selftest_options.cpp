// SPDX-License-Identifier: MIT
#include "app/selftest_options.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <map>

namespace vorla {

QString SelfTestUsage() {
    return QStringLiteral(
        "Usage: vorla-selftest (--device PATH | --simulate [CHIP OPTIONS]) [OPTIONS]\n"
        "\n"
        "Tests a Vorla speech-synthesis chip: every command, as the demonstration\n"
        "window sends it, and what the chip answers. One line a step on standard\n"
        "error; exits 0 when every step passes, 1 when any fails or is not run,\n"
        "2 for a wrong option.\n"
        "\n"
        "  --device PATH      the chip on this serial device or pseudo-terminal\n"
        "  --simulate         the virtual chip inside this program\n"
        "  --quick            stop each play right after its acceptance (default)\n"
        "  --full             wait for each play's finish report, at most: text 5 s\n"
        "                     and 0.5 s a character, phrase 10 s, sound 10 s, poem\n"
        "                     30 s, music and code frames 90 s (times --play-scale)\n"
        "  --play-scale F     multiply every play limit by F\n"
        "  --only GROUP,...   run only these groups: link, controls, baud, text,\n"
        "                     music, phrases, poems, sounds, codes, robustness\n"
        "  --repeat N         run the table N times (burn-in)\n"
        "  --baud RATE        the rate the chip runs at now: 1200 (default), 2400,\n"
        "                     4800 or 9600\n"
        "  --dut ID           the chip under test (a module's serial number); it\n"
        "                     heads the report and names its default file\n"
        "  --report FILE      the report: JUnit XML for a .xml name, JSON otherwise;\n"
        "                     a folder gets the default name in it\n"
        "  --help, --version\n"
        "\n"
        "The virtual chip (with --simulate):\n"
        "  --speed F                plays F times faster\n"
        "  --line KIND              uart (default), usb or burst\n"
        "  --reject-next N          reject the next N frames\n"
        "  --reject-rate P          reject frames with probability P (--seed S)\n"
        "  --drop-finish-reports    never report the end of a play\n"
        "  --stray-bytes P          a stray byte around a reply or in lyrics with\n"
        "                           probability P\n"
        "\n"
        "A reply may take 2 s; lyric data 12 s (it is read after the lyric wait\n"
        "of the baud rate). Verdicts: pass; warning (accepted after resends, or\n"
        "stray bytes); fail (rejected after every resend, no answer, a missing\n"
        "finish report, malformed lyrics, a malformed frame accepted); not run\n"
        "(after a port fault, or stopped).\n");
}

namespace {
using Setter = std::function<bool(SelfTestCommandLine&, const QString&)>;

bool Number(const QString& text, double& out, double min, double max = 1e9) {
    bool ok = false;
    out = text.toDouble(&ok);
    return ok && out >= min && out <= max;
}

template <typename Int>
bool Whole(const QString& text, Int& out, long long min) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    out = Int(value);
    return ok && value >= min && value <= std::numeric_limits<Int>::max();
}

bool Groups(SelfTestCommandLine& c, const QString& v) {
    c.run.only = v.split(u',', Qt::SkipEmptyParts);
    return !c.run.only.isEmpty() && std::all_of(c.run.only.begin(), c.run.only.end(),
                                                [](const QString& g) { return SelfTestGroups().contains(g); });
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

bool Line(SelfTestCommandLine& c, const QString& v) {
    const auto kind = sim::ParseLineKind(v);
    if (kind) c.chip.line = *kind;
    return kind.has_value();
}

const std::map<QString, Setter>& ValueOptions() {
    static const std::map<QString, Setter> options{
        {QStringLiteral("--device"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.device = v).isEmpty(); }},
        {QStringLiteral("--report"),
         [](SelfTestCommandLine& c, const QString& v) { return !(c.reportPath = v).isEmpty(); }},
        {QStringLiteral("--dut"), [](SelfTestCommandLine& c, const QString& v) { return !(c.run.dut = v).isEmpty(); }},
        {QStringLiteral("--only"), Groups},
        {QStringLiteral("--repeat"),
         [](SelfTestCommandLine& c, const QString& v) { return Whole(v, c.run.repeat, 1); }},
        {QStringLiteral("--baud"), Baud},
        {QStringLiteral("--play-scale"),
         [](SelfTestCommandLine& c, const QString& v) { return Number(v, c.run.playScale, 0.001); }},
        {QStringLiteral("--speed"),
         [](SelfTestCommandLine& c, const QString& v) { return Number(v, c.chip.speed, 0.01); }},
        {QStringLiteral("--line"), Line},
        {QStringLiteral("--reject-next"),
         [](SelfTestCommandLine& c, const QString& v) { return Whole(v, c.chip.rejectNext, 0); }},
        {QStringLiteral("--reject-rate"),
         [](SelfTestCommandLine& c, const QString& v) { return Number(v, c.chip.rejectProbability, 0, 1); }},
        {QStringLiteral("--seed"), [](SelfTestCommandLine& c, const QString& v) { return Whole(v, c.chip.seed, 0); }},
        {QStringLiteral("--stray-bytes"),
         [](SelfTestCommandLine& c, const QString& v) { return Number(v, c.chip.strayBytes, 0, 1); }},
    };
    return options;
}

const QStringList kChipOptions{QStringLiteral("--speed"),
                               QStringLiteral("--line"),
                               QStringLiteral("--reject-next"),
                               QStringLiteral("--reject-rate"),
                               QStringLiteral("--seed"),
                               QStringLiteral("--stray-bytes"),
                               QStringLiteral("--drop-finish-reports")};

// One option at arguments[i] (moving i past its value); false with the
// error set when it cannot be used.
bool ReadOption(const QStringList& arguments, qsizetype& i, SelfTestCommandLine& c, bool& chipGiven) {
    const QString& arg = arguments[i];
    chipGiven = chipGiven || kChipOptions.contains(arg);
    static const std::map<QString, std::function<void(SelfTestCommandLine&)>> flags{
        {QStringLiteral("--help"), [](SelfTestCommandLine& o) { o.help = true; }},
        {QStringLiteral("--version"), [](SelfTestCommandLine& o) { o.version = true; }},
        {QStringLiteral("--simulate"), [](SelfTestCommandLine& o) { o.simulate = true; }},
        {QStringLiteral("--quick"), [](SelfTestCommandLine& o) { o.run.full = false; }},
        {QStringLiteral("--full"), [](SelfTestCommandLine& o) { o.run.full = true; }},
        {QStringLiteral("--drop-finish-reports"), [](SelfTestCommandLine& o) { o.chip.dropFinishReports = true; }}};
    if (const auto flag = flags.find(arg); flag != flags.end()) {
        flag->second(c);
    } else {
        const auto it = ValueOptions().find(arg);
        if (it == ValueOptions().end()) {
            c.error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        if (i + 1 >= arguments.size()) {
            c.error = QStringLiteral("%1 needs a value").arg(arg);
            return false;
        }
        if (!it->second(c, arguments[++i])) {
            c.error = QStringLiteral("bad value for %1: %2").arg(arg, arguments[i]);
            return false;
        }
    }
    return true;
}
}  // namespace

SelfTestCommandLine ParseSelfTestCommandLine(const QStringList& arguments) {
    SelfTestCommandLine c;
    bool chipGiven = false;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!ReadOption(arguments, i, c, chipGiven)) return c;
    if (c.help || c.version) return c;
    if (c.simulate == !c.device.isEmpty()) c.error = QStringLiteral("give either --device PATH or --simulate");
    else if (chipGiven && !c.simulate) c.error = QStringLiteral("the virtual chip's options go with --simulate");
    c.run.port = c.simulate ? QStringLiteral("virtual chip") : c.device;
    return c;
}

}  // namespace vorla
