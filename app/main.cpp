// SPDX-License-Identifier: MIT
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QMessageBox>

#include "app/options.h"
#include "link/event_pump.h"
#include "link/qt_serial_control.h"
#include "protocol/text_encoding.h"
#include "sim/chip_host.h"
#include "ui/frm_7711.h"

int main(int argc, char** argv) {
    // The command line is read before the window system is touched, so that
    // --help and a wrong option answer anywhere, without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const vorla::ProgramOptions options = vorla::ParseProgramOptions(arguments);
    if (options.help) {
        std::fputs(qPrintable(vorla::UsageText()), stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "vorla-demo: %s\n\n%s", qPrintable(options.error), qPrintable(vorla::UsageText()));
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Without the GBK converter every text frame would carry wrong bytes.
    if (!vorla::GbkAvailable()) {
        const QString text = QStringLiteral("本机的GBK编码转换不可用，程序无法发送正确的文本帧，即将退出。");
        std::fprintf(stderr, "vorla-demo: the GBK (code page 936) converter is not available\n");
        QMessageBox::critical(nullptr, QStringLiteral("vorla-demo"), text);
        return 1;
    }
    vorla::ProgramOptions ports = options;
    std::unique_ptr<vorla::sim::ChipThread> chip;
    if (options.simulate) {
        vorla::sim::ChipOptions chipOptions;
        chipOptions.line = options.line;
        chip = std::make_unique<vorla::sim::ChipThread>(chipOptions);
        QString error;
        if (!chip->start(&error)) {
            std::fprintf(stderr, "vorla-demo: cannot start the virtual chip: %s\n", qPrintable(error));
            return 1;
        }
        ports.ports.setDevice(1, chip->devicePath());
        QObject::connect(&chip->host(), &vorla::sim::ChipHost::note, &app, [](const QString& line) {
            std::printf("virtual chip: %s\n", qPrintable(line));
            std::fflush(stdout);
        });
    }
    vorla::QtSerialControl port(ports.ports);
    vorla::QtEventPump pump(&port);
    frm_7711 window(port, pump);
    if (options.simulate)
        window.setWindowTitle(window.windowTitle() + QStringLiteral("   【虚拟芯片 %1】").arg(chip->devicePath()));
    window.show();
    return app.exec();
}
