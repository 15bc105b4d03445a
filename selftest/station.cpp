// SPDX-License-Identifier: MIT
#include "selftest/station.h"

#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "selftest/report.h"
#include "serial/device_choice.h"
#include "serial/qt_serial_control.h"

namespace vorla {

namespace {
constexpr auto kStationSchema = "vorla-station/1";
constexpr auto kReportSchema = "vorla-station-report/1";

// ---- the station file

bool OnlyKeys(const QJsonObject& object, const QStringList& keys, const QString& where, QString* why) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (keys.contains(it.key())) continue;
        *why = QStringLiteral("%1: unknown key \"%2\"").arg(where, it.key());
        return false;
    }
    return true;
}

// A string member; `required` ones must be there and not empty.
bool Text(const QJsonObject& object, const QString& key, bool required, QString& out, const QString& where,
          QString* why) {
    const QJsonValue v = object.value(key);
    if (v.isUndefined() && !required) return true;
    if (!v.isString() || (required && v.toString().isEmpty())) {
        *why = QStringLiteral("%1: \"%2\" must be a%3 string").arg(where, key, required ? " non-empty" : "");
        return false;
    }
    out = v.toString();
    return true;
}

bool LimitsMember(const QJsonObject& object, std::optional<Limits>& out, const QString& where, QString* why) {
    const QJsonValue v = object.value(QStringLiteral("limits"));
    if (v.isUndefined()) return true;
    if (!v.isObject()) {
        *why = QStringLiteral("%1: \"limits\" must be an object").arg(where);
        return false;
    }
    QString error;
    out = LimitsFromJson(QJsonDocument(v.toObject()).toJson(), &error);
    if (!out) *why = QStringLiteral("%1: the limits: %2").arg(where, error);
    return out.has_value();
}

std::optional<SlotPlan> SlotFromJson(const QJsonValue& value, int index, QString* why) {
    QString where = QStringLiteral("slot %1").arg(index + 1);
    if (!value.isObject()) {
        *why = where + QStringLiteral(": not an object");
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    SlotPlan s;
    if (!Text(o, QStringLiteral("name"), true, s.name, where, why)) return std::nullopt;
    where = QStringLiteral("slot %1").arg(s.name);
    const bool ok =
        OnlyKeys(o, {QStringLiteral("name"), QStringLiteral("device"), QStringLiteral("dut"), QStringLiteral("limits")},
                 where, why) &&
        Text(o, QStringLiteral("device"), true, s.device, where, why) &&
        Text(o, QStringLiteral("dut"), false, s.dut, where, why) && LimitsMember(o, s.limits, where, why);
    return ok ? std::optional<SlotPlan>(s) : std::nullopt;
}

// ---- devices

QString AdapterText(const SerialDeviceInfo& d) {
    QStringList parts;
    if (!d.description.isEmpty()) parts << d.description;
    if (!d.manufacturer.isEmpty()) parts << d.manufacturer;
    if (d.vendorId >= 0 && d.productId >= 0) {
        parts << QStringLiteral("USB %1:%2")
                     .arg(d.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(d.productId, 4, 16, QLatin1Char('0'))
                     .toUpper();
    }
    return parts.join(QStringLiteral(", "));
}

// The name under /dev/serial/by-path/ that resolves to `canonical`, if any.
QString ByPathName(const QString& canonical) {
    const QDir dir(QString::fromLatin1(kStableDevices));
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == canonical) return link.absoluteFilePath();
    return QString();
}

// ---- reports

int Rank(Outcome o) {
    switch (o) {
    case Outcome::Pass: return 0;
    case Outcome::Marginal: return 1;
    case Outcome::NotRun: return 2;
    case Outcome::Incomplete: return 3;
    case Outcome::Fail: return 4;
    case Outcome::Error: return 5;
    }
    return 5;
}

QString DeviceDescription(const SlotDevice& d) {
    return d.canonical.isEmpty() || d.canonical == d.given ? d.given : d.given + QStringLiteral(" → ") + d.canonical;
}

QJsonValue OrNull(const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); }

