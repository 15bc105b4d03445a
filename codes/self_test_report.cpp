// SPDX-License-Identifier: MIT
#include "codes/self_test_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamWriter>

namespace vorla {

namespace {
using Verdict = SelfTestResult::Verdict;

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QString StepOutput(const SelfTestStep& step, const SelfTestResult& r) {
    QStringList lines;
    lines << QStringLiteral("frame: %1").arg(Hex(r.frame)) << QStringLiteral("in words: %1").arg(r.words)
          << QStringLiteral("reply: %1").arg(r.reply.isEmpty() ? QStringLiteral("none") : r.reply)
          << QStringLiteral("resends: %1").arg(r.resends);
    if (r.latencyMs >= 0) lines << QStringLiteral("latency: %1 ms").arg(r.latencyMs, 0, 'f', 1);
    if (r.playSeconds >= 0) lines << QStringLiteral("play time: %1 s").arg(r.playSeconds, 0, 'f', 2);
    if (!r.lyrics.isEmpty()) lines << QStringLiteral("lyrics: %1").arg(r.lyrics);
    if (!r.message.isEmpty()) lines << QStringLiteral("note: %1").arg(r.message);
    lines << QStringLiteral("group: %1").arg(step.group);
    return lines.join(u'\n');
}

double StepSeconds(const SelfTestResult& r) {
    const double end = r.finishedAt >= 0 ? r.finishedAt : r.acceptedAt;
    return r.sentAt >= 0 && end >= r.sentAt ? end - r.sentAt : 0.0;
}
}  // namespace

QByteArray JUnitReport(const SelfTestReport& report) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("vorla self-test %1").arg(report.options.dut));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(report.steps.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(report.count(Verdict::Fail)));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(report.count(Verdict::NotRun)));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), QString::number(report.seconds, 'f', 3));
    xml.writeAttribute(QStringLiteral("timestamp"), report.started.toString(Qt::ISODate));
    xml.writeStartElement(QStringLiteral("properties"));
    const std::pair<const char*, QString> properties[] = {
        {"dut", report.options.dut},
        {"port", report.options.port},
        {"baud", QString::number(BaudRateAt(report.options.startBaudIndex).value_or(BaudRate{}).baud)},
        {"version", report.options.version},
        {"mode", report.options.full ? QStringLiteral("full") : QStringLiteral("quick")}};
    for (const auto& [name, value] : properties) {
        xml.writeStartElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), QString::fromLatin1(name));
        xml.writeAttribute(QStringLiteral("value"), value);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    for (size_t i = 0; i < report.steps.size(); ++i) {
        const SelfTestStep& step = report.steps[i];
        const SelfTestResult& r = report.results[i];
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("selftest.%1").arg(step.group));
        xml.writeAttribute(QStringLiteral("name"), step.name);
        xml.writeAttribute(QStringLiteral("time"), QString::number(StepSeconds(r), 'f', 3));
        if (r.verdict == Verdict::Fail) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), r.message);
            xml.writeEndElement();
        } else if (r.verdict == Verdict::NotRun) {
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), r.message.isEmpty() ? QStringLiteral("not run") : r.message);
            xml.writeEndElement();
        }
        xml.writeTextElement(QStringLiteral("system-out"), StepOutput(step, r));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray JsonReport(const SelfTestReport& report) {
    QJsonArray steps;
    for (size_t i = 0; i < report.steps.size(); ++i) {
        const SelfTestStep& step = report.steps[i];
        const SelfTestResult& r = report.results[i];
        QJsonObject o{{QStringLiteral("group"), step.group},
                      {QStringLiteral("name"), step.name},
                      {QStringLiteral("frame"), Hex(r.frame)},
                      {QStringLiteral("words"), r.words},
                      {QStringLiteral("reply"), r.reply},
                      {QStringLiteral("resends"), r.resends},
                      {QStringLiteral("verdict"), VerdictText(r.verdict)},
                      {QStringLiteral("message"), r.message},
                      {QStringLiteral("lyrics"), r.lyrics}};
        const std::pair<const char*, double> times[] = {{"latencyMs", r.latencyMs},
                                                        {"sentAt", r.sentAt},
                                                        {"acceptedAt", r.acceptedAt},
                                                        {"finishedAt", r.finishedAt},
                                                        {"playSeconds", r.playSeconds}};
        for (const auto& [name, value] : times)
            o.insert(QString::fromLatin1(name), value >= 0 ? QJsonValue(value) : QJsonValue());
        steps.append(o);
    }
    const QJsonObject root{
        {QStringLiteral("dut"), report.options.dut},
        {QStringLiteral("port"), report.options.port},
        {QStringLiteral("baud"), BaudRateAt(report.options.startBaudIndex).value_or(BaudRate{}).baud},
        {QStringLiteral("version"), report.options.version},
        {QStringLiteral("started"), report.started.toString(Qt::ISODate)},
        {QStringLiteral("mode"), report.options.full ? QStringLiteral("full") : QStringLiteral("quick")},
        {QStringLiteral("seconds"), report.seconds},
        {QStringLiteral("passed"), report.passed()},
        {QStringLiteral("fault"), report.fault},
        {QStringLiteral("stopped"), report.stopped},
        {QStringLiteral("steps"), steps}};
    return QJsonDocument(root).toJson();
}

QByteArray ReportFor(const QString& path, const SelfTestReport& report) {
    return path.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive) ? JUnitReport(report) : JsonReport(report);
}

QString DefaultReportName(const SelfTestReport& report, const QString& extension) {
    QString dut = report.options.dut;
    dut.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]+")), QStringLiteral("_"));
    if (dut.isEmpty()) dut = QStringLiteral("chip");
    return QStringLiteral("vorla-selftest-%1-%2.%3")
        .arg(dut, report.started.toString(QStringLiteral("yyyyMMdd-HHmmss")), extension);
}

}  // namespace vorla
