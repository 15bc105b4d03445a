// SPDX-License-Identifier: MIT
#include "serial/device_choice.h"

#include <QSerialPortInfo>
#include <QSettings>
#include <QStringList>

namespace vorla {

namespace {
QString SettingsKey(int16_t port) { return QStringLiteral("devices/COM%1").arg(port); }
}  // namespace

std::vector<SerialDeviceInfo> PresentSerialDevices() {
    std::vector<SerialDeviceInfo> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDeviceInfo device{info.systemLocation(), info.description(), info.manufacturer()};
        if (info.hasVendorIdentifier()) device.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) device.productId = info.productIdentifier();
        devices.push_back(device);
    }
    return devices;
}

QString DeviceMenuText(const SerialDeviceInfo& device) {
    QStringList known;
    for (const QString& part : {device.description, device.manufacturer})
        if (!part.trimmed().isEmpty() && !known.contains(part.trimmed())) known << part.trimmed();
    if (device.vendorId >= 0 && device.productId >= 0) {
        const auto hex4 = [](int id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper(); };
        known << QStringLiteral("USB %1:%2").arg(hex4(device.vendorId), hex4(device.productId));
    }
    if (known.isEmpty()) return device.path;
    return QStringLiteral("%1 (%2)").arg(device.path, known.join(QStringLiteral(", ")));
}

QString PortToolTip(int16_t port, const QString& device, bool choosable) {
    const QString head = QStringLiteral("COM%1：%2").arg(port).arg(device);
    return choosable ? head + QStringLiteral("\n右键单击可选择设备") : head;
}

QString RememberedDevice(const QSettings& settings, int16_t port) {
    return settings.value(SettingsKey(port)).toString();
}

void RememberDevice(QSettings& settings, int16_t port, const QString& device) {
    settings.setValue(SettingsKey(port), device);
    settings.sync();
}

PortMap WithRememberedDevices(PortMap commandLine, const QSettings& settings) {
    for (int16_t port : {int16_t(1), int16_t(2)}) {
        const QString remembered = RememberedDevice(settings, port);
        if (!commandLine.chosen(port) && !remembered.isEmpty()) commandLine.setDevice(port, remembered);
    }
    return commandLine;
}

}  // namespace vorla