QJsonObject SlotJson(const SlotRun& s) {
    const QJsonValue run = s.started ? QJsonValue(QJsonDocument::fromJson(JsonReport(s.run)).object()) : QJsonValue();
    return QJsonObject{
        {QStringLiteral("slot"), s.slot},
        {QStringLiteral("device"), s.device.given},
        {QStringLiteral("devicePath"), OrNull(s.device.canonical)},
        {QStringLiteral("adapter"), OrNull(s.device.adapter)},
        {QStringLiteral("dut"), s.run.info.dut},
        {QStringLiteral("started"), s.started},
        {QStringLiteral("verdict"), !s.started              ? OutcomeName(Outcome::NotRun)
                                    : s.run.ended.isValid() ? OutcomeName(s.run.verdict.outcome)
                                                            : QStringLiteral("running")},
        {QStringLiteral("exitStatus"), s.started && s.run.ended.isValid() ? ExitStatus(s.run.verdict) : 1},
        {QStringLiteral("run"), run},
    };
}

void WriteSlotProperty(QXmlStreamWriter& xml, const QString& name, const QString& value) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), name);
    xml.writeAttribute(QStringLiteral("value"), value);
    xml.writeEndElement();
}

void WriteSlotProperties(QXmlStreamWriter& xml, const SlotRun& s) {
    WriteSlotProperty(xml, QStringLiteral("slot"), s.slot);
    WriteSlotProperty(xml, QStringLiteral("device"), DeviceDescription(s.device));
    if (!s.device.adapter.isEmpty()) WriteSlotProperty(xml, QStringLiteral("adapter"), s.device.adapter);
}

// The <testsuite> element's start, named after the slot.
void StartSuite(QXmlStreamWriter& xml, const QXmlStreamReader& in, const SlotRun& s) {
    xml.writeStartElement(QStringLiteral("testsuite"));
    for (const QXmlStreamAttribute& a : in.attributes()) {
        xml.writeAttribute(a.name().toString(), a.name() == u"name"
                                                    ? QStringLiteral("slot %1: %2").arg(s.slot, a.value())
                                                    : a.value().toString());
    }
}

// The slot's run as one <testsuite>, taken from its own JUnit report: named
// after the slot, the slot and its device first among its properties.
void CopySuite(QXmlStreamWriter& xml, const SlotRun& s) {
    QXmlStreamReader in(JUnitReport(s.run));
    while (!in.atEnd() && !(in.isStartElement() && in.name() == u"testsuite")) in.readNext();
    if (in.atEnd()) return;
    StartSuite(xml, in, s);
    int depth = 1;  // inside the <testsuite>
    while (depth > 0 && !in.atEnd() && !in.hasError()) {
        in.readNext();
        if (in.isCharacters() && in.isWhitespace()) continue;
        if (in.isEndElement()) --depth;
        if (depth == 0) break;
        xml.writeCurrentToken(in);
        if (in.isStartElement() && ++depth == 2 && in.name() == u"properties") WriteSlotProperties(xml, s);
    }
    xml.writeEndElement();
}

// A slot that never ran: an empty suite that says so.
void WriteIdleSuite(QXmlStreamWriter& xml, const SlotRun& s) {
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("slot %1: not started").arg(s.slot));
    for (const char* count : {"tests", "failures", "errors", "skipped"})
        xml.writeAttribute(QString::fromLatin1(count), QStringLiteral("0"));
    xml.writeStartElement(QStringLiteral("properties"));
    WriteSlotProperties(xml, s);
    xml.writeEndElement();
    xml.writeEndElement();
}
}  // namespace

// ---- the station's description

