// SPDX-License-Identifier: MIT
#include "selftest/report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QXmlStreamWriter>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

#include "protocol/frame_words.h"
#include "protocol/hex_text.h"

namespace vorla {

namespace {
constexpr auto kSchema = "vorla-selftest-report/2";

QString CountName(Outcome o) { return o == Outcome::NotRun ? QStringLiteral("notRun") : OutcomeName(o); }

QString ReplyWords(const Measured& m) {
    if (!m.answer) return QStringLiteral("none");
    switch (*m.answer) {
    case reply::Kind::Accepted: return QStringLiteral("accepted");
    case reply::Kind::Rejected: return QStringLiteral("rejected");
    case reply::Kind::Finished: return QStringLiteral("finished");
    }
    return QString();
}

// One measurement of a step with its value, unit and the bounds the judge
// held it to, all from the one table of limits.
struct Measurement {
    Measure measure;
    double value;
    Bounds bounds;
    QString name() const { return MeasureName(measure); }
    QString unit() const { return MeasureUnit(measure); }
};

std::vector<Measurement> MeasurementsOf(const StepRecord& s, const Limits& limits) {
    std::vector<Measurement> out;
    for (const Measure measure : kMeasures)
        if (const auto value = MeasuredValue(s.measured, measure))
            out.push_back({measure, *value, limits.bounds(measure, s.step, s.measured.baud)});
    return out;
}

QString ValueText(const Measurement& x) {
    return QStringLiteral("%1 %2").arg(QString::number(x.value, 'f', x.unit() == QStringLiteral("s") ? 3 : 1),
                                       x.unit());
}

// The bounds in words: "marginal above 63 ms, fail above 253 ms".
QString BoundsText(const Measurement& x) {
    QStringList parts;
    const auto add = [&](double bound, const char* words) {
        if (!std::isnan(bound)) parts << QStringLiteral("%1 %2 %3").arg(QLatin1String(words)).arg(bound).arg(x.unit());
    };
    add(x.bounds.min, "fail below");
    add(x.bounds.marginal, "marginal above");
    add(x.bounds.max, "fail above");
    return parts.join(QStringLiteral(", "));
}

QJsonValue Number(double v) { return std::isnan(v) ? QJsonValue() : QJsonValue(v); }

QJsonObject MeasurementJson(const Measurement& x) {
    return QJsonObject{{QStringLiteral("name"), x.name()},
                       {QStringLiteral("value"), x.value},
                       {QStringLiteral("unit"), x.unit()},
                       {QStringLiteral("min"), Number(x.bounds.min)},
                       {QStringLiteral("marginal"), Number(x.bounds.marginal)},
                       {QStringLiteral("max"), Number(x.bounds.max)}};
}

// A frame in words; a frame built to test the chip as what it is.
QString WordsOf(const StepRecord& s) {
    if (s.measured.frame.isEmpty()) return QString();
    return s.step.frameWords.isEmpty() ? DescribeFrame(s.measured.frame) : s.step.frameWords;
}

QJsonArray Strings(const QStringList& list) { return QJsonArray::fromStringList(list); }

QJsonObject StepJson(int index, const StepRecord& s, const Limits& limits) {
    const Measured& m = s.measured;
    QJsonArray measurements;
    for (const Measurement& x : MeasurementsOf(s, limits)) measurements.append(MeasurementJson(x));
    return QJsonObject{
        {QStringLiteral("index"), index + 1},
        {QStringLiteral("group"), s.step.group},
        {QStringLiteral("name"), s.step.name},
        {QStringLiteral("command"), CommandName(s.step.command)},
        {QStringLiteral("expect"), ExpectName(s.step.expect)},
        {QStringLiteral("description"), s.step.describe()},
        {QStringLiteral("frame"), HexBytes(m.frame)},
        {QStringLiteral("words"), WordsOf(s)},
        {QStringLiteral("baud"), m.baud},
        {QStringLiteral("stepBaud"), s.step.baud},
        {QStringLiteral("reply"), ReplyWords(m)},
        {QStringLiteral("sentAtSeconds"), m.sentAt >= 0 ? QJsonValue(m.sentAt) : QJsonValue()},
        {QStringLiteral("verdict"), OutcomeName(s.verdict.outcome)},
        {QStringLiteral("reasons"), Strings(s.verdict.reasons)},
        {QStringLiteral("causes"), Strings(s.verdict.causes)},
        {QStringLiteral("measurements"), measurements},
        {QStringLiteral("lyrics"), Strings(m.lyricLines)},
        {QStringLiteral("timeout"), m.timeout},
        {QStringLiteral("line"), QJsonObject{{QStringLiteral("malformedReplies"), Strings(m.malformedReplies)},
                                             {QStringLiteral("unknownReplies"), Strings(m.unknownReplies)},
                                             {QStringLiteral("lateReplies"), Strings(m.lateReplies)},
                                             {QStringLiteral("unexpected"), Strings(m.unexpected)},
                                             {QStringLiteral("strayBytes"), Strings(m.strayBytes)}}},
    };
}

QJsonObject SpreadJson(const Spread& s, const QString& unit) {
    return QJsonObject{{QStringLiteral("count"), s.count},
                       {QStringLiteral("median"), s.median},
                       {QStringLiteral("p95"), s.p95},
                       {QStringLiteral("max"), s.max},
                       {QStringLiteral("unit"), unit}};
}

QString ModeName(const RunInfo& info) { return info.full ? QStringLiteral("full") : QStringLiteral("quick"); }

QJsonValue VirtualChipJson(const RunInfo& info) {
    if (!info.virtualChip) return QJsonValue();
    return QJsonObject{{QStringLiteral("speed"), info.virtualChip->speed},
                       {QStringLiteral("line"), info.virtualChip->line},
                       {QStringLiteral("faults"), Strings(info.virtualChip->faults)}};
}

QString VirtualChipText(const RunInfo& info) {
    if (!info.virtualChip) return QString();
    const RunInfo::VirtualChip& chip = *info.virtualChip;
    return QStringLiteral("speed %1, %2 line, faults: %3")
        .arg(chip.speed)
        .arg(chip.line, chip.faults.isEmpty() ? QStringLiteral("none") : chip.faults.join(u' '));
}

QString StepOutput(const StepRecord& s, const Limits& limits) {
    const Measured& m = s.measured;
    QStringList lines;
    lines << QStringLiteral("step: %1").arg(s.step.describe());
    if (!m.frame.isEmpty()) {
        lines << QStringLiteral("frame: %1 at %2 baud").arg(HexBytes(m.frame)).arg(m.baud)
              << QStringLiteral("in words: %1").arg(WordsOf(s));
    }
    lines << QStringLiteral("reply: %1").arg(ReplyWords(m));
    for (const Measurement& x : MeasurementsOf(s, limits)) {
        const QString bounds = BoundsText(x);
        lines << QStringLiteral("%1: %2%3")
                     .arg(x.name(), ValueText(x), bounds.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(bounds));
    }
    if (!m.lyricLines.isEmpty()) lines << QStringLiteral("lyrics: %1").arg(m.lyricLines.join(QStringLiteral(" / ")));
    if (s.verdict.outcome == Outcome::Marginal)
        for (const QString& r : s.verdict.reasons) lines << QStringLiteral("warning: %1").arg(r);
    return lines.join(u'\n');
}

double StepSeconds(const Measured& m) {
    return m.sentAt >= 0 && m.repliedAt >= m.sentAt ? m.repliedAt - m.sentAt + std::max(0.0, m.playSeconds) : 0.0;
}

void WriteProperty(QXmlStreamWriter& xml, const QString& name, const QString& value) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), name);
    xml.writeAttribute(QStringLiteral("value"), value);
    xml.writeEndElement();
}

