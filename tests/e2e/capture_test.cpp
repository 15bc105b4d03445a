// SPDX-License-Identifier: MIT
// The line on record: vorla-selftest's capture of a run against a virtual
// chip that rejects frames and sends stray bytes, read back by Debian's
// tshark through the project's dissector, names every frame as the log's
// tooltip does and every reply as the log does; replayed strictly by
// vorla-chipsim to a second run, it gives the same verdict on every step.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "protocol/capture.h"
#include "protocol/frame_words.h"
#include "protocol/replies.h"

using namespace vorla;

namespace {
QString RunProgram(const QString& program, const QStringList& args, int ms, int* exitCode) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(ms)) p.kill();
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

QJsonObject Report(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

QStringList Verdicts(const QJsonObject& report) {
    QStringList verdicts;
    for (const QJsonValue& step : report.value(QStringLiteral("steps")).toArray())
        verdicts << step.toObject().value(QStringLiteral("name")).toString() + u' ' +
                        step.toObject().value(QStringLiteral("verdict")).toString();
    return verdicts;
}

// The reply a message packet holds, by what the tool understood of it.
QStringList ReplyOf(const capture::Packet& p) {
    const auto note = capture::ParseNote(p.comment);
    if (!note || note->type != capture::Note::Type::Message) return {};
    for (const reply::Kind kind : {reply::Kind::Rejected, reply::Kind::Accepted, reply::Kind::Finished})
        if (reply::Bytes(kind) == p.bytes && note->kindName() != QStringLiteral("lyrics"))
            return {reply::LogLine(kind).section(u' ', 3)};
    return {};
}
}  // namespace

TEST(LineCapture, ASelfTestRunOnRecordInWiresharksWordsAndReplayed) {
    QTemporaryDir dir;
    const QString capture = dir.filePath(QStringLiteral("run.pcapng"));
    const QString report = dir.filePath(QStringLiteral("run.json"));
    // The virtual chip plays 20 times faster and its play limits follow;
    // the replay serves its recorded gaps, so the second run says so.
    const QStringList run{QStringLiteral("--baud"), QStringLiteral("9600")};
    int status = -1;
    const QString out = RunProgram(
        QStringLiteral(VORLA_SELFTEST_PATH),
        run + QStringList{QStringLiteral("--simulate"), QStringLiteral("--speed"), QStringLiteral("20"),
                          QStringLiteral("--reject-rate"), QStringLiteral("0.03"), QStringLiteral("--stray-bytes"),
                          QStringLiteral("0.05"), QStringLiteral("--seed"), QStringLiteral("7"),
                          QStringLiteral("--capture"), capture, QStringLiteral("--report"), report},
        90000, &status);
    ASSERT_EQ(status, 0) << out.toStdString();
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QFile json(report);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject named =
        QJsonDocument::fromJson(json.readAll()).object().value(QStringLiteral("capture")).toObject();
    EXPECT_EQ(named.value(QStringLiteral("sha256")).toString(),
              QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    QString error;
    const auto read = capture::Read(bytes, &error);
    ASSERT_TRUE(read) << error.toStdString();

    const QString fields = RunProgram(
        QStringLiteral("tshark"),
        {QStringLiteral("-X"), QStringLiteral("lua_script:" VORLA_DISSECTOR), QStringLiteral("-r"), capture,
         QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("occurrence=a"),
         QStringLiteral("-E"), QStringLiteral("aggregator=|"), QStringLiteral("-e"), QStringLiteral("vorla.words"),
         QStringLiteral("-e"), QStringLiteral("vorla.reply")},
        60000, &status);
    ASSERT_EQ(status, 0) << "tshark (Debian's tshark package): " << fields.toStdString();
    QStringList lines = fields.split(u'\n');
    lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("Running as user")); });
    ASSERT_GE(lines.size(), qsizetype(read->packets.size()));
    int frames = 0, replies = 0, events = 0;
    for (size_t i = 0; i < read->packets.size(); ++i) {
        const capture::Packet& p = read->packets[i];
        const QStringList columns = lines[qsizetype(i)].split(u'\t');
        ASSERT_EQ(columns.size(), 2) << i;
        if (p.direction == capture::Direction::Out) {
            const auto note = capture::ParseNote(p.comment);
            ASSERT_TRUE(note) << "packet " << i + 1;  // every frame names its exchange
            const QString resend = note->resend > 0 ? QStringLiteral("（第%1次重发）").arg(note->resend) : QString();
            EXPECT_EQ(columns[0], DescribeFrame(p.bytes) + resend) << "packet " << i + 1;
            ++frames;
        } else if (p.direction == capture::Direction::In) {
            EXPECT_TRUE(columns[1].isEmpty()) << "a read is bytes, packet " << i + 1;
        } else if (!p.bytes.isEmpty()) {
            // A message of the chip's: named as the tool read it.
            const QStringList expected = ReplyOf(p);
            EXPECT_EQ(columns[1].split(u'|', Qt::SkipEmptyParts), expected) << "packet " << i + 1;
            replies += int(expected.size());
        } else {
            EXPECT_FALSE(p.comment.isEmpty()) << "packet " << i + 1;
            ++events;
        }
    }
    // Every step's frame and its answer, and the rate switches among the events.
    EXPECT_GT(frames, 118);
    EXPECT_GE(replies, frames * 8 / 10);
    EXPECT_GT(events, 2);

    // The capture as the chip, strictly, to a second run over a pseudo-terminal.
    const QString link = dir.filePath(QStringLiteral("replayed"));
    QProcess replay;
    replay.start(QStringLiteral(VORLA_CHIPSIM_PATH),
                 {QStringLiteral("--replay"), capture, QStringLiteral("--strict"), QStringLiteral("--link"), link});
    ASSERT_TRUE(replay.waitForReadyRead(10000));
    const QString second = dir.filePath(QStringLiteral("second.json"));
    const QString out2 = RunProgram(QStringLiteral(VORLA_SELFTEST_PATH),
                                    run + QStringList{QStringLiteral("--device"), link, QStringLiteral("--play-scale"),
                                                      QStringLiteral("0.05"), QStringLiteral("--report"), second},
                                    90000, &status);
    replay.terminate();
    replay.waitForFinished(5000);
    const QString replayed = QString::fromUtf8(replay.readAll());
    EXPECT_FALSE(replayed.contains(QStringLiteral("stopped"))) << replayed.toStdString();
    ASSERT_EQ(status, 0) << out2.toStdString();
    const QStringList first = Verdicts(Report(report));
    EXPECT_EQ(Verdicts(Report(second)), first);
    EXPECT_TRUE(first.filter(QStringLiteral(" marginal")).size() > 0);  // the rejections show
}

