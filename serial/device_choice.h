// SPDX-License-Identifier: MIT
// Choosing the device behind COM1 and COM2: the serial devices present, how
// they are named in a menu, and the choice remembered across starts.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "serial/serial_control.h"

class QSettings;

namespace vorla {

struct SerialDeviceInfo {
    QString path;  // what the port opens, e.g. /dev/ttyUSB0
    QString description;
    QString manufacturer;
    int vendorId = -1;  // USB IDs, -1 when unknown
    int productId = -1;
};

// The serial devices the system has now.
std::vector<SerialDeviceInfo> PresentSerialDevices();

// "/dev/ttyUSB0 (CP2102 USB to UART, Silicon Labs, USB 10C4:EA60)"; the
// path alone when nothing more is known.
QString DeviceMenuText(const SerialDeviceInfo& device);

// The option button's tooltip: the port, its device, and how to change it.
QString PortToolTip(int16_t port, const QString& device, bool choosable);

// The device remembered for a port, empty when none.
QString RememberedDevice(const QSettings& settings, int16_t port);
void RememberDevice(QSettings& settings, int16_t port, const QString& device);
// The devices a run opens: those the command line named, the remembered
// ones for the other ports.
PortMap WithRememberedDevices(PortMap commandLine, const QSettings& settings);

}  // namespace vorla
