// SPDX-License-Identifier: MIT
// A test station: several chips at once, each in a slot of its own (a name,
// a serial device, the DUT in it), all on one event loop. Each slot has its
// own port, conversation, runner and record, so a slot whose chip hangs,
// talks noise or vanishes ends in its own error and the others go on as if
// it were not there. The station's run is one record: a run a slot, one
// combined report (JSON or JUnit, a <testsuite> a slot), one capture with an
// interface a slot, and an exit status that is the worst slot's.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "protocol/capture.h"
#include "selftest/runner.h"

namespace vorla {

struct SlotPlan {
    QString name;                  // "A", "socket-3"
    QString device;                // best a stable path: /dev/serial/by-path/…
    QString dut;                   // the module in it, when known before the run
    std::optional<Limits> limits;  // its own; the station's otherwise
};

struct StationPlan {
    QString name;  // the station's name for the reports; empty: the host's
    std::vector<SlotPlan> slotPlans;
    std::optional<Limits> limits;  // for every slot without its own
};

// A station file (JSON, selftest/station.schema.json); nothing, with `why`
// naming the slot where it can, for one that does not validate.
std::optional<StationPlan> StationFromJson(const QByteArray& json, QString* why);
// What stops a station from running, naming the slot: a name that is empty,
// not a word or given twice, two slots on one device (links resolved), one
// DUT in two slots, no slot at all. Empty when it can run.
QString StationProblem(const StationPlan& plan);

// Where the system keeps the stable names of serial devices, a socket each.
inline constexpr auto kStableDevices = "/dev/serial/by-path";
// A slot's device as a path: a path as given; a name without a '/' (a stable
// name, or a udev ID_PATH, which names an adapter's first port with "-port0"
// after it) as the stable name in `folder` it stands for.
QString SlotDevicePath(const QString& device, const QString& folder = QString::fromLatin1(kStableDevices));

// A slot's device as the system has it now.
struct SlotDevice {
    QString given;      // as the slot names it
    QString canonical;  // links resolved; empty when nothing is there
    QString adapter;    // the adapter's description, maker and USB IDs
    QString stable;     // a /dev/serial/by-path/ name for it, when the system has one
    bool present() const { return !canonical.isEmpty(); }
    // Named by a path that follows the socket, not a number the next boot may give another adapter.
    bool stablyNamed() const;
};
SlotDevice LookUpDevice(const QString& path);
// The devices in `folder` (the system's stable names, /dev/serial/by-path)
// that no slot names, links resolved: where an adapter that has moved to
// another socket now is.
QStringList UnclaimedDevices(const QString& folder, const std::vector<SlotPlan>& named);
// Why a slot's device is not there: missing, and the unclaimed stable names
// an adapter that moved would be found under.
QString MissingDevice(const SlotPlan& slot, const QStringList& unclaimed);
// The device in one line: "/dev/serial/by-path/…-port0 → /dev/ttyUSB1 (FT232R USB UART, FTDI, USB 0403:6001)".
QString DeviceLine(const SlotDevice& device);

struct SlotRun {
    QString slot;
    SlotDevice device;
    RunRecord run;
    bool started = false;  // a slot whose DUT never came in has no run
};

struct StationRecord {
    QString station;
    QString operatorName;
    QString version;
    QString mode;  // "batch" or "independent"
    QDateTime started;
    QDateTime ended;
    std::vector<SlotRun> slotRuns;
    QString capture;  // the combined capture, when one was written
    QString captureSha256;
};

// The station's verdict: the worst slot's (an error before a failure before
// a warning); a slot never started counts as not run.
Outcome StationOutcome(const StationRecord& record);
// 0 every slot passed, 1 a chip failed, 3 a slot's station side failed.
int StationExitStatus(const StationRecord& record);
QByteArray StationJsonReport(const StationRecord& record);
QByteArray StationJUnitReport(const StationRecord& record);
// JUnit for a name ending in .xml, JSON otherwise.
QByteArray StationReportFor(const QString& path, const StationRecord& record);
// A line a slot: its name, DUT, verdict and summary.
QStringList StationSummaryLines(const StationRecord& record);

// The station's run: its slots' ports opened before anything is sent, then
// every slot run at once (batch) or each when its DUT is in (independent).
class Station : public QObject {
    Q_OBJECT
public:
    using PortMaker = std::function<std::unique_ptr<SerialControl>(const SlotPlan& slot, Clock& clock)>;

    // `makePort` gives each slot its port; by default a QSerialPort on its device.
    explicit Station(Clock& clock, PortMaker makePort = {}, QObject* parent = nullptr);
    ~Station() override;

    // Opens every slot's port. False, with `why` naming the slot, when the
    // station has a problem (StationProblem) or a port cannot be opened;
    // then nothing has been sent.
    bool open(const StationPlan& plan, const RunOptions& run, QString* why);
    // Every slot at once, each with its DUT from `duts` (by slot) or its
    // description; false (said why, slot by slot) when one could not start.
    bool startAll(const QStringList& duts = {}, QString* why = nullptr);
    // One slot, for the DUT now in it (independent slots); false while the
    // slot runs, for a DUT in another slot, or a slot that does not exist.
    bool startSlot(int slot, const QString& dut, QString* why = nullptr);
    // In a batch, the steps that play aloud taken one slot at a time (the
    // others' silent steps go on meanwhile), so that each is heard alone.
    // Set before the runs start.
    void setPlaysInTurn(bool inTurn);
    bool playsInTurn() const { return inTurn_; }
    // Ends every run under way, for `why`.
    void stop(const QString& why);

    int slotCount() const { return int(slots_.size()); }
    bool running() const;
    bool slotRunning(int slot) const;
    const SelfTest& test(int slot) const;
    SelfTest& test(int slot);
    ChipConversation& conversation(int slot);
    const QString& slotName(int slot) const;
    const SlotDevice& device(int slot) const;
    int slotNamed(const QString& name) const;  // -1 for none

    StationRecord record() const;
    // Every slot's line on one capture, an interface a slot named after it.
    capture::Capture lineCapture() const;

signals:
    void stepStarted(int slot, int index);
    void stepFinished(int slot, int index);
    void slotFinished(int slot);
    // Every slot that was started has finished.
    void finished();

private:
    struct Slot;
    class Turns;
    void onSlotFinished(int slot);

    Clock& clock_;
    PortMaker makePort_;
    RunOptions run_;
    QString mode_;
    QDateTime started_;
    QDateTime ended_;
    std::unique_ptr<Turns> turns_;
    bool inTurn_ = false;
    std::vector<std::unique_ptr<Slot>> slots_;  // after the turns, which they use
};

}  // namespace vorla
