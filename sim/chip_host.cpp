// SPDX-License-Identifier: MIT
#include "sim/chip_host.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vorla::sim {

ChipHost::ChipHost(const ChipOptions& options, QObject* parent) : QObject(parent), core_(options, this), retry_(this) {
    connect(&core_, &ChipCore::note, this, &ChipHost::note);
    connect(&core_, &ChipCore::voiceNotice, this, &ChipHost::voiceNotice);
    connect(&core_, &ChipCore::delivered, this, &ChipHost::write);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { write({}); });
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
        if (error)
            *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        master_ = slave_ = -1;
        return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = QString::fromLocal8Bit(name);
    readable_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &ChipHost::onReadable);
    return true;
}

void ChipHost::stop() {
    if (master_ < 0) return;
    delete readable_;
    readable_ = nullptr;
    retry_.stop();
    ::close(master_);
    ::close(slave_);
    master_ = slave_ = -1;
    unwritten_.clear();
    core_.switchOff();
    emit note(QStringLiteral("chip switched off"));
}

std::pair<int, bool> ChipHost::portLine() const {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return {0, false};
    static const std::pair<int, speed_t> rates[] = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}};
    int baud = 0;
    for (const auto& [rate, code] : rates)
        if (cfgetospeed(&tio) == code) baud = rate;
    const bool format = (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
    return {baud, format};
}

void ChipHost::onReadable() {
    char buffer[512];
    QByteArray heard;
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        heard.append(buffer, n);
    }
    if (heard.isEmpty()) return;
    const auto [baud, format] = portLine();
    core_.hear(heard, baud, format);
}

void ChipHost::write(const QByteArray& bytes) {
    if (master_ < 0) return;
    unwritten_ += bytes;
    while (!unwritten_.isEmpty()) {
        const ssize_t n = ::write(master_, unwritten_.constData(), size_t(unwritten_.size()));
        if (n <= 0) break;  // the pseudo-terminal is full: try again shortly
        unwritten_.remove(0, qsizetype(n));
    }
    if (!unwritten_.isEmpty()) retry_.start(1);
}

ChipThread::ChipThread(const ChipOptions& options) : host_(new ChipHost(options)) {
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
    QMetaObject::invokeMethod(
        host_, [this, &f] { f(*host_); }, Qt::BlockingQueuedConnection);
}

}  // namespace vorla::sim
