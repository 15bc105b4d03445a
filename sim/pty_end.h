// SPDX-License-Identifier: MIT
// The master side of a pseudo-terminal: what a program writes to the slave
// side (its serial port) is read here, and what is written here it reads.
#pragma once

#include <utility>

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace vorla::sim {

class PtyEnd : public QObject {
    Q_OBJECT
public:
    explicit PtyEnd(QObject* parent = nullptr);
    ~PtyEnd() override;

    // Creates the pseudo-terminal; false with a reason when it cannot.
    bool open(QString* error = nullptr);
    // Closes it: to the port on the other side the device has vanished.
    void close();
    bool isOpen() const { return master_ >= 0; }
    QString devicePath() const { return path_; }
    // Bytes for the port; kept and retried while the pseudo-terminal is full.
    void write(const QByteArray& bytes);
    // The port's rate, and whether it is 8 data bits, no parity, 1 stop bit.
    std::pair<int, bool> portLine() const;

signals:
    // Bytes the port wrote.
    void received(const QByteArray& bytes);

private:
    void onReadable();

    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees a hang-up
    QString path_;
    QSocketNotifier* readable_ = nullptr;
    QTimer retry_;          // the pseudo-terminal was full
    QByteArray unwritten_;  // not yet taken by the pseudo-terminal
};

}  // namespace vorla::sim
