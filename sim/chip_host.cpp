// SPDX-License-Identifier: MIT
#include "sim/chip_host.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vorla::sim {

ChipHost::ChipHost(ChipOptions options, QObject* parent)
    : QObject(parent), model_(options), line_(options.line) {
    clock_.start();
    lineBaud_ = model_.baud();
}

ChipHost::~ChipHost() { stop(); }

bool ChipHost::start(QString* error) {
    if (master_ >= 0) return true;
    char name[256] = {};
    termios tio{};
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B1200);
    cfsetospeed(&tio, B1200);
    if (openpty(&master_, &slave_, name, &tio, nullptr) != 0) {
        if (error) *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        master_ = slave_ = -1;
        return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = QString::fromLocal8Bit(name);
    readable_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &ChipHost::onReadable);
    tick_ = new QTimer(this);
    tick_->setSingleShot(true);
    tick_->setTimerType(Qt::PreciseTimer);
    connect(tick_, &QTimer::timeout, this, &ChipHost::onTick);
    pace_ = new QTimer(this);
    pace_->setSingleShot(true);
    pace_->setTimerType(Qt::PreciseTimer);
    connect(pace_, &QTimer::timeout, this, &ChipHost::sendDue);
    return true;
}

void ChipHost::stop() {
    if (master_ < 0) return;
    delete readable_;
    delete tick_;
    delete pace_;
    readable_ = nullptr;
    tick_ = pace_ = nullptr;
    ::close(master_);
    ::close(slave_);
    master_ = slave_ = -1;
    line_.clear();
    switches_.clear();
    unwritten_.clear();
    lineBaud_ = model_.baud();
    emit note(QStringLiteral("chip switched off"));
}

bool ChipHost::lineMatches(QString* what) const {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return false;
    static const std::pair<int, speed_t> rates[] = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}};
    speed_t want = B1200;
    for (const auto& [rate, code] : rates)
        if (rate == model_.baud()) want = code;
    const bool ok = cfgetospeed(&tio) == want && (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB) &&
                    !(tio.c_cflag & CSTOPB);
    if (!ok && what) *what = QStringLiteral("the port's line settings differ from the chip's %1,N,8,1").arg(model_.baud());
    return ok;
}

void ChipHost::onReadable() {
    char buffer[512];
    QByteArray heard;
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            heard.append(buffer, n);
            continue;
        }
        break;
    }
    if (heard.isEmpty()) return;
    QString why;
    if (!lineMatches(&why)) {
        // At the wrong rate or format the chip hears only noise.
        if (!noiseReported_) emit note(QStringLiteral("noise (%1)").arg(why));
        noiseReported_ = true;
        return;
    }
    noiseReported_ = false;
    model_.hear(heard, now());
    runModel();
}

void ChipHost::onTick() {
    model_.advance(now());
    runModel();
}

void ChipHost::runModel() {
    counters_.framesHeard = model_.framesHeard();
    counters_.accepted = model_.repliesSent().accepted;
    counters_.rejected = model_.repliesSent().rejected;
    counters_.finished = model_.repliesSent().finished;
    counters_.playing = model_.playing();
    for (const QString& line : model_.takeNotes()) emit note(line);
    for (const ChipModel::Output& out : model_.takeOutput()) putOnLine(out);
    sendDue();
    const double next = model_.nextDeadline();
    if (tick_ && next != ChipModel::kNever)
        tick_->start(std::max(0, int(std::ceil((next - now()) * 1000.0))));
}

void ChipHost::sendRaw(const QByteArray& bytes) {
    putOnLine(ChipModel::Output{bytes, 0});
    sendDue();
}

void ChipHost::putOnLine(const ChipModel::Output& out) {
    const double done = line_.send(out.bytes, lineBaud_, now());
    // A switch of rate waits until the last byte before it has left.
    if (out.switchToBaud) {
        switches_.emplace_back(done, out.switchToBaud);
        lineBaud_ = out.switchToBaud;
    }
}

void ChipHost::injectNoise(int count) {
    model_.sendNoise(count);
    runModel();
}

// Hands the reader what the line has delivered by now, switches the chip's
// rate where a switch is due, and comes back at the next delivery.
void ChipHost::sendDue() {
    if (master_ < 0) return;
    const double t = now();
    unwritten_ += line_.deliver(t);
    while (!unwritten_.isEmpty()) {
        const ssize_t n = ::write(master_, unwritten_.constData(), size_t(unwritten_.size()));
        if (n <= 0) break;  // the pseudo-terminal is full: try again shortly
        unwritten_.remove(0, qsizetype(n));
    }
    while (!switches_.empty() && switches_.front().first <= t) {
        model_.setBaud(switches_.front().second);
        emit note(QStringLiteral("now at %1 baud").arg(switches_.front().second));
        switches_.pop_front();
    }
    double next = line_.nextDelivery();
    if (!switches_.empty()) next = std::min(next, switches_.front().first);
    if (!unwritten_.isEmpty()) next = std::min(next, t + 0.001);
    if (next != LineModel::kNever) pace_->start(std::max(0, int(std::ceil((next - now()) * 1000.0))));
}

ChipThread::ChipThread(ChipOptions options) : host_(new ChipHost(options)) {
    host_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, host_, &QObject::deleteLater);
    thread_.setObjectName(QStringLiteral("virtual chip"));
    thread_.start();
}

ChipThread::~ChipThread() {
    run([](ChipHost& h) { h.stop(); });
    thread_.quit();
    thread_.wait();
}

bool ChipThread::start(QString* error) {
    bool ok = false;
    run([&](ChipHost& h) { ok = h.start(error); });
    return ok;
}

void ChipThread::stop() {
    run([](ChipHost& h) { h.stop(); });
}

void ChipThread::run(const std::function<void(ChipHost&)>& f) {
    QMetaObject::invokeMethod(host_, [this, &f] { f(*host_); }, Qt::BlockingQueuedConnection);
}

}  // namespace vorla::sim