std::optional<StationPlan> StationFromJson(const QByteArray& json, QString* why) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject()) {
        *why = doc.isNull() ? QStringLiteral("not JSON: %1").arg(error.errorString()) : QStringLiteral("not an object");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    const QString where = QStringLiteral("the station");
    StationPlan plan;
    QString schema;
    if (!OnlyKeys(o,
                  {QStringLiteral("schema"), QStringLiteral("name"), QStringLiteral("limits"), QStringLiteral("slots")},
                  where, why) ||
        !Text(o, QStringLiteral("schema"), true, schema, where, why) ||
        !Text(o, QStringLiteral("name"), false, plan.name, where, why) || !LimitsMember(o, plan.limits, where, why))
        return std::nullopt;
    if (schema != QLatin1String(kStationSchema)) {
        *why = QStringLiteral("the station: \"schema\" must be \"%1\"").arg(QLatin1String(kStationSchema));
        return std::nullopt;
    }
    const QJsonArray slotArray = o.value(QStringLiteral("slots")).toArray();
    if (slotArray.isEmpty()) {
        *why = QStringLiteral("the station: \"slots\" must be a list of at least one slot");
        return std::nullopt;
    }
    for (int i = 0; i < slotArray.size(); ++i) {
        auto slot = SlotFromJson(slotArray.at(i), i, why);
        if (!slot) return std::nullopt;
        plan.slotPlans.push_back(std::move(*slot));
    }
    return plan;
}

namespace {
QString NameProblem(const QString& name) {
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_.-]{1,32}$"));
    return word.match(name).hasMatch()
               ? QString()
               : QStringLiteral("slot \"%1\": a slot's name is 1 to 32 letters, digits, '_', '.' or '-'").arg(name);
}
// The slot `key` was first seen in, when it was seen before; `slot` is where it is now.
std::optional<QString> SeenBefore(std::map<QString, QString>& seen, const QString& key, const QString& slot) {
    const auto [it, fresh] = seen.emplace(key, slot);
    return fresh ? std::nullopt : std::optional<QString>(it->second);
}
}  // namespace

QString StationProblem(const StationPlan& plan) {
    if (plan.slotPlans.empty()) return QStringLiteral("the station has no slot");
    std::set<QString> names;
    std::map<QString, QString> devices, duts;  // the slot each was first seen in
    for (const SlotPlan& s : plan.slotPlans) {
        QString problem = NameProblem(s.name);
        if (!problem.isEmpty()) return problem;
        if (!names.insert(s.name).second) return QStringLiteral("slot %1 is named twice").arg(s.name);
        if (s.device.isEmpty()) return QStringLiteral("slot %1 has no device").arg(s.name);
        const QString canonical = QFileInfo(SlotDevicePath(s.device)).canonicalFilePath();
        const QString device = canonical.isEmpty() ? s.device : canonical;
        if (const auto first = SeenBefore(devices, device, s.name))
            return QStringLiteral("slots %1 and %2 are on one device, %3").arg(*first, s.name, device);
        if (const auto first = SeenBefore(duts, s.dut, s.name); first && !s.dut.isEmpty())
            return QStringLiteral("the DUT %1 is in slots %2 and %3").arg(s.dut, *first, s.name);
    }
    return QString();
}

QString SlotDevicePath(const QString& device, const QString& folder) {
    if (device.isEmpty() || device.contains(u'/')) return device;
    const QDir stable(folder);
    const QString port0 = device + QStringLiteral("-port0");
    return !stable.exists(device) && stable.exists(port0) ? stable.filePath(port0) : stable.filePath(device);
}

bool SlotDevice::stablyNamed() const { return present() && given != canonical; }

SlotDevice LookUpDevice(const QString& path) {
    SlotDevice d;
    d.given = path;
    d.canonical = QFileInfo(path).canonicalFilePath();
    if (!d.present()) return d;
    for (const SerialDeviceInfo& info : PresentSerialDevices()) {
        if (QFileInfo(info.path).canonicalFilePath() != d.canonical) continue;
        d.adapter = AdapterText(info);
        break;
    }
    d.stable = ByPathName(d.canonical);
    return d;
}

QStringList UnclaimedDevices(const QString& folder, const std::vector<SlotPlan>& named) {
    std::set<QString> claimed;
    for (const SlotPlan& s : named) claimed.insert(QFileInfo(SlotDevicePath(s.device, folder)).canonicalFilePath());
    QStringList unclaimed;
    for (const QFileInfo& link :
         QDir(folder).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString canonical = link.canonicalFilePath();
        if (!canonical.isEmpty() && !claimed.count(canonical)) unclaimed << link.absoluteFilePath();
    }
    return unclaimed;
}

