// SPDX-License-Identifier: MIT
#include "protocol/capture.h"

#include <algorithm>
#include <array>

#include <QRegularExpression>
#include <QStringList>

#include <QtEndian>

namespace vorla::capture {

namespace {
constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 0x00000001;
constexpr uint32_t kEnhancedPacket = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kEndOfOptions = 0;
constexpr uint16_t kComment = 1;
constexpr uint16_t kShbUserApplication = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfDescription = 3;
constexpr uint16_t kIfTsResolution = 9;
constexpr uint16_t kEpbFlags = 2;
constexpr uint32_t kInbound = 1;  // epb_flags bits 0-1
constexpr uint32_t kOutbound = 2;

void Put16(QByteArray& out, uint16_t v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void Put32(QByteArray& out, uint32_t v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void Pad(QByteArray& out) {
    while (out.size() % 4 != 0) out.append('\0');
}
void PutOption(QByteArray& out, uint16_t code, const QByteArray& value) {
    if (value.isEmpty()) return;
    Put16(out, code);
    Put16(out, uint16_t(value.size()));
    out.append(value);
    Pad(out);
}
void EndOptions(QByteArray& out) {
    Put16(out, kEndOfOptions);
    Put16(out, 0);
}
// A block: type, total length, body, total length again.
void PutBlock(QByteArray& out, uint32_t type, const QByteArray& body) {
    const auto length = uint32_t(body.size() + 12);
    Put32(out, type);
    Put32(out, length);
    out.append(body);
    Put32(out, length);
}

class Reader {
public:
    explicit Reader(QByteArrayView data) : data_(data) {}
    bool has(qsizetype n) const { return at_ + n <= data_.size(); }
    uint16_t u16(qsizetype at) const { return qFromLittleEndian<uint16_t>(data_.data() + at); }
    uint32_t u32(qsizetype at) const { return qFromLittleEndian<uint32_t>(data_.data() + at); }
    QByteArrayView view(qsizetype at, qsizetype n) const { return data_.sliced(at, n); }
    qsizetype at_ = 0;

private:
    QByteArrayView data_;
};

// Options from `at` to `end`: code to value, the last of each code.
std::vector<std::pair<uint16_t, QByteArray>> Options(const Reader& r, qsizetype at, qsizetype end) {
    std::vector<std::pair<uint16_t, QByteArray>> options;
    while (at + 4 <= end) {
        const uint16_t code = r.u16(at);
        const uint16_t length = r.u16(at + 2);
        if (code == kEndOfOptions || at + 4 + length > end) break;
        options.emplace_back(code, r.view(at + 4, length).toByteArray());
        at += 4 + ((length + 3) & ~3);
    }
    return options;
}

QByteArray Option(const std::vector<std::pair<uint16_t, QByteArray>>& options, uint16_t code) {
    for (const auto& [c, v] : options)
        if (c == code) return v;
    return {};
}

bool Fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

// Units per second of an interface's timestamps (if_tsresol).
int64_t Resolution(const QByteArray& tsresol) {
    if (tsresol.isEmpty()) return 1'000'000;
    const auto v = uint8_t(tsresol[0]);
    if (v & 0x80) return (v & 0x7F) < 62 ? int64_t(1) << (v & 0x7F) : 0;
    int64_t units = 1;
    for (int i = 0; i < (v & 0x7F) && i < 18; ++i) units *= 10;
    return units;
}

bool ReadPacket(const Reader& r, qsizetype at, qsizetype end, const std::vector<int64_t>& units, Capture& c,
                QString* error) {
    if (at + 20 > end) return Fail(error, QStringLiteral("a packet block is cut short"));
    Packet p;
    p.interface = r.u32(at);
    if (p.interface >= units.size()) return Fail(error, QStringLiteral("a packet names an interface never described"));
    const uint64_t stamp = (uint64_t(r.u32(at + 4)) << 32) | r.u32(at + 8);
    const int64_t perSecond = units[p.interface] > 0 ? units[p.interface] : 1'000'000;
    p.micros = int64_t((__int128(stamp) * 1'000'000) / perSecond);
    const uint32_t captured = r.u32(at + 12);
    const qsizetype dataEnd = at + 20 + ((qsizetype(captured) + 3) & ~qsizetype(3));
    if (dataEnd > end) return Fail(error, QStringLiteral("a packet's data runs past its block"));
    p.bytes = r.view(at + 20, captured).toByteArray();
    const auto options = Options(r, dataEnd, end);
    const QByteArray flags = Option(options, kEpbFlags);
    const uint32_t direction = flags.size() == 4 ? qFromLittleEndian<uint32_t>(flags.constData()) & 3 : 0;
    p.direction = direction == kInbound ? Direction::In : direction == kOutbound ? Direction::Out : Direction::None;
    p.comment = QString::fromUtf8(Option(options, kComment));
    c.packets.push_back(std::move(p));
    return true;
}
}  // namespace

QByteArray Write(const Capture& capture) {
    QByteArray out;
    QByteArray shb;
    Put32(shb, kByteOrderMagic);
    Put16(shb, 1);  // version 1.0
    Put16(shb, 0);
    Put32(shb, 0xFFFFFFFF);  // section length not given
    Put32(shb, 0xFFFFFFFF);
    PutOption(shb, kShbUserApplication, capture.application.toUtf8());
    EndOptions(shb);
    PutBlock(out, kSectionHeader, shb);
    for (const Interface& i : capture.interfaces) {
        QByteArray idb;
        Put16(idb, kLinkType);
        Put16(idb, 0);
        Put32(idb, 0);  // no snapshot length limit
        PutOption(idb, kIfName, i.name.toUtf8());
        PutOption(idb, kIfDescription, i.description.toUtf8());
        PutOption(idb, kIfTsResolution, QByteArray(1, char(6)));  // microseconds
        EndOptions(idb);
        PutBlock(out, kInterfaceDescription, idb);
    }
    for (const Packet& p : capture.packets) {
        QByteArray epb;
        Put32(epb, p.interface);
        Put32(epb, uint32_t(uint64_t(p.micros) >> 32));
        Put32(epb, uint32_t(uint64_t(p.micros) & 0xFFFFFFFF));
        Put32(epb, uint32_t(p.bytes.size()));
        Put32(epb, uint32_t(p.bytes.size()));
        epb.append(p.bytes);
        Pad(epb);
        const uint32_t flags = p.direction == Direction::In ? kInbound : p.direction == Direction::Out ? kOutbound : 0;
        if (flags != 0) {
            Put16(epb, kEpbFlags);
            Put16(epb, 4);
            Put32(epb, flags);
        }
        PutOption(epb, kComment, p.comment.toUtf8());
        EndOptions(epb);
        PutBlock(out, kEnhancedPacket, epb);
    }
    return out;
}

namespace {
// Section and interface blocks; false (and why) for one that is not ours.
bool ReadSection(const Reader& r, qsizetype body, qsizetype end, uint32_t length, Capture& c, QString* error) {
    if (length < 28 || r.u32(body) != kByteOrderMagic)
        return Fail(error, QStringLiteral("not a little-endian pcapng section"));
    c.application = QString::fromUtf8(Option(Options(r, body + 16, end), kShbUserApplication));
    return true;
}

bool ReadInterface(const Reader& r, qsizetype body, qsizetype end, uint32_t length, Capture& c,
                   std::vector<int64_t>& units, QString* error) {
    if (length < 20) return Fail(error, QStringLiteral("an interface block is cut short"));
    if (r.u16(body) != kLinkType)
        return Fail(
            error,
            QStringLiteral("an interface of link type %1, not a serial line's %2").arg(r.u16(body)).arg(kLinkType));
    const auto options = Options(r, body + 8, end);
    c.interfaces.push_back(
        Interface{QString::fromUtf8(Option(options, kIfName)), QString::fromUtf8(Option(options, kIfDescription))});
    units.push_back(Resolution(Option(options, kIfTsResolution)));
    return true;
}
}  // namespace

namespace {
// One block at `at`; false (and why) for one that cannot be read.
bool ReadBlock(const Reader& r, qsizetype at, bool first, Capture& c, std::vector<int64_t>& units, QString* error) {
    const uint32_t type = r.u32(at);
    const uint32_t length = r.u32(at + 4);
    const qsizetype body = at + 8;
    const qsizetype end = at + qsizetype(length) - 4;
    if (first != (type == kSectionHeader))
        return Fail(error, first ? QStringLiteral("not a pcapng capture") : QStringLiteral("more than one section"));
    if (length < 12 || length % 4 != 0 || !r.has(length))
        return Fail(error, QStringLiteral("a block's length is wrong at byte %1").arg(at));
    switch (type) {
    case kSectionHeader: return ReadSection(r, body, end, length, c, error);
    case kInterfaceDescription: return ReadInterface(r, body, end, length, c, units, error);
    case kEnhancedPacket: return ReadPacket(r, body, end, units, c, error);
    default: return true;  // other blocks are skipped
    }
}
}  // namespace

std::optional<Capture> Read(QByteArrayView data, QString* error) {
    Reader r(data);
    Capture c;
    std::vector<int64_t> units;  // per interface
    bool first = true;
    while (r.has(12)) {
        if (!ReadBlock(r, r.at_, first, c, units, error)) return std::nullopt;
        first = false;
        r.at_ += r.u32(r.at_ + 4);
    }
    if (first) {
        Fail(error, QStringLiteral("not a pcapng capture"));
        return std::nullopt;
    }
    if (r.at_ != data.size()) {
        Fail(error, QStringLiteral("the capture ends inside a block"));
        return std::nullopt;
    }
    return c;
}

QString OpenedEvent(const QString& settings) { return QStringLiteral("opened ") + settings; }
QString SettingsEvent(const QString& settings) { return QStringLiteral("settings ") + settings; }

int EventBaud(const QString& comment) {
    for (const QString& prefix : {QStringLiteral("opened "), QStringLiteral("settings ")})
        if (comment.startsWith(prefix)) return comment.mid(prefix.size()).section(u',', 0, 0).toInt();
    return 0;
}

namespace {
const std::array<QString, 10>& Kinds() {
    static const std::array<QString, 10> kinds{QString(),
                                               QStringLiteral("rejected"),
                                               QStringLiteral("accepted"),
                                               QStringLiteral("finished"),
                                               QStringLiteral("lyrics"),
                                               QStringLiteral("stray"),
                                               QStringLiteral("answered"),
                                               QStringLiteral("no answer"),
                                               QStringLiteral("superseded"),
                                               QStringLiteral("port closed")};
    return kinds;
}
uint8_t KindIndex(const QString& kind) {
    const auto& kinds = Kinds();
    for (size_t i = 1; i < kinds.size(); ++i)
        if (kinds[i] == kind) return uint8_t(i);
    return 0;
}
float Latency(std::optional<double> ms) { return ms ? float(std::max(0.0, *ms)) : -1.0F; }
QString LatencyText(const Note& n) {
    return n.latency() ? QStringLiteral(" latency %1 ms").arg(*n.latency(), 0, 'f', 3) : QString();
}
std::optional<double> LatencyOf(const QRegularExpressionMatch& m, int group) {
    if (!m.hasCaptured(group)) return std::nullopt;
    return m.captured(group).toDouble();
}
}  // namespace

QString Note::kindName() const { return kind < Kinds().size() ? Kinds()[kind] : QString(); }

Note FrameNote(uint64_t exchange, int resend) {
    Note n;
    n.type = Note::Type::Frame;
    n.exchange = uint32_t(exchange);
    n.resend = uint16_t(std::clamp(resend, 0, 0xFFFF));
    return n;
}

Note MessageNote(const QString& kind, uint64_t exchange, std::optional<double> latencyMs, bool ended) {
    Note n;
    n.type = Note::Type::Message;
    n.kind = KindIndex(kind);
    n.exchange = uint32_t(exchange);
    n.latencyMs = Latency(latencyMs);
    n.ended = ended;
    return n;
}

Note ClosedNote(uint64_t exchange, const QString& why, std::optional<double> latencyMs, int resends) {
    Note n = FrameNote(exchange, resends);
    n.type = Note::Type::Closed;
    n.kind = KindIndex(why);
    n.latencyMs = Latency(latencyMs);
    return n;
}

QString NoteText(const Note& n) {
    switch (n.type) {
    case Note::Type::None: break;
    case Note::Type::Frame:
        return n.resend > 0 ? QStringLiteral("exchange %1 resend %2").arg(n.exchange).arg(n.resend)
                            : QStringLiteral("exchange %1").arg(n.exchange);
    case Note::Type::Message:
        return QStringLiteral("message %1 exchange %2%3%4")
            .arg(n.kindName())
            .arg(n.exchange)
            .arg(LatencyText(n), n.ended ? QStringLiteral(" ended") : QString());
    case Note::Type::Closed: {
        QString text =
            QStringLiteral("exchange %1 closed: %2; resends %3").arg(n.exchange).arg(n.kindName()).arg(n.resend);
        if (n.latency()) text += u';' + LatencyText(n);
        return text;
    }
    }
    return QString();
}

std::optional<Note> ParseNote(const QString& comment) {
    static const QRegularExpression frame(QStringLiteral(R"(^exchange (\d+)(?: resend (\d+))?$)"));
    static const QRegularExpression message(
        QStringLiteral(R"(^message (\w+) exchange (\d+)(?: latency ([0-9.]+) ms)?( ended)?$)"));
    static const QRegularExpression closed(
        QStringLiteral(R"(^exchange (\d+) closed: ([^;]+); resends (\d+)(?:; latency ([0-9.]+) ms)?$)"));
    if (const auto m = frame.match(comment); m.hasMatch())
        return FrameNote(m.captured(1).toULongLong(), m.captured(2).toInt());
    if (const auto m = message.match(comment); m.hasMatch() && KindIndex(m.captured(1)) != 0)
        return MessageNote(m.captured(1), m.captured(2).toULongLong(), LatencyOf(m, 3), m.hasCaptured(4));
    if (const auto m = closed.match(comment); m.hasMatch() && KindIndex(m.captured(2)) != 0)
        return ClosedNote(m.captured(1).toULongLong(), m.captured(2), LatencyOf(m, 4), m.captured(3).toInt());
    return std::nullopt;
}

namespace {
// Why no one line of `capture` is `name`'s; `all` its interfaces, `carrying` those with packets.
QString NoLine(const QString& name, const QStringList& all, const QStringList& carrying, size_t matches) {
    if (name.isEmpty())
        return QStringLiteral("the capture holds the lines of %1: choose one with --interface NAME")
            .arg(carrying.join(QStringLiteral(", ")));
    if (matches == 0)
        return QStringLiteral("the capture has no interface %1 (it has %2)").arg(name, all.join(QStringLiteral(", ")));
    return QStringLiteral("the capture has %1 interfaces named %2").arg(matches).arg(name);
}

// The packets on each interface.
std::vector<int> PacketCounts(const Capture& capture) {
    std::vector<int> counts(capture.interfaces.size(), 0);
    for (const Packet& p : capture.packets)
        if (p.interface < counts.size()) ++counts[p.interface];
    return counts;
}
}  // namespace

std::optional<Capture> LineOf(const Capture& capture, const QString& name, QString* why) {
    const std::vector<int> counts = PacketCounts(capture);
    QStringList all, carrying;
    std::vector<size_t> matches;
    for (size_t i = 0; i < counts.size(); ++i) {
        const QString& n = capture.interfaces[i].name;
        all << n;
        if (counts[i] > 0) carrying << n;
        if (name.isEmpty() ? counts[i] > 0 : n == name) matches.push_back(i);
    }
    if (name.isEmpty() && matches.empty()) return capture;  // nothing on any line
    if (matches.size() != 1) {
        *why = NoLine(name, all, carrying, matches.size());
        return std::nullopt;
    }
    const size_t chosen = matches.front();
    Capture one;
    one.application = capture.application;
    one.interfaces = {capture.interfaces[chosen]};
    for (const Packet& p : capture.packets) {
        if (p.interface != chosen) continue;
        one.packets.push_back(p);
        one.packets.back().interface = 0;
    }
    return one;
}

}  // namespace vorla::capture