// A test case's measurements with the bounds each was held to, and a
// marginal step's warnings, as properties.
void WriteCaseProperties(QXmlStreamWriter& xml, const StepRecord& s, const Limits& limits) {
    const std::vector<Measurement> measurements = MeasurementsOf(s, limits);
    const bool marginal = s.verdict.outcome == Outcome::Marginal;
    if (measurements.empty() && !marginal) return;
    xml.writeStartElement(QStringLiteral("properties"));
    for (const Measurement& x : measurements) {
        WriteProperty(xml, x.name(), ValueText(x));
        if (x.bounds.any()) WriteProperty(xml, x.name() + QStringLiteral(".limits"), BoundsText(x));
    }
    if (marginal)
        for (const QString& reason : s.verdict.reasons) WriteProperty(xml, QStringLiteral("marginal"), reason);
    xml.writeEndElement();
}

void WriteCase(QXmlStreamWriter& xml, const StepRecord& s, const Limits& limits, bool abortedHere) {
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("selftest.%1").arg(s.step.group));
    xml.writeAttribute(QStringLiteral("name"), s.step.name);
    xml.writeAttribute(QStringLiteral("time"), QString::number(StepSeconds(s.measured), 'f', 3));
    WriteCaseProperties(xml, s, limits);
    const QString reasons = s.verdict.reasons.join(QStringLiteral("; "));
    const char* element = nullptr;
    switch (s.verdict.outcome) {
    case Outcome::Fail: element = "failure"; break;
    case Outcome::Error: element = "error"; break;
    // The step under way when the run was aborted: the run's one error.
    case Outcome::NotRun: element = abortedHere ? "error" : "skipped"; break;
    default: break;
    }
    if (element) {
        xml.writeStartElement(QString::fromLatin1(element));
        xml.writeAttribute(QStringLiteral("message"),
                           abortedHere ? QStringLiteral("the run was aborted here: %1").arg(reasons) : reasons);
        if (abortedHere) xml.writeAttribute(QStringLiteral("type"), QStringLiteral("aborted"));
        xml.writeEndElement();
    }
    xml.writeTextElement(QStringLiteral("system-out"), StepOutput(s, limits));
    xml.writeEndElement();
}
}  // namespace