QString MissingDevice(const SlotPlan& slot, const QStringList& unclaimed) {
    QString why = QStringLiteral("slot %1: %2 is missing").arg(slot.name, slot.device);
    if (!unclaimed.isEmpty())
        why += QStringLiteral(" (if its adapter has moved to another socket, it is one of %1)")
                   .arg(unclaimed.join(QStringLiteral(", ")));
    return why;
}

QString DeviceLine(const SlotDevice& d) {
    QString line = DeviceDescription(d);
    if (!d.adapter.isEmpty()) line += QStringLiteral(" (%1)").arg(d.adapter);
    return line;
}

// ---- the station's record

Outcome StationOutcome(const StationRecord& record) {
    std::optional<Outcome> worst;
    for (const SlotRun& s : record.slotRuns) {
        if (!s.started) continue;
        const Outcome o = s.run.ended.isValid() ? s.run.verdict.outcome : Outcome::NotRun;
        if (!worst || Rank(o) > Rank(*worst)) worst = o;
    }
    return worst.value_or(Outcome::NotRun);
}

int StationExitStatus(const StationRecord& record) {
    int status = -1;
    for (const SlotRun& s : record.slotRuns)
        if (s.started) status = std::max(status, s.run.ended.isValid() ? ExitStatus(s.run.verdict) : 1);
    return status < 0 ? 1 : status;
}

