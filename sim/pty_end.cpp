// SPDX-License-Identifier: MIT
#include "sim/pty_end.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vorla::sim {

PtyEnd::PtyEnd(QObject* parent) : QObject(parent), retry_(this) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { write({}); });
}

PtyEnd::~PtyEnd() { close(); }

bool PtyEnd::open(QString* error) {
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
    connect(readable_, &QSocketNotifier::activated, this, &PtyEnd::onReadable);
    return true;
}

void PtyEnd::close() {
    if (master_ < 0) return;
    delete readable_;
    readable_ = nullptr;
    retry_.stop();
    ::close(master_);
    ::close(slave_);
    master_ = slave_ = -1;
    unwritten_.clear();
}

std::pair<int, bool> PtyEnd::portLine() const {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return {0, false};
    static const std::pair<int, speed_t> rates[] = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}};
    int baud = 0;
    for (const auto& [rate, code] : rates)
        if (cfgetospeed(&tio) == code) baud = rate;
    const bool format = (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
    return {baud, format};
}

void PtyEnd::onReadable() {
    char buffer[512];
    QByteArray heard;
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        heard.append(buffer, n);
    }
    if (!heard.isEmpty()) emit received(heard);
}

void PtyEnd::write(const QByteArray& bytes) {
    if (master_ < 0) return;
    unwritten_ += bytes;
    while (!unwritten_.isEmpty()) {
        const ssize_t n = ::write(master_, unwritten_.constData(), size_t(unwritten_.size()));
        if (n <= 0) break;  // the pseudo-terminal is full: try again shortly
        unwritten_.remove(0, qsizetype(n));
    }
    if (!unwritten_.isEmpty()) retry_.start(1);
}

}  // namespace vorla::sim
