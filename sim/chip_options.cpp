// SPDX-License-Identifier: MIT
#include "sim/chip_options.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <map>

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

using Setter = std::function<bool(const QString&, ChipOptions&)>;
const std::map<QString, Setter>& Setters() {
    static const std::map<QString, Setter> setters{
        {QStringLiteral("--reject-next"), [](const QString& v, ChipOptions& c) { return Whole(v, c.rejectNext); }},
        {QStringLiteral("--reject-rate"),
         [](const QString& v, ChipOptions& c) { return Number(v, c.rejectProbability, 0, 1); }},
        {QStringLiteral("--seed"), [](const QString& v, ChipOptions& c) { return Whole(v, c.seed); }},
        {QStringLiteral("--stray-bytes"),
         [](const QString& v, ChipOptions& c) { return Number(v, c.strayBytes, 0, 1); }},
        {QStringLiteral("--silent-to"),
         [](const QString& v, ChipOptions& c) {
             c.silentTo = v.split(u',', Qt::SkipEmptyParts);
             return !c.silentTo.isEmpty() && std::all_of(c.silentTo.begin(), c.silentTo.end(),
                                                         [](const QString& k) { return FrameKinds().contains(k); });
         }},
        {QStringLiteral("--reply-delay"),
         [](const QString& v, ChipOptions& c) {
             double ms = 0;
             if (!Number(v, ms, 0, 600000)) return false;
             c.replyDelay = ms / 1000.0;
             return true;
         }},
    };
    return setters;
}
}  // namespace

const QStringList& ChipFlags() {
    static const QStringList flags{QStringLiteral("--drop-finish-reports"), QStringLiteral("--back-to-back"),
                                   QStringLiteral("--accept-malformed"), QStringLiteral("--cut-lyrics")};
    return flags;
}

const QStringList& ChipValueOptions() {
    static const QStringList options = [] {
        QStringList names;
        for (const auto& [name, setter] : Setters()) names << name;
        return names;
    }();
    return options;
}

void SetChipFlag(const QString& option, ChipOptions& chip) {
    if (option == QStringLiteral("--drop-finish-reports")) chip.dropFinishReports = true;
    else if (option == QStringLiteral("--back-to-back")) chip.backToBack = true;
    else if (option == QStringLiteral("--accept-malformed")) chip.acceptMalformed = true;
    else if (option == QStringLiteral("--cut-lyrics")) chip.cutLyrics = true;
}

bool SetChipValue(const QString& option, const QString& value, ChipOptions& chip) {
    const auto it = Setters().find(option);
    return it != Setters().end() && it->second(value, chip);
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