QByteArray StationJsonReport(const StationRecord& r) {
    QJsonArray slotList;
    for (const SlotRun& s : r.slotRuns) slotList.append(SlotJson(s));
    const QJsonObject root{
        {QStringLiteral("schema"), QString::fromLatin1(kReportSchema)},
        {QStringLiteral("tool"), QJsonObject{{QStringLiteral("name"), QStringLiteral("vorla-selftest")},
                                             {QStringLiteral("version"), r.version}}},
        {QStringLiteral("station"), r.station},
        {QStringLiteral("operator"), r.operatorName},
        {QStringLiteral("mode"), r.mode},
        {QStringLiteral("started"),
         r.started.isValid() ? QJsonValue(r.started.toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("ended"), r.ended.isValid() ? QJsonValue(r.ended.toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("verdict"), r.ended.isValid() ? OutcomeName(StationOutcome(r)) : QStringLiteral("running")},
        {QStringLiteral("exitStatus"), StationExitStatus(r)},
        {QStringLiteral("capture"), r.capture.isEmpty()
                                        ? QJsonValue()
                                        : QJsonValue(QJsonObject{{QStringLiteral("file"), r.capture},
                                                                 {QStringLiteral("sha256"), r.captureSha256}})},
        {QStringLiteral("slots"), slotList},
    };
    return QJsonDocument(root).toJson();
}

QByteArray StationJUnitReport(const StationRecord& r) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("vorla station %1").arg(r.station));
    for (const SlotRun& s : r.slotRuns) {
        if (s.started) CopySuite(xml, s);
        else WriteIdleSuite(xml, s);
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray StationReportFor(const QString& path, const StationRecord& record) {
    return path.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive) ? StationJUnitReport(record)
                                                                      : StationJsonReport(record);
}

QStringList StationSummaryLines(const StationRecord& r) {
    QStringList lines;
    for (const SlotRun& s : r.slotRuns) {
        const QString dut = s.run.info.dut.isEmpty() ? QStringLiteral("unnamed") : s.run.info.dut;
        lines << (s.started ? QStringLiteral("slot %1 (%2): %3").arg(s.slot, dut, SummaryLine(s.run))
                            : QStringLiteral("slot %1: not started").arg(s.slot));
    }
    lines << QStringLiteral("station: %1").arg(OutcomeName(StationOutcome(r)).toUpper());
    return lines;
}

// ---- the station's run

// One run's turn at a time, the others waiting in the order they asked; the
// next one goes from the loop, never inside the handler that gave the turn back.
class Station::Turns : public TurnTaking {
public:
    explicit Turns(QObject* context) : context_(context) {}
    void request(SelfTest* run, std::function<void()> go) override {
        if (holder_ == nullptr) {
            holder_ = run;
            go();
            return;
        }
        waiting_.emplace_back(run, std::move(go));
    }
    void release(SelfTest* run) override {
        std::erase_if(waiting_, [run](const auto& w) { return w.first == run; });
        if (holder_ != run) return;
        holder_ = nullptr;
        if (waiting_.empty()) return;
        auto [next, go] = std::move(waiting_.front());
        waiting_.pop_front();
        holder_ = next;
        QMetaObject::invokeMethod(context_, std::move(go), Qt::QueuedConnection);
    }

private:
    QObject* context_;
    SelfTest* holder_ = nullptr;
    std::deque<std::pair<SelfTest*, std::function<void()>>> waiting_;
};

struct Station::Slot {
    SlotPlan plan;
    SlotDevice device;
    std::unique_ptr<SerialControl> port;
    std::unique_ptr<ChipConversation> conversation;
    std::unique_ptr<SelfTest> test;
    bool started = false;
};

Station::Station(Clock& clock, PortMaker makePort, QObject* parent)
    : QObject(parent), clock_(clock), makePort_(std::move(makePort)), turns_(std::make_unique<Turns>(this)) {}

void Station::setPlaysInTurn(bool inTurn) {
    inTurn_ = inTurn;
    for (const auto& s : slots_) s->test->setTurnTaking(inTurn ? turns_.get() : nullptr);
}

Station::~Station() = default;

bool Station::open(const StationPlan& plan, const RunOptions& run, QString* why) {
    slots_.clear();
    if (const QString problem = StationProblem(plan); !problem.isEmpty()) {
        *why = problem;
        return false;
    }
    run_ = run;
    if (!plan.name.isEmpty()) run_.info.station = plan.name;
    if (plan.limits) run_.limits = *plan.limits;
    std::vector<std::unique_ptr<Slot>> opened;
    for (const SlotPlan& s : plan.slotPlans) {
        auto slot = std::make_unique<Slot>();
        slot->plan = s;
        slot->device = makePort_ ? SlotDevice{s.device, s.device, {}, {}} : LookUpDevice(SlotDevicePath(s.device));
        if (!slot->device.present()) {
            *why = MissingDevice(s, UnclaimedDevices(QString::fromLatin1(kStableDevices), plan.slotPlans));
            return false;
        }
        if (makePort_) {
            slot->port = makePort_(s, clock_);
        } else {
            PortMap map;
            map.setDevice(ChipConversation::kStartPort, slot->device.given);
            slot->port = std::make_unique<QtSerialControl>(map, clock_);
        }
        slot->port->setCommPort(ChipConversation::kStartPort);
        slot->port->setSettings(*BaudSettingsFor(run_.startBaudIndex));
        if (!slot->port->setPortOpen(true)) {
            *why = QStringLiteral("slot %1: %2").arg(s.name, FaultLogLine(slot->port->lastFault()));
            return false;
        }
        slot->conversation = std::make_unique<ChipConversation>(*slot->port);
        slot->port->setSettings(*BaudSettingsFor(run_.startBaudIndex));
        slot->test = std::make_unique<SelfTest>(*slot->conversation);
        if (inTurn_) slot->test->setTurnTaking(turns_.get());
        const int index = int(opened.size());
        connect(slot->test.get(), &SelfTest::stepStarted, this, [this, index](int i) { emit stepStarted(index, i); });
        connect(slot->test.get(), &SelfTest::stepFinished, this, [this, index](int i) { emit stepFinished(index, i); });
        connect(slot->test.get(), &SelfTest::finished, this, [this, index] { onSlotFinished(index); });
        opened.push_back(std::move(slot));
    }
    slots_ = std::move(opened);
    return true;
}

bool Station::startAll(const QStringList& duts, QString* why) {
    mode_ = QStringLiteral("batch");
    QStringList problems;
    for (int i = 0; i < slotCount(); ++i) {
        if (slots_[size_t(i)]->test->running()) continue;
        QString problem;
        if (!startSlot(i, duts.isEmpty() ? slots_[size_t(i)]->plan.dut : duts.value(i), &problem)) problems << problem;
    }
    if (why) *why = problems.join(QStringLiteral("; "));
    return problems.isEmpty();
}

bool Station::startSlot(int slot, const QString& dut, QString* why) {
    QString problem;
    if (slot < 0 || slot >= slotCount()) problem = QStringLiteral("no slot %1").arg(slot);
    else if (slots_[size_t(slot)]->test->running()) problem = QStringLiteral("slot %1 is running").arg(slotName(slot));
    for (int i = 0; i < slotCount() && problem.isEmpty(); ++i) {
        const Slot& other = *slots_[size_t(i)];
        if (i != slot && !dut.isEmpty() && other.test->running() && other.test->record().info.dut == dut)
            problem = QStringLiteral("the DUT %1 is in slot %2").arg(dut, other.plan.name);
    }
    if (!problem.isEmpty()) {
        if (why) *why = problem;
        return false;
    }
    if (mode_.isEmpty()) mode_ = QStringLiteral("independent");
    if (!started_.isValid()) started_ = QDateTime::currentDateTime();
    ended_ = QDateTime();
    Slot& s = *slots_[size_t(slot)];
    RunOptions options = run_;
    options.info.dut = dut;
    options.info.port = s.plan.device;
    if (s.plan.limits) options.limits = *s.plan.limits;
    s.started = true;
    s.test->start(options);
    return true;
}

void Station::stop(const QString& why) {
    for (const auto& s : slots_) s->test->stop(why);
}

bool Station::running() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const auto& s) { return s->test->running(); });
}

