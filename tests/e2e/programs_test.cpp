// SPDX-License-Identifier: MIT
// The two programs' command lines, run as a user would from a shell with no
// display.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

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

}  // namespace

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