QString CommandName(Command command) {
    switch (command) {
    case Command::None: return QStringLiteral("none");
    case Command::Stop: return QStringLiteral("stop");
    case Command::Music: return QStringLiteral("music");
    case Command::Phrase: return QStringLiteral("phrase");
    case Command::Poem: return QStringLiteral("poem");
    case Command::Sound: return QStringLiteral("sound");
    case Command::Text: return QStringLiteral("text");
    case Command::Baud: return QStringLiteral("baud");
    case Command::SleepWake: return QStringLiteral("sleep/wake");
    case Command::OutputMode: return QStringLiteral("output mode");
    case Command::BaudAndOutput: return QStringLiteral("baud and output");
    case Command::RawWithCheckByte: return QStringLiteral("raw, check byte computed");
    case Command::RawAsTyped: return QStringLiteral("raw as typed");
    case Command::CodePlayback: return QStringLiteral("code playback");
    }
    return QString();
}

Spread SpreadOf(std::vector<double> values) {
    Spread s;
    s.count = int(values.size());
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, size_t(std::ceil(q * double(values.size()))) - 1)];
    };
    const size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.p95 = at(0.95);
    s.max = values.back();
    return s;
}

std::vector<BurnIn> BurnInFigures(const RunRecord& record) {
    using Key = std::pair<QString, int>;  // the command and the rate it went at
    std::map<Key, std::pair<std::vector<double>, std::vector<double>>> by;
    std::vector<Key> order;
    for (const StepRecord& s : record.steps) {
        if (!s.measured.ran) continue;
        const Key key{CommandName(s.step.command), s.measured.baud};
        if (!by.count(key)) order.push_back(key);
        auto& [latency, play] = by[key];
        if (s.measured.latencyMs >= 0) latency.push_back(s.measured.latencyMs);
        if (s.measured.playSeconds >= 0) play.push_back(s.measured.playSeconds);
    }
    std::vector<BurnIn> out;
    out.reserve(order.size());
    for (const Key& key : order)
        out.push_back(BurnIn{key.first, key.second, SpreadOf(by[key].first), SpreadOf(by[key].second)});
    return out;
}

