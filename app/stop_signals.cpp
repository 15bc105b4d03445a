// SPDX-License-Identifier: MIT
#include "app/stop_signals.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>

namespace vorla {

namespace {
int signalSockets[2] = {-1, -1};  // written by the handler, read by the notifier

void WriteSignal(int signal) {
    const int saved = errno;
    const char c = char(signal);
    // The writing end does not block: with its buffer full the signal is
    // dropped, while one already waiting is still to be read.
    [[maybe_unused]] const auto n = ::write(signalSockets[1], &c, 1);
    errno = saved;
}
}  // namespace

bool OnStopSignals(QObject* context, std::function<void(int signal)> act) {
    if (signalSockets[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0) return false;
    for (const int fd : signalSockets) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(signalSockets[1], F_SETFL, ::fcntl(signalSockets[1], F_GETFL) | O_NONBLOCK);
    auto* notifier = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [act = std::move(act)] {
        char c = 0;
        if (::read(signalSockets[0], &c, 1) == 1) act(int(c));
    });
    struct sigaction action = {};
    action.sa_handler = WriteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
    return true;
}

}  // namespace vorla
