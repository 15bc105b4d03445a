// SPDX-License-Identifier: MIT
#include "sim/chip_host.h"

namespace vorla::sim {

ChipHost::ChipHost(const ChipOptions& options, QObject* parent) : QObject(parent), core_(options, this), pty_(this) {
    connect(&core_, &ChipCore::note, this, &ChipHost::note);
    connect(&core_, &ChipCore::voiceNotice, this, &ChipHost::voiceNotice);
    connect(&core_, &ChipCore::delivered, &pty_, &PtyEnd::write);
    connect(&pty_, &PtyEnd::received, this, [this](const QByteArray& bytes) {
        const auto [baud, format] = pty_.portLine();
        core_.hear(bytes, baud, format);
    });
}

ChipHost::~ChipHost() { stop(); }

bool ChipHost::start(QString* error) { return pty_.open(error); }

void ChipHost::stop() {
    if (!pty_.isOpen()) return;
    pty_.close();
    core_.switchOff();
    emit note(QStringLiteral("chip switched off"));
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