QString Timestamp(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString LoginName() {
    for (const char* name : {"USER", "LOGNAME"})
        if (QString value = qEnvironmentVariable(name); !value.isEmpty()) return value;
#ifdef Q_OS_UNIX
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    return QString();
}

QByteArray JsonReport(const RunRecord& r) {
    QJsonArray steps;
    for (size_t i = 0; i < r.steps.size(); ++i) steps.append(StepJson(int(i), r.steps[i], r.limits));
    QJsonObject counts;
    for (Outcome o : {Outcome::Pass, Outcome::Marginal, Outcome::Fail, Outcome::Error, Outcome::NotRun})
        counts.insert(CountName(o), r.count(o));
    QJsonArray burnIn;
    for (const BurnIn& b : BurnInFigures(r)) {
        burnIn.append(QJsonObject{{QStringLiteral("command"), b.command},
                                  {QStringLiteral("baud"), b.baud},
                                  {QStringLiteral("latency"), SpreadJson(b.latencyMs, QStringLiteral("ms"))},
                                  {QStringLiteral("playTime"), SpreadJson(b.playSeconds, QStringLiteral("s"))}});
    }
    const QJsonObject root{
        {QStringLiteral("schema"), QString::fromLatin1(kSchema)},
        {QStringLiteral("tool"), QJsonObject{{QStringLiteral("name"), QStringLiteral("vorla-selftest")},
                                             {QStringLiteral("version"), r.info.version}}},
        {QStringLiteral("dut"), r.info.dut},
        {QStringLiteral("station"), r.info.station},
        {QStringLiteral("operator"), r.info.operatorName},
        {QStringLiteral("port"), r.info.port},
        {QStringLiteral("capture"), r.info.capture.isEmpty()
                                        ? QJsonValue()
                                        : QJsonValue(QJsonObject{{QStringLiteral("file"), r.info.capture},
                                                                 {QStringLiteral("sha256"), r.info.captureSha256}})},
        {QStringLiteral("limitsFile"), r.info.limitsFile.isEmpty()
                                           ? QJsonValue()
                                           : QJsonValue(QJsonObject{{QStringLiteral("file"), r.info.limitsFile},
                                                                    {QStringLiteral("sha256"), r.info.limitsSha256}})},
        {QStringLiteral("virtualChip"), VirtualChipJson(r.info)},
        {QStringLiteral("baud"), r.baud},
        {QStringLiteral("mode"), ModeName(r.info)},
        {QStringLiteral("strict"), r.info.strict},
        {QStringLiteral("repeat"), r.info.repeat},
        {QStringLiteral("started"), Timestamp(r.started)},
        {QStringLiteral("ended"), r.ended.isValid() ? QJsonValue(Timestamp(r.ended)) : QJsonValue()},
        {QStringLiteral("finished"), r.finished},
        {QStringLiteral("durationSeconds"), r.seconds},
        {QStringLiteral("verdict"), r.ended.isValid() ? OutcomeName(r.verdict.outcome) : QStringLiteral("running")},
        {QStringLiteral("reasons"), Strings(r.verdict.reasons)},
        {QStringLiteral("endedEarly"), r.endedEarly},
        {QStringLiteral("abortedAtStep"), r.aborted() ? QJsonValue(r.abortedAt + 1) : QJsonValue()},
        {QStringLiteral("fault"), r.fault},
        {QStringLiteral("notes"), Strings(r.notes)},
        {QStringLiteral("counts"), counts},
        {QStringLiteral("frames"),
         QJsonObject{{QStringLiteral("sent"), r.framesSent}, {QStringLiteral("rejected"), r.framesRejected}}},
        {QStringLiteral("wireFloorSeconds"), r.wireSeconds},
        {QStringLiteral("limits"), LimitsToJson(r.limits)},
        {QStringLiteral("burnIn"), burnIn},
        {QStringLiteral("steps"), steps}};
    return QJsonDocument(root).toJson();
}

QByteArray JUnitReport(const RunRecord& r) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("vorla self-test %1").arg(r.info.dut).trimmed());
    xml.writeAttribute(QStringLiteral("tests"), QString::number(r.steps.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(r.count(Outcome::Fail)));
    // An aborted run's step under way is its one error, not a skip: a
    // dashboard never shows it green.
    const int aborted = r.aborted() && size_t(r.abortedAt) < r.steps.size() ? 1 : 0;
    xml.writeAttribute(QStringLiteral("errors"), QString::number(r.count(Outcome::Error) + aborted));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(r.count(Outcome::NotRun) - aborted));
    xml.writeAttribute(QStringLiteral("time"), QString::number(r.seconds, 'f', 3));
    xml.writeAttribute(QStringLiteral("timestamp"), Timestamp(r.started));
    xml.writeAttribute(QStringLiteral("hostname"), r.info.station);
    xml.writeStartElement(QStringLiteral("properties"));
    const std::pair<const char*, QString> properties[] = {
        {"dut", r.info.dut},
        {"station", r.info.station},
        {"operator", r.info.operatorName},
        {"version", r.info.version},
        {"port", r.info.port},
        {"baud", QString::number(r.baud)},
        {"mode", ModeName(r.info)},
        {"verdict", OutcomeName(r.verdict.outcome)},
        {"limits", QString::fromUtf8(QJsonDocument(LimitsToJson(r.limits)).toJson(QJsonDocument::Compact))},
        {"limitsFile", r.info.limitsFile.isEmpty() ? QString() : r.info.limitsFile + u' ' + r.info.limitsSha256},
        {"capture", r.info.capture.isEmpty() ? QString() : r.info.capture + u' ' + r.info.captureSha256},
        {"virtualChip", VirtualChipText(r.info)}};
    for (const auto& [name, value] : properties)
        if (!value.isEmpty()) WriteProperty(xml, QString::fromLatin1(name), value);
    xml.writeEndElement();
    for (size_t i = 0; i < r.steps.size(); ++i) WriteCase(xml, r.steps[i], r.limits, int(i) == r.abortedAt);
    xml.writeTextElement(QStringLiteral("system-out"), (QStringList{SummaryLine(r)} + BurnInLines(r)).join(u'\n'));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray ReportFor(const QString& path, const RunRecord& record) {
    return path.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive) ? JUnitReport(record) : JsonReport(record);
}

