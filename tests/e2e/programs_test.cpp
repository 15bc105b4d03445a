// SPDX-License-Identifier: MIT
// The two programs' command lines, run as a user would from a shell with no
// display.
#include <gtest/gtest.h>

#include <csignal>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include "protocol/capture.h"
#include "support/svg_picture.h"
#include "ui/line_timeline.h"

namespace {

struct Finished {
    int exitCode = -1;
    QString out, err;
};

Finished Start(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000)) p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

// Whether the process has a handler of its own for the signal, as its
// status in /proc says (the mask of caught signals, in hexadecimal).
bool Catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:")) continue;
        bool ok = false;
        const qulonglong caught = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (caught >> (signal - 1) & 1U) != 0;
    }
    return false;
}

}  // namespace

// Ctrl-C in its terminal, or the termination request of a desktop logging
// out, closes the window as its close button does: the capture is written.
TEST(Programs, DemoEndedByASignalWritesItsCapture) {
    if (!QFile::exists(QStringLiteral("/proc/self/status"))) GTEST_SKIP() << "no /proc to tell when it is ready";
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("line.pcapng"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());  // its settings stay here
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VORLA_DEMO_PATH),
                {QStringLiteral("--simulate"), QStringLiteral("--mute"), QStringLiteral("--capture"), path});
        ASSERT_TRUE(p.waitForStarted());
        const QDeadlineTimer ready(10000);
        while (!Catches(p.processId(), signal) && !ready.hasExpired()) QThread::msleep(10);
        EXPECT_TRUE(Catches(p.processId(), signal)) << "the signal is not handled";
        ::kill(pid_t(p.processId()), signal);
        if (!p.waitForFinished(10000)) p.kill();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "no capture";
        QString error;
        const auto read = capture::Read(file.readAll(), &error);
        ASSERT_TRUE(read.has_value()) << error.toStdString();
        EXPECT_TRUE(read->application.startsWith(QStringLiteral("vorla ")));
        ASSERT_EQ(read->interfaces.size(), 2u);
        EXPECT_EQ(read->interfaces[0].name, QStringLiteral("COM1"));
    }
}

TEST(Programs, HelpAndWrongOptionsWithoutADisplay) {
    QTemporaryDir dir;
    const QString badLimits = dir.filePath(QStringLiteral("limits.json"));
    QFile file(badLimits);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"latencyMs": {"9600": {"marginal": 300}}})");
    file.close();
    struct Case {
        const char* program;
        QStringList args;
        int exitCode;
        const char* says;  // in the output (stdout for 0, stderr otherwise)
    };
    const Case cases[] = {
        {VORLA_DEMO_PATH, {QStringLiteral("--help")}, 0, "Usage: vorla-demo"},
        {VORLA_DEMO_PATH, {QStringLiteral("--version")}, 0, "vorla-demo 1."},
        {VORLA_DEMO_PATH, {QStringLiteral("--bogus")}, 2, "Unknown option 'bogus'."},
        {VORLA_DEMO_PATH, {QStringLiteral("--com1")}, 2, "Missing value after '--com1'."},
        {VORLA_DEMO_PATH,
         {QStringLiteral("--line"), QStringLiteral("usb")},
         2,
         "--line, --mute and --record go with --simulate"},
        {VORLA_DEMO_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--record")},
         2,
         "Missing value after '--record'."},
        {VORLA_CHIPSIM_PATH, {QStringLiteral("--help")}, 0, "Usage: vorla-chipsim"},
        {VORLA_CHIPSIM_PATH, {QStringLiteral("--version")}, 0, "vorla-chipsim 1."},
        {VORLA_CHIPSIM_PATH, {QStringLiteral("--speed")}, 2, "Missing value after '--speed'."},
        {VORLA_CHIPSIM_PATH, {QStringLiteral("--line"), QStringLiteral("modem")}, 2, "bad value for --line"},
        {VORLA_CHIPSIM_PATH, {QStringLiteral("--baud"), QStringLiteral("300")}, 2, "bad value for --baud: 300"},
        {VORLA_SELFTEST_PATH, {QStringLiteral("--help")}, 0, "Usage: vorla-selftest"},
        {VORLA_SELFTEST_PATH, {QStringLiteral("--help")}, 0, "4  incomplete"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--limits"), badLimits},
         2,
         "marginal (300) must be below fail (253)"},
        {VORLA_SELFTEST_PATH, {QStringLiteral("--version")}, 0, "vorla-selftest 1."},
        {VORLA_SELFTEST_PATH, {}, 2, "give either --device PATH or --simulate"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--only"), QStringLiteral("radio")},
         2,
         "bad value for --only: radio"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--device"), QStringLiteral("/dev/null"), QStringLiteral("--speed"), QStringLiteral("2")},
         2,
         "the virtual chip's options go with --simulate"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--limits"), QStringLiteral("/nonexistent/limits.json")},
         2,
         "cannot read the limits /nonexistent/limits.json"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--silent-to"), QStringLiteral("radio")},
         2,
         "bad value for --silent-to: radio"},
        // The station fails before the chip is tested: exit 3.
        {VORLA_SELFTEST_PATH, {QStringLiteral("--device"), QStringLiteral("/nonexistent/ttyUSB9")}, 3, "打开失败"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--report"), QStringLiteral("/nonexistent/report.json")},
         3,
         "cannot write /nonexistent/report.json"},
        {VORLA_SELFTEST_PATH,
         {QStringLiteral("--simulate"), QStringLiteral("--only"), QStringLiteral("link"), QStringLiteral("--timeline"),
          QStringLiteral("/nonexistent/run.svg")},
         3,
         "the timeline /nonexistent/run.svg cannot be written"},
        {VORLA_STATION_PATH, {QStringLiteral("--help")}, 0, "Usage: vorla-station"},
        {VORLA_STATION_PATH, {QStringLiteral("--version")}, 0, "vorla-station 1."},
        {VORLA_STATION_PATH, {QStringLiteral("--simulate"), QStringLiteral("0")}, 2, "1 to 64 virtual chips"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromLatin1(c.program).section(u'/', -1).toStdString() + " " +
                     c.args.join(u' ').toStdString());
        const Finished r = Start(QString::fromLocal8Bit(c.program), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        const QString& text = c.exitCode == 0 ? r.out : r.err;
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(u'\n'));
    }
}

// The run's picture for CI to keep beside the reports, drawn without a
// display: an SVG of bounded size that a viewer opens.
TEST(Programs, SelfTestDrawsItsTimelineWithoutADisplay) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.svg"));
    const Finished r = Start(QString::fromLocal8Bit(VORLA_SELFTEST_PATH),
                             {QStringLiteral("--simulate"), QStringLiteral("--only"), QStringLiteral("link"),
                              QStringLiteral("--timeline"), path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("timeline: ") + path)) << r.err.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray svg = file.readAll();
    const vorla::test::SvgSize size = vorla::test::SizeOfSvg(svg);
    EXPECT_GT(size.pixels.width(), 1000);  // a short run as wide as a screen
    EXPECT_LE(qRound(size.pixels.width()), vorla::kSvgMaxWidth);
    EXPECT_GT(size.pixels.height(), 100);
    EXPECT_LE(qRound(size.pixels.height()), 400);  // one row
    EXPECT_EQ(size.viewBox.width(), qRound(size.pixels.width()));
    EXPECT_TRUE(svg.contains("<text")) << "drawn with its words";
    if (const auto rendered = vorla::test::RenderSvg(path)) {
        EXPECT_EQ(*rendered, QString());
    }
}
