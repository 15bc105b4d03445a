// SPDX-License-Identifier: MIT
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

#include "app/options.h"
#include "app/simulated_port.h"
#include "app/stop_signals.h"
#ifdef VORLA_VOICE
#include "sim/chip_voice.h"
#endif
#include "protocol/text_encoding.h"
#include "serial/clock.h"
#include "serial/device_choice.h"
#include "serial/qt_serial_control.h"
#include "ui/frm_7711.h"
#include "ui/widget_helpers.h"

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
    if (options.version) {
        std::puts("vorla-demo " VORLA_VERSION);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "vorla-demo: %s\n\n%s", qPrintable(options.error), qPrintable(vorla::UsageText()));
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("vorla"));
    QApplication::setApplicationName(QStringLiteral("vorla-demo"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Qt's own texts in the window's language.
    if (!InstallChineseQtTexts(app))
        std::fprintf(stderr, "vorla-demo: Qt's Chinese translations are missing (qt6-translations-l10n)\n");
    // Without the GBK converter every text frame would carry wrong bytes.
    if (!vorla::GbkAvailable()) {
        const QString text = QStringLiteral("本机的GBK编码转换不可用，程序无法发送正确的文本帧，即将退出。");
        std::fprintf(stderr, "vorla-demo: the GBK (code page 936) converter is not available\n");
        QMessageBox::critical(nullptr, QStringLiteral("vorla-demo"), text);
        return 1;
    }
    // With --simulate the window talks to the virtual chip inside the
    // program; otherwise to the serial devices of COM1 and COM2.
    QSettings settings;  // ~/.config/vorla/vorla-demo.conf
    vorla::QtClock clock;
    std::unique_ptr<vorla::SerialControl> port;
    if (options.simulate) {
        vorla::sim::ChipOptions chipOptions = options.chip;
#ifdef VORLA_VOICE
        vorla::sim::WithVoice(chipOptions);  // the chip speaks; its plays last as long as their audio
#endif
        auto simulated = std::make_unique<vorla::SimulatedPort>(clock, chipOptions);
        QObject::connect(&simulated->chip(), &vorla::sim::ChipCore::note, &app, [](const QString& line) {
            std::printf("virtual chip: %s\n", qPrintable(line));
            std::fflush(stdout);
        });
        port = std::move(simulated);
    } else {
        // The devices chosen in the window last time, unless the command
        // line names others for this run.
        port = std::make_unique<vorla::QtSerialControl>(vorla::WithRememberedDevices(options.ports, settings), clock);
    }
    vorla::ChipConversation conversation(*port);
    conversation.setDeviceMemory(&settings);
    frm_7711 window(conversation);
    if (auto* simulated = dynamic_cast<vorla::SimulatedPort*>(port.get())) {
        QObject::connect(&simulated->chip(), &vorla::sim::ChipCore::voiceNotice, &conversation,
                         [&conversation](const QString& line) {
                             conversation.appendNote(QStringLiteral("虚拟芯片：%1").arg(line));
                         });
    }
    if (options.simulate)
        window.setWindowTitle(
            window.windowTitle() +
            QStringLiteral("   【虚拟芯片 %1线路】").arg(vorla::sim::LineKindName(options.chip.line)));
    window.show();
    // Ctrl+C in its terminal and a termination request (a desktop logging
    // out) close the window as its close button does: the capture is
    // written and the settings kept.
    vorla::OnStopSignals(&window, [&window](int) { window.close(); });
    const int status = app.exec();
    QString error;
    if (!options.capturePath.isEmpty() && !conversation.writeCapture(options.capturePath, &error)) {
        std::fprintf(stderr, "vorla-demo: the capture %s: %s\n", qPrintable(options.capturePath), qPrintable(error));
        return status == 0 ? 1 : status;
    }
    return status;
}
