// SPDX-License-Identifier: MIT
#include "app/station_options.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

#include "sim/chip_options.h"

namespace vorla {

namespace {
constexpr int kMostVirtualSlots = 64;

bool IsCount(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,4}$"));
    return digits.match(text).hasMatch();
}

bool IsStationFile(const QString& text) { return text.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive); }

// The station's own options taken out of a command line; the rest is a
// one-chip run's.
struct Split {
    QStringList slotTexts;
    QStringList faults;
    QString stationFile;
    QString simulate;  // the count given to --simulate
    bool playsInTurn = false;
    QStringList rest;
};

// An option and its value, as "--name value" or "--name=value": whether
// arguments[i] is `name`; its value into `value`, `i` past it.
bool Take(const QStringList& arguments, qsizetype& i, const QString& name, QString& value,
          const std::function<bool(const QString&)>& accepts = {}) {
    const QString& a = arguments[i];
    const QString prefix = QStringLiteral("--") + name;
    if (a.startsWith(prefix + u'=')) {
        const QString v = a.mid(prefix.size() + 1);
        if (accepts && !accepts(v)) return false;
        value = v;
        return true;
    }
    if (a != prefix || i + 1 >= arguments.size()) return false;
    if (accepts && !accepts(arguments[i + 1])) return false;
    value = arguments[++i];
    return true;
}

Split SplitArguments(const QStringList& arguments) {
    Split s;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString value;
        if (Take(arguments, i, QStringLiteral("slot"), value)) s.slotTexts << value;
        else if (Take(arguments, i, QStringLiteral("slot-fault"), value)) s.faults << value;
        else if (Take(arguments, i, QStringLiteral("station"), value, IsStationFile)) s.stationFile = value;
        else if (Take(arguments, i, QStringLiteral("simulate"), value, IsCount)) s.simulate = value;
        else if (arguments[i] == QStringLiteral("--plays-in-turn")) s.playsInTurn = true;
        else s.rest << arguments[i];
    }
    return s;
}

bool Given(const QStringList& rest, const QString& name) {
    const QString option = QStringLiteral("--") + name;
    return std::any_of(rest.begin(), rest.end(),
                       [&](const QString& a) { return a == option || a.startsWith(option + u'='); });
}

// "NAME=DEVICE" or "NAME=DEVICE,DUT".
bool ReadSlot(const QString& text, StationPlan& station) {
    const qsizetype equals = text.indexOf(u'=');
    if (equals <= 0) return false;
    SlotPlan slot;
    slot.name = text.left(equals);
    const QString rest = text.mid(equals + 1);
    const qsizetype comma = rest.indexOf(u',');
    slot.device = comma < 0 ? rest : rest.left(comma);
    slot.dut = comma < 0 ? QString() : rest.mid(comma + 1);
    if (slot.device.isEmpty() || (comma >= 0 && slot.dut.isEmpty())) return false;
    station.slotPlans.push_back(slot);
    return true;
}

bool ReadStationFile(const QString& path, StationCommandLine& c) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.error = QStringLiteral("cannot read the station %1: %2").arg(path, file.errorString());
        return false;
    }
    QString why;
    const auto station = StationFromJson(file.readAll(), &why);
    if (!station) {
        c.error = QStringLiteral("the station %1: %2").arg(path, why);
        return false;
    }
    c.station = *station;
    return true;
}

// "C=reject-rate:0.2", "C=drop-finish-reports": one of the virtual chip's
// fault options for one slot, read as that option is on a command line.
bool ReadFault(const QString& text, StationCommandLine& c) {
    const qsizetype equals = text.indexOf(u'=');
    const QString slot = text.left(std::max<qsizetype>(equals, 0));
    const auto chip = c.chips.find(slot);
    if (equals <= 0 || chip == c.chips.end()) {
        c.error = QStringLiteral("--slot-fault %1: no virtual slot %2").arg(text, slot);
        return false;
    }
    const QString fault = text.mid(equals + 1);
    const qsizetype colon = fault.indexOf(u':');
    QStringList arguments{QStringLiteral("vorla-selftest"), QStringLiteral("--") + fault.left(colon)};
    if (colon >= 0) arguments << fault.mid(colon + 1);
    QCommandLineParser parser;
    sim::AddChipOptions(parser, sim::kChipFaults);
    QString why;
    bool given = false;
    if (sim::ParseCommandLine(parser, arguments, &why) &&
        sim::ReadChipOptions(parser, sim::kChipFaults, chip->second, &why, &given))
        return true;
    c.error = QStringLiteral("--slot-fault %1: %2").arg(text, why);
    return false;
}