// At 1200 baud a UART hands the chip's bytes over one a read: every answer
// is still named, with its latency, in Wireshark as in the timeline.
TEST(LineCapture, OneByteReadsAt1200AreNamedWithTheirLatency) {
    QTemporaryDir dir;
    const QString capture = dir.filePath(QStringLiteral("uart.pcapng"));
    int status = -1;
    const QString out = RunProgram(QStringLiteral(VORLA_SELFTEST_PATH),
                                   {QStringLiteral("--simulate"), QStringLiteral("--only"),
                                    QStringLiteral("link,controls"), QStringLiteral("--capture"), capture},
                                   60000, &status);
    ASSERT_EQ(status, 0) << out.toStdString();
    const QString fields = RunProgram(
        QStringLiteral("tshark"),
        {QStringLiteral("-X"), QStringLiteral("lua_script:" VORLA_DISSECTOR), QStringLiteral("-r"), capture,
         QStringLiteral("-Y"), QStringLiteral("vorla.latency"), QStringLiteral("-T"), QStringLiteral("fields"),
         QStringLiteral("-e"), QStringLiteral("vorla.reply"), QStringLiteral("-e"), QStringLiteral("vorla.latency")},
        60000, &status);
    ASSERT_EQ(status, 0) << fields.toStdString();
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto read = capture::Read(file.readAll());
    ASSERT_TRUE(read);
    int frames = 0, oneByteReads = 0;
    for (const capture::Packet& p : read->packets) {
        frames += p.direction == capture::Direction::Out;
        oneByteReads += p.direction == capture::Direction::In && p.bytes.size() == 1;
    }
    EXPECT_GT(oneByteReads, 2 * frames);
    QStringList answers = fields.split(u'\n', Qt::SkipEmptyParts);
    answers.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("Running as user")); });
    EXPECT_EQ(answers.size(), frames);  // every frame's answer, with its latency
    for (const QString& a : answers) EXPECT_TRUE(a.startsWith(QStringLiteral("接受"))) << a.toStdString();
}