bool Station::slotRunning(int slot) const {
    return slot >= 0 && slot < slotCount() && slots_[size_t(slot)]->test->running();
}

const SelfTest& Station::test(int slot) const { return *slots_.at(size_t(slot))->test; }
SelfTest& Station::test(int slot) { return *slots_.at(size_t(slot))->test; }
ChipConversation& Station::conversation(int slot) { return *slots_.at(size_t(slot))->conversation; }
const QString& Station::slotName(int slot) const { return slots_.at(size_t(slot))->plan.name; }
const SlotDevice& Station::device(int slot) const { return slots_.at(size_t(slot))->device; }

int Station::slotNamed(const QString& name) const {
    for (int i = 0; i < slotCount(); ++i)
        if (slots_[size_t(i)]->plan.name == name) return i;
    return -1;
}

void Station::onSlotFinished(int slot) {
    emit slotFinished(slot);
    if (running()) return;
    ended_ = QDateTime::currentDateTime();
    emit finished();
}

StationRecord Station::record() const {
    StationRecord r;
    r.station = run_.info.station;
    r.operatorName = run_.info.operatorName;
    r.version = run_.info.version;
    r.mode = mode_.isEmpty() ? QStringLiteral("batch") : mode_;
    r.started = started_;
    r.ended = ended_;
    for (const auto& s : slots_) r.slotRuns.push_back(SlotRun{s->plan.name, s->device, s->test->record(), s->started});
    return r;
}

capture::Capture Station::lineCapture() const {
    capture::Capture out;
    for (const auto& s : slots_) {
        capture::Capture c = s->conversation->lineCapture();
        if (out.application.isEmpty()) out.application = c.application;
        // The station's ports are the conversation's first; a slot's line is one interface.
        const auto index = uint32_t(out.interfaces.size());
        out.interfaces.push_back(capture::Interface{s->plan.name, DeviceDescription(s->device)});
        for (capture::Packet& p : c.packets) {
            if (p.interface != 0) continue;
            p.interface = index;
            out.packets.push_back(std::move(p));
        }
    }
    std::stable_sort(out.packets.begin(), out.packets.end(),
                     [](const capture::Packet& a, const capture::Packet& b) { return a.micros < b.micros; });
    return out;
}

}  // namespace vorla