// The slots from one of --slot, --station FILE and --simulate N.
bool ReadSlots(const Split& s, StationCommandLine& c) {
    const int sources = int(!s.slotTexts.isEmpty()) + int(!s.stationFile.isEmpty()) + int(!s.simulate.isEmpty());
    if (sources != 1) {
        c.error = QStringLiteral("give the slots one way: --slot NAME=DEVICE …, --station FILE.json or --simulate N");
        return false;
    }
    for (const QString& slot : s.slotTexts) {
        if (ReadSlot(slot, c.station)) continue;
        c.error = QStringLiteral("bad value for --slot: %1 (NAME=DEVICE or NAME=DEVICE,DUT)").arg(slot);
        return false;
    }
    if (!s.stationFile.isEmpty() && !ReadStationFile(s.stationFile, c)) return false;
    if (s.simulate.isEmpty()) return true;
    c.simulate = s.simulate.toInt();
    if (c.simulate < 1 || c.simulate > kMostVirtualSlots) {
        c.error = QStringLiteral("--simulate N: 1 to %1 virtual chips").arg(kMostVirtualSlots);
        return false;
    }
    for (int i = 0; i < c.simulate; ++i) {
        // Their devices are the pseudo-terminals the chips get when they start.
        c.station.slotPlans.push_back(SlotPlan{VirtualSlotName(i), QString(), QString(), std::nullopt});
        c.chips.emplace(VirtualSlotName(i), c.run.chip);
    }
    return true;
}

QString MisplacedOption(const Split& s) {
    if (Given(s.rest, QStringLiteral("device")))
        return QStringLiteral("a station's devices are its slots': --slot NAME=DEVICE, not --device");
    if (Given(s.rest, QStringLiteral("dut")))
        return QStringLiteral("a station's DUTs go with their slots: --slot NAME=DEVICE,DUT");
    if (Given(s.rest, QStringLiteral("simulate"))) return QStringLiteral("a station's virtual chips are --simulate N");
    if (!s.faults.isEmpty() && s.simulate.isEmpty()) return QStringLiteral("--slot-fault goes with --simulate N");
    return QString();
}
}  // namespace

bool IsStationCommandLine(const QStringList& arguments) {
    const Split s = SplitArguments(arguments);
    return !s.slotTexts.isEmpty() || !s.faults.isEmpty() || !s.stationFile.isEmpty() || !s.simulate.isEmpty();
}

QString VirtualSlotName(int index) {
    return index < 26 ? QString(QChar(u'A' + index)) : QStringLiteral("S%1").arg(index + 1);
}

StationCommandLine ParseStationCommandLine(const QStringList& arguments) {
    StationCommandLine c;
    const Split s = SplitArguments(arguments);
    if (c.error = MisplacedOption(s); !c.error.isEmpty()) return c;
    // A one-chip run's command line: the virtual chip's options then hold
    // for every virtual slot, and a device stands in for the slots'.
    QStringList one{arguments.value(0)};
    one << s.rest
        << (s.simulate.isEmpty() ? QStringList{QStringLiteral("--device"), QStringLiteral("station")}
                                 : QStringList{QStringLiteral("--simulate")});
    c.run = ParseSelfTestCommandLine(one);
    if (!c.run.error.isEmpty()) {
        c.error = c.run.error;
        return c;
    }
    c.playsInTurn = s.playsInTurn;
    if (c.run.help || c.run.version || !ReadSlots(s, c)) return c;
    for (const QString& fault : s.faults)
        if (!ReadFault(fault, c)) return c;
    if (c.simulate == 0) c.error = StationProblem(c.station);
    return c;
}

QString StationUsage() {
    return QStringLiteral(
        "\n"
        "A test station: several chips at once, a slot each, in one process\n"
        "(one combined report, a <testsuite> a slot in JUnit, one capture with an\n"
        "interface a slot; the exit status is the worst slot's):\n"
        "  --slot NAME=DEVICE[,DUT]  a slot: its name, its serial device (best its\n"
        "                          stable /dev/serial/by-path/ name, that name alone\n"
        "                          or its udev ID_PATH) and the DUT in it; once a slot\n"
        "  --station FILE.json     the slots from a station file (its own schema;\n"
        "                          the same limits for all or per slot)\n"
        "  --simulate N            N virtual chips on pseudo-terminals, slots A, B, ...\n"
        "  --slot-fault NAME=FAULT[:VALUE]  one virtual slot's fault, a fault option\n"
        "                          of the virtual chip's without its dashes:\n"
        "                          C=reject-rate:0.2, F=silent-to:text\n"
        "  --plays-in-turn         the steps that play aloud one slot at a time, so\n"
        "                          that each chip is heard alone (the others' silent\n"
        "                          steps go on meanwhile)\n"
        "  --timeline FILE         a picture a slot, named after it: run.svg gives\n"
        "                          run-A.svg, run-B.svg, ...\n"
        "Two slots on one device, a name given twice, one DUT in two slots or a\n"
        "station file that does not validate: exit status 2 before anything is\n"
        "sent; a slot's device missing: 3.\n");
}

}  // namespace vorla
