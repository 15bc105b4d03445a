// SPDX-License-Identifier: MIT
// vorla-station: the test station's window, a tile a slot.
#include <cstdio>
#include <memory>
#include <vector>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "app/station_options.h"
#include "app/station_run.h"
#include "protocol/text_encoding.h"
#include "sim/chip_host.h"
#include "ui/station_window.h"

using namespace vorla;

namespace {
constexpr int kUsageStatus = 2;
constexpr int kStationStatus = 3;

QString Usage() {
    return QStringLiteral(
               "Usage: vorla-station [--slot NAME=DEVICE[,DUT] ... | --station FILE.json | --simulate N]\n"
               "                     [OPTIONS]\n"
               "\n"
               "The test station's window: several Vorla speech-synthesis chips tested at\n"
               "once, a tile a slot with its device, a field for the DUT (a scanner's input;\n"
               "Enter starts that slot), the step under way, progress and the verdict as a\n"
               "large coloured word (passed, failed, error, unfinished) that stays until\n"
               "the next DUT starts. A button starts every slot at once; a tile opens its\n"
               "slot's table and timeline. Every option of a vorla-selftest run holds for\n"
               "each slot (vorla-selftest --help lists them); --report FILE is the\n"
               "station's report, written whenever a slot finishes. Without slots it asks\n"
               "for a station file.\n"
               "\n"
               "Exit status: 0 on closing the window, 2 wrong usage, 3 a slot's device\n"
               "missing or not opened.\n") +
           StationUsage();
}

// Answers --help, --version and a wrong command line; -1 to go on.
int Answered(const StationCommandLine& c, bool shown = false) {
    if (c.run.help) {
        std::fputs(qPrintable(Usage()), stdout);
        return 0;
    }
    if (c.run.version) {
        std::puts("vorla-station " VORLA_VERSION);
        return 0;
    }
    if (c.error.isEmpty()) return -1;
    std::fprintf(stderr, "vorla-station: %s\n(vorla-station --help lists the options)\n", qPrintable(c.error));
    if (shown) QMessageBox::critical(nullptr, QStringLiteral("测试台"), c.error);
    return kUsageStatus;
}
}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    StationCommandLine c = ParseStationCommandLine(arguments);
    // No slots on the command line: a station file, chosen once the window system is up.
    const bool choose = !IsStationCommandLine(arguments) && !c.run.help && !c.run.version;
    if (const int status = choose ? -1 : Answered(c); status >= 0) return status;
    QApplication app(argc, argv);
    if (choose) {
        const QString file = QFileDialog::getOpenFileName(nullptr, QStringLiteral("打开测试台文件"), QString(),
                                                          QStringLiteral("测试台文件 (*.json)"));
        if (file.isEmpty()) return 0;
        c = ParseStationCommandLine(arguments + QStringList{QStringLiteral("--station"), file});
        if (const int status = Answered(c, true); status >= 0) return status;
    }
    QApplication::setApplicationVersion(QStringLiteral(VORLA_VERSION));
    if (!GbkAvailable()) {
        std::fprintf(stderr, "vorla-station: the GBK (code page 936) converter is not available\n");
        return kStationStatus;
    }
    c.run.run.info.version = QStringLiteral(VORLA_VERSION);
    // The chips first: they outlive the station that talks to them.
    std::vector<std::unique_ptr<sim::ChipThread>> chips;
    QString why;
    if (c.simulate > 0 && !StartVirtualChips(c, chips, &why)) {
        std::fprintf(stderr, "vorla-station: %s\n", qPrintable(why));
        return kStationStatus;
    }
    QtClock clock;
    auto station = std::make_unique<Station>(clock);
    if (!station->open(c.station, c.run.run, &why)) {
        std::fprintf(stderr, "vorla-station: %s\n", qPrintable(why));
        return kStationStatus;
    }
    station->setPlaysInTurn(c.playsInTurn);
    StationWindow window(std::move(station));
    if (!c.run.reportPaths.isEmpty()) {
        // The station's report, where the command line says (the first --report).
        window.setSavePathSource([path = c.run.reportPaths.front()](const QString&) { return path; });
        QObject::connect(&window.station(), &Station::slotFinished, &window, &StationWindow::saveReport);
    }
    window.resize(900, 600);
    window.show();
    return QApplication::exec();
}
