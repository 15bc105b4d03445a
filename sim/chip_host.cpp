#include "sim/chip_host.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vorla::sim {

ChipHost::ChipHost(ChipOptions options, QObject* parent) : QObject(parent), model_(options) { clock_.start(); }

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
    queue_.clear();
    chunkSent_ = 0;
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
    for (ChipModel::Output& out : model_.takeOutput()) queue_.push_back(std::move(out));
    sendDue();
    const double next = model_.nextDeadline();
    if (tick_ && next != ChipModel::kNever)
        tick_->start(std::max(0, int(std::ceil((next - now()) * 1000.0))));
}

void ChipHost::sendRaw(const QByteArray& bytes) {
    queue_.push_back(ChipModel::Output{bytes, 0});
    sendDue();
}

void ChipHost::injectNoise(int count) {
    model_.sendNoise(count);
    runModel();
}

// Writes what is due at the chip's rate, ten bits a byte. The queue is one
// stream on the line: when the line was idle, the first bytes (a reply and
// what follows it, up to 32 bytes) go out together, as back-to-back bytes from
// a UART arrive; after that the line is kept a few bytes ahead of its rate,
// so that a late timer on this thread does not leave a gap in the stream.
void ChipHost::sendDue() {
    if (master_ < 0) return;
    // Enough that a reply followed by lyrics arrives as more than ten
    // characters (Chinese characters take two bytes each).
    constexpr qsizetype kIdleBurst = 32;
    while (!queue_.empty()) {
        ChipModel::Output& chunk = queue_.front();
        const double byteTime = 10.0 / model_.baud();
        const double lead = std::max(3 * byteTime, 0.008);
        const double t = now();
        if (chunkSent_ < chunk.bytes.size()) {
            if (lineFree_ <= t) {
                lineFree_ = t;
                burstLeft_ = kIdleBurst;
            }
            const qsizetype paced = qsizetype((t + lead - lineFree_) / byteTime);
            const qsizetype count = std::min(std::max(paced, burstLeft_), chunk.bytes.size() - chunkSent_);
            if (count > 0) {
                const ssize_t n = ::write(master_, chunk.bytes.constData() + chunkSent_, size_t(count));
                if (n > 0) {
                    chunkSent_ += n;
                    lineFree_ += double(n) * byteTime;
                    burstLeft_ = std::max<qsizetype>(0, burstLeft_ - n);
                }
            }
            if (chunkSent_ < chunk.bytes.size()) {
                pace_->start(std::max(1, int(std::ceil((lineFree_ - lead - t) * 1000.0))));
                return;
            }
        }
        // A switch of rate waits until the chunk's last byte has left.
        if (chunk.switchToBaud) {
            if (lineFree_ > t) {
                pace_->start(std::max(1, int(std::ceil((lineFree_ - t) * 1000.0))));
                return;
            }
            model_.setBaud(chunk.switchToBaud);
            emit note(QStringLiteral("now at %1 baud").arg(chunk.switchToBaud));
        }
        queue_.pop_front();
        chunkSent_ = 0;
    }
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
