// SPDX-License-Identifier: MIT
// A self-test run's report: JUnit XML (one test case a step, the frame and
// the reply in its output, for CI dashboards) and JSON, and the file name
// that says which chip, where and when.
#pragma once

#include <QByteArray>
#include <QString>

#include "codes/self_test.h"

namespace vorla {

QByteArray JUnitReport(const SelfTestReport& report);
QByteArray JsonReport(const SelfTestReport& report);
// JUnit for a name ending in .xml, JSON otherwise.
QByteArray ReportFor(const QString& path, const SelfTestReport& report);
// "vorla-selftest-DUT-20261207-193000.xml": the chip, the time, the format.
QString DefaultReportName(const SelfTestReport& report, const QString& extension);

}  // namespace vorla
