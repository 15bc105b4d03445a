// SPDX-License-Identifier: MIT
#include "sim/chip_options.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "protocol/baud.h"

namespace vorla::sim {

namespace {
bool Number(const QString& text, double& out, double min, double max) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < min || v > max) return false;
    out = v;
    return true;
}

template <typename Int>
bool Whole(const QString& text, Int& out) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < 0 || v > qlonglong(std::numeric_limits<Int>::max())) return false;
    out = Int(v);
    return true;
}

struct ValueOption {
    ChipOptionSet set;
    const char* name;
    const char* valueName;
    std::function<bool(const QString&, ChipOptions&)> read;
};

const std::vector<ValueOption>& ValueOptions() {
    static const std::vector<ValueOption> options{
        {kChipSpeed, "speed", "F", [](const QString& v, ChipOptions& c) { return Number(v, c.speed, 0.01, 1e6); }},
        {kChipBaud, "baud", "RATE",
         [](const QString& v, ChipOptions& c) {
             for (int16_t i = 0; i < kBaudRates; ++i) {
                 if (QString::number(BaudRateAt(i)->baud) != v) continue;
                 c.baud = BaudRateAt(i)->baud;
                 return true;
             }
             return false;
         }},
        {kChipLine, "line", "KIND",
         [](const QString& v, ChipOptions& c) {
             const auto kind = ParseLineKind(v);
             if (kind) c.line = *kind;
             return kind.has_value();
         }},
        {kChipVoice, "record", "DIR", [](const QString& v, ChipOptions& c) { return !(c.recordDir = v).isEmpty(); }},
        {kChipFaults, "reject-next", "N", [](const QString& v, ChipOptions& c) { return Whole(v, c.rejectNext); }},
        {kChipFaults, "reject-rate", "P",
         [](const QString& v, ChipOptions& c) { return Number(v, c.rejectProbability, 0, 1); }},
        {kChipFaults, "seed", "N", [](const QString& v, ChipOptions& c) { return Whole(v, c.seed); }},
        {kChipFaults, "stray-bytes", "P",
         [](const QString& v, ChipOptions& c) { return Number(v, c.strayBytes, 0, 1); }},
        {kChipFaults, "silent-to", "KIND,...",
         [](const QString& v, ChipOptions& c) {
             c.silentTo = v.split(u',', Qt::SkipEmptyParts);
             return !c.silentTo.isEmpty() && std::all_of(c.silentTo.begin(), c.silentTo.end(),
                                                         [](const QString& k) { return FrameKinds().contains(k); });
         }},
        {kChipFaults, "reply-delay", "MS",
         [](const QString& v, ChipOptions& c) {
             double ms = 0;
             if (!Number(v, ms, 0, 600000)) return false;
             c.replyDelay = ms / 1000.0;
             return true;
         }},
    };
    return options;
}

struct Flag {
    ChipOptionSet set;
    const char* name;
    bool ChipOptions::*field;
};

const std::vector<Flag>& Flags() {
    static const std::vector<Flag> flags{{kChipVoice, "mute", &ChipOptions::mute},
                                         {kChipFaults, "drop-finish-reports", &ChipOptions::dropFinishReports},
                                         {kChipFaults, "back-to-back", &ChipOptions::backToBack},
                                         {kChipFaults, "accept-malformed", &ChipOptions::acceptMalformed},
                                         {kChipFaults, "cut-lyrics", &ChipOptions::cutLyrics}};
    return flags;
}
}  // namespace

void AddChipOptions(QCommandLineParser& parser, unsigned sets) {
    for (const ValueOption& o : ValueOptions())
        if (sets & o.set)
            parser.addOption(
                QCommandLineOption(QString::fromLatin1(o.name), QString(), QString::fromLatin1(o.valueName)));
    for (const Flag& f : Flags())
        if (sets & f.set) parser.addOption(QCommandLineOption(QString::fromLatin1(f.name)));
}

bool ReadChipOptions(const QCommandLineParser& parser, unsigned sets, ChipOptions& chip, QString* error, bool* given) {
    *given = false;
    for (const Flag& f : Flags()) {
        if (!(sets & f.set) || !parser.isSet(QString::fromLatin1(f.name))) continue;
        chip.*f.field = true;
        *given = true;
    }
    for (const ValueOption& o : ValueOptions()) {
        const QString name = QString::fromLatin1(o.name);
        if (!(sets & o.set) || !parser.isSet(name)) continue;
        *given = true;
        const QString value = parser.value(name);
        if (!o.read(value, chip)) {
            *error = QStringLiteral("bad value for --%1: %2").arg(name, value);
            return false;
        }
    }
    return true;
}

bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, QString* error) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (parser.parse(arguments)) {
        if (parser.positionalArguments().isEmpty()) return true;
        *error = QStringLiteral("unknown argument %1").arg(parser.positionalArguments().first());
        return false;
    }
    *error = parser.errorText();
    return false;
}

QStringList ChipFaultArguments(const ChipOptions& chip) {
    const ChipOptions sound;
    QStringList args;
    const auto value = [&](const char* name, const QString& v) {
        args << QStringLiteral("--%1 %2").arg(QLatin1String(name), v);
    };
    if (chip.rejectNext != sound.rejectNext) value("reject-next", QString::number(chip.rejectNext));
    if (chip.rejectProbability != sound.rejectProbability) {
        value("reject-rate", QString::number(chip.rejectProbability));
        value("seed", QString::number(chip.seed));
    }
    if (chip.strayBytes != sound.strayBytes) value("stray-bytes", QString::number(chip.strayBytes));
    if (!chip.silentTo.isEmpty()) value("silent-to", chip.silentTo.join(u','));
    if (chip.replyDelay != sound.replyDelay) value("reply-delay", QString::number(chip.replyDelay * 1000));
    for (const Flag& f : Flags())
        if (f.set == kChipFaults && chip.*f.field) args << QStringLiteral("--%1").arg(QLatin1String(f.name));
    return args;
}

QString ChipFaultUsage() {
    return QStringLiteral(
               "  --reject-next N         reject the next N frames\n"
               "  --reject-rate P         reject frames with probability P (0..1)\n"
               "  --seed N                seed for --reject-rate, stray bytes and noise\n"
               "  --drop-finish-reports   never send the playback-finished report\n"
               "  --back-to-back          plays end as they start: the acceptance and the\n"
               "                          finish report follow each other on the line\n"
               "  --stray-bytes P         a stray byte before or after a reply and inside a\n"
               "                          lyric stream, each with probability P (0..1)\n"
               "  --silent-to KIND,...    never answer these frames; KIND is one of\n"
               "                          %1\n"
               "  --accept-malformed      accept frames it should reject (a wrong check\n"
               "                          byte, a frame cut short, an unknown command)\n"
               "  --cut-lyrics            send a lyric stream's first third, without its\n"
               "                          end code\n"
               "  --reply-delay MS        send every answer MS milliseconds late\n")
        .arg(FrameKinds().join(u','));
}

}  // namespace vorla::sim