QString DefaultReportName(const RunRecord& record, const QString& extension) {
    QString dut = record.info.dut;
    dut.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]+")), QStringLiteral("_"));
    if (dut.isEmpty()) dut = QStringLiteral("chip");
    return QStringLiteral("vorla-selftest-%1-%2.%3")
        .arg(dut, record.started.toString(QStringLiteral("yyyyMMdd-HHmmss")), extension);
}

QString SummaryLine(const RunRecord& r) {
    QString line = QStringLiteral("%1 steps in %2 s").arg(r.steps.size()).arg(r.seconds, 0, 'f', 1);
    if (r.wireSeconds > 0)
        line += QStringLiteral(" (wire-time floor %1 s, %2×)")
                    .arg(r.wireSeconds, 0, 'f', 1)
                    .arg(r.seconds / r.wireSeconds, 0, 'f', 1);
    line += QStringLiteral(": %1 passed, %2 marginal, %3 failed, %4 errors, %5 not run")
                .arg(r.count(Outcome::Pass))
                .arg(r.count(Outcome::Marginal))
                .arg(r.count(Outcome::Fail))
                .arg(r.count(Outcome::Error))
                .arg(r.count(Outcome::NotRun));
    line += QStringLiteral(" — %1").arg(OutcomeName(r.verdict.outcome).toUpper());
    if (!r.verdict.reasons.isEmpty()) line += QStringLiteral(": ") + r.verdict.reasons.join(QStringLiteral("; "));
    return line;
}

QStringList FailureGroups(const RunRecord& r) {
    std::map<QString, QStringList> steps;
    QStringList order;
    for (const StepRecord& s : r.steps) {
        if (s.verdict.outcome != Outcome::Fail) continue;
        QStringList seen;
        // Its reasons that failed it, not its warnings.
        for (qsizetype i = 0; i < s.verdict.causes.size(); ++i) {
            const QString& cause = s.verdict.causes[i];
            if (i >= s.verdict.failing || seen.contains(cause)) continue;
            seen << cause;
            if (!steps.count(cause)) order << cause;
            steps[cause] << s.step.name;
        }
    }
    QStringList lines;
    for (const QString& cause : order) {
        lines << QStringLiteral("%1 (%2): %3")
                     .arg(cause)
                     .arg(steps[cause].size())
                     .arg(steps[cause].join(QStringLiteral(", ")));
    }
    return lines;
}

QStringList BurnInLines(const RunRecord& r) {
    QStringList lines;
    if (r.info.repeat <= 1) return lines;
    for (const BurnIn& b : BurnInFigures(r)) {
        QString line = QStringLiteral("%1 at %2 baud: latency median %3 ms, p95 %4 ms, max %5 ms")
                           .arg(b.command)
                           .arg(b.baud)
                           .arg(b.latencyMs.median, 0, 'f', 1)
                           .arg(b.latencyMs.p95, 0, 'f', 1)
                           .arg(b.latencyMs.max, 0, 'f', 1);
        if (b.playSeconds.count > 0) {
            line += QStringLiteral("; play median %1 s, p95 %2 s, max %3 s")
                        .arg(b.playSeconds.median, 0, 'f', 2)
                        .arg(b.playSeconds.p95, 0, 'f', 2)
                        .arg(b.playSeconds.max, 0, 'f', 2);
        }
        lines << line;
    }
    return lines;
}

bool ReportFile::open(const QString& given, const RunRecord& record) {
    path_.clear();
    QString path = given;
    if (QFileInfo(given).isDir()) {
        // A name no other run has taken: created here, so two runs in the
        // same second each get their own.
        const QString name = DefaultReportName(record, QStringLiteral("json"));
        for (int n = 1; n < 1000; ++n) {
            const QString candidate = QDir(given).filePath(
                n == 1 ? name : QString(name).replace(QStringLiteral(".json"), QStringLiteral("-%1.json").arg(n)));
            QFile file(candidate);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                path = candidate;
                break;
            }
            if (!file.exists()) {
                error_ = QStringLiteral("cannot write %1: %2").arg(candidate, file.errorString());
                return false;
            }
        }
    }
    path_ = path;
    if (write(record)) return true;
    path_.clear();
    return false;
}

bool ReportFile::write(const RunRecord& record) {
    if (path_.isEmpty()) return false;
    QSaveFile file(path_);
    if (file.open(QIODevice::WriteOnly) && file.write(ReportFor(path_, record)) >= 0 && file.commit()) return true;
    error_ = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
    return false;
}

}  // namespace vorla
