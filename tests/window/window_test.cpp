// SPDX-License-Identifier: MIT
// The window on a recording serial control: start-up, ports, every sending
// command with its bytes and its order of logging and sending.
#include <gtest/gtest.h>

#include "protocol/capture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

#include "selftest/report.h"
#include "ui/self_test_window.h"
#include "ui/widget_helpers.h"
#include "window_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
using Journal = std::vector<std::string>;
const Journal kLogThenSend{"log", "send"};
const Journal kSendThenLog{"send", "log"};
const Journal kSendOnly{"send"};

std::string LastSent(WindowRig& r) {
    const auto sent = r.serial.sent();
    return sent.empty() ? std::string() : ToHex(sent.back());
}

// What a control shows, read by its kind: its caption, title or text (a
// combo box's current text, the window's title); whether it is checked, or
// the index selected in a combo or list box; how many items a combo or list
// box holds; whether it is enabled. -1 where the kind has no such value.
struct Shown {
    std::string name;
    QString text;
    int value = -1;
    int count = -1;
    bool enabled = true;
    friend bool operator==(const Shown&, const Shown&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Shown& s) {
        return out << s.name << " \"" << s.text.toStdString() << "\" " << s.value << " " << s.count << " "
                   << (s.enabled ? "enabled" : "disabled");
    }
};

Shown ShownBy(const std::string& name, const QWidget* w) {
    Shown s{name, {}};
    s.enabled = w->isEnabled();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        s.text = b->text();
        if (b->isCheckable()) s.value = b->isChecked() ? 1 : 0;
    } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
        s.text = g->title();
    } else if (const auto* l = qobject_cast<const QLabel*>(w)) {
        s.text = l->text();
    } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        s.text = e->text();
    } else if (const auto* t = qobject_cast<const QPlainTextEdit*>(w)) {
        s.text = t->toPlainText();
    } else if (const auto* c = qobject_cast<const QComboBox*>(w)) {
        s = {name, c->currentText(), frm_7711::ListIndexOf(c), c->count(), c->isEnabled()};
    } else if (const auto* list = qobject_cast<const ListBoxWidget*>(w)) {
        s = {name, {}, list->listIndex(), list->listCount(), list->isEnabled()};
    } else {
        s.text = w->windowTitle();  // the window
    }
    return s;
}
}  // namespace

// Every control shows its start-up value, the conversation is handed exactly
// what the controls hold, and the line stays closed until the first frame.
TEST(Window, StartUpState) {
    WindowRig r;
    auto t = [](const char* text) { return QString::fromUtf8(text); };
    const Shown expected[] = {
        {"frm_7711", t(" Mirada -- Vorla语音合成芯片  功能演示   电话：")},
        {"Frame1", t("和弦音乐")},
        {"Frame2", t("常用短语")},
        {"Frame3", t("唐诗宋词")},
        {"Frame12", t("其它声音")},
        {"Frame5", t("音量")},
        {"Frame6", t("文本朗读------请输入汉字,数字,英文,标点符号:")},
        {"Frame4", t("系统设置")},
        {"Frame13",
         t("用“插入键”插入各条代码所要播放的任意选项，再“生成代码参数”；点击“播放”，按顺序播以下四条代码！")},
        {"Frame14", t("波特率选择")},
        {"Frame15", t("输出方式选择")},
        {"Label12", t("接收:")},
        {"Label11", {}},
        {"Label1", t("卡拉OK:")},
        {"Label10", t("循环播放:")},
        {"Label5", t("背景音乐:")},
        {"Label2",
         t("发送文本--（用户自已自由定义要发送的16进制编码）（可测试任意编码格式）（格式严格匹配，格式为：2位16进制"
           "数值+1个空格符）")},
        {"Text1", t("此处播放歌词")},
        {"Text2", {}},
        {"Text3", t("欢迎使用！\n")},  // the box holds CR LF as a line feed
        {"Text4", {}},
        {"Text5", t("01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4")},
        {"Check1", t("播完是否告知"), 1},
        {"Check2", t("按姓名处理"), 1},
        {"Check3", t("读标点符号"), 1},
        {"Check4", t("1读成\"幺\""), 1},
        {"Check5", t("回传歌词"), 0},
        {"Combo5", t("循环1遍（默认）"), 0, 8},
        {"Combo1", t("北国之春\t"), 4, 8},
        {"Combo2", t("波特率1200(默认)"), 0, 4},
        {"Combo3", t("PWM 输出(默认)"), 1, 2},
        // The volume shown is the one sent: 2级, VolumeLevel 1.
        {"Option3", t("1级"), 0},
        {"Option4", t("2级"), 1},
        {"Option5", t("3级"), 0},
        {"Option6", t("4级"), 0},
        {"Option7", t("5级"), 0},
        {"Option8", t("6级"), 0},
        {"Option11", t("COM1"), 1},
        {"Option12", t("COM2"), 0},
        {"Option1", t("在第1条代码插入"), 1},
        {"Option2", t("在第2条代码插入"), 0},
        {"Option9", t("在第3条代码插入"), 0},
        {"Option10", t("在第4条代码插入"), 0},
        {"Command1", t("中  断")},
        {"Command2", t("关  闭")},
        {"Command3", t("播放")},
        {"Command4", t("播放")},
        {"Command5", t("播放")},
        {"Command6", t("播放 ")},
        {"Command10", t("发送")},
        {"Command11", t("休  眠")},
        {"Command12", t("播放")},
        {"Command13", t("播  放")},
        {"Command14", t("删  除")},
        {"Command15", t("全部删除")},
        {"Command16", t("插入")},
        {"Command17", t("插入")},
        {"Command18", t("插入")},
        {"Command19", t("插入")},
        {"Command20", t("插入")},
        {"Command22", t("代码1参数生成")},
        {"Command23", t("代码2参数生成")},
        {"Command24", t("代码3参数生成")},
        {"Command25", t("代码4参数生成")},
        {"Command26", t("发送")},
        {"Command27", t("同时发送")},
        {"Clr", t("清空")},
        {"btn_fasong", t("发送-自动加异或效验")},
        {"btn_fasong2", t("发送-手动加异或效验")},
        {"List1", {}, 0, 26},
        {"List2", {}, 3, 20},
        {"List3", {}, 0, 9},
        {"List4", {}, 2, 10},
        {"List5", {}, 4, 5},
        {"List6", {}, -1, 1, false},
        {"List7", {}, -1, 0, false},
        {"List8", {}, -1, 0, false},
    };
    for (const Shown& e : expected) {
        const QString name = QString::fromStdString(e.name);
        const QWidget* w = name == r.window->objectName() ? r.window.get() : r.window->findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(ShownBy(e.name, w), e);
    }
    const std::pair<QComboBox*, const char*> items[] = {
        {r.ui().Combo1, "无（默认）|夢里水乡|雨蝶|茉莉花|北国之春\t|秋日的私语|同桌的你\t|秋雨蒙蒙-日"},
        {r.ui().Combo2, "波特率1200(默认)|波特率2400|波特率4800|波特率9600"},
        {r.ui().Combo3, "DA输出|PWM 输出(默认)"},
        {r.ui().Combo5, "循环1遍（默认）|循环2遍|循环3遍|循环4遍|循环5遍|循环6遍|循环7遍|一直循环"},
    };
    for (const auto& [box, texts] : items) {
        QStringList shown;
        for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
        EXPECT_EQ(shown.join(u'|'), t(texts)) << box->objectName().toStdString();
    }
    EXPECT_EQ(r.window->minimumSize(), QSize(750, 741));
    EXPECT_EQ(r.window->maximumSize(), QSize(750, 741));
    // The conversation starts from the same values, and a command takes them
    // from the controls: start-up leaves out nothing the window shows.
    EXPECT_EQ(r.window->readControls(), Controls::startUp());
    EXPECT_EQ(r.conv().controls(), Controls::startUp());
    EXPECT_EQ(PlayHeaderFor(r.conv().controls().play), (PlayHeader{0x80, 0x87, 0xE1}));
    EXPECT_EQ(r.conv().codeLists(), InitialCodeLists());
    EXPECT_EQ(r.conv().portNumber(), 1);
    EXPECT_EQ(r.serial.settings(), LineSettings{1200});
    EXPECT_FALSE(r.serial.portOpen());
    EXPECT_TRUE(r.serial.ops.empty());
}

// The raw sender's start-up text is a whole text-reading frame: as typed it
// goes out unchanged, with a computed check byte it gains a 00.
TEST(Window, RawSenderRightAfterStartUpSendsItsFrame) {
    const std::pair<const char*, std::string> cases[] = {
        {"btn_fasong2", "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4"},
        {"btn_fasong", "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4 00"},
    };
    for (const auto& [button, bytes] : cases) {
        WindowRig r;
        r.window->findChild<QAbstractButton*>(QString::fromLatin1(button))->click();
        const auto sent = r.serial.sent();
        ASSERT_EQ(sent.size(), 1u) << button;
        EXPECT_EQ(ToHex(sent[0]), bytes) << button;
        EXPECT_TRUE(r.messages.empty());
    }
}

TEST(Window, PortsOpenOnFirstSendAndSwitch) {
    WindowRig r;
    r.ui().Option3->setChecked(true);  // volume 1级: nothing sent
    EXPECT_EQ(r.conv().controls().play.volumeLevel, 0);
    EXPECT_TRUE(r.serial.ops.empty());
    r.window->Command1_Click();
    ASSERT_EQ(r.serial.ops.size(), 2u);
    EXPECT_EQ(r.serial.ops[0].kind, FakeSerial::Op::Open);
    EXPECT_EQ(r.serial.ops[0].port, 1);
    EXPECT_EQ(r.serial.ops[0].settings, LineSettings{1200});
    r.ui().Option12->setChecked(true);  // COM2 closes COM1 at once, sends nothing
    EXPECT_EQ(r.serial.ops.back().kind, FakeSerial::Op::Close);
    EXPECT_EQ(r.conv().portNumber(), 2);
    r.window->Command1_Click();
    EXPECT_EQ(r.serial.ops[r.serial.ops.size() - 2].kind, FakeSerial::Op::Open);
    EXPECT_EQ(r.serial.ops[r.serial.ops.size() - 2].port, 2);
    r.window->Option11_Click();  // closed port: only the number changes
    r.window->Option11_Click();
    EXPECT_EQ(r.serial.commPort(), 1);
}

TEST(Window, PortThatCannotBeOpenedIsReportedAndTheNextClickWorks) {
    WindowRig r;
    r.serial.failOpen = true;
    r.window->Command3_Click();  // send, then log: nothing logged
    EXPECT_TRUE(r.serial.sent().empty());
    EXPECT_FALSE(r.serial.portOpen());
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("COM1 打开失败"));
    EXPECT_EQ(r.log(), QStringLiteral("COM1 (fake1) 打开失败：设备不存在\r\n"));
    r.serial.failOpen = false;
    r.window->Command3_Click();
    EXPECT_EQ(LastSent(r), "01 80 87 E1 60 B0 04 33");
}

TEST(Window, PlayCommandsBytesAndOrderOfLogAndSend) {
    WindowRig r;
    auto check = [&](void (frm_7711::*handler)(), const std::string& bytes, const Journal& order) {
        r.journal.clear();
        (r.window.get()->*handler)();
        EXPECT_EQ(LastSent(r), bytes);
        EXPECT_EQ(r.journal, order) << bytes;
    };
    check(&frm_7711::Command6_Click, "01 80 87 E1 BB B6 D3 AD CA B9 D3 C3 A3 A1 A3 8D A3 8A 04 F6", kLogThenSend);
    EXPECT_TRUE(r.ui().Text1->text().isEmpty());
    check(&frm_7711::Command3_Click, "01 80 87 E1 60 B0 04 33", kSendThenLog);
    check(&frm_7711::Command4_Click, "01 80 87 E1 60 A3 04 20", kLogThenSend);
    check(&frm_7711::Command5_Click, "01 80 87 E1 60 D0 04 53", kSendThenLog);
    check(&frm_7711::Command12_Click, "01 80 87 E1 60 C2 04 41", kSendThenLog);
    check(&frm_7711::Command1_Click, "01 C0 80 80 04 C5", kLogThenSend);
    check(&frm_7711::Command26_Click, "01 A0 80 80 04 A5", kSendOnly);
    EXPECT_EQ(r.conv().pending().command, Command::OutputMode);
    r.ui().Combo3->setCurrentIndex(0);
    check(&frm_7711::Command26_Click, "01 90 80 80 04 95", kSendOnly);

    // The record of the stop frame, byte for byte.
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("发出一帧，字节数  6\r\n-->0x1 0xC0 0x80 0x80 0x4 0xC5 \r\n")));

    // Empty text: nothing at all; the lyric lines keep their text.
    r.ui().Text3->setPlainText(QString());
    r.ui().Text1->setText(QStringLiteral("x"));
    r.journal.clear();
    r.window->Command6_Click();
    EXPECT_TRUE(r.journal.empty());
    EXPECT_EQ(r.ui().Text1->text(), QStringLiteral("x"));

    // Settings from the controls: all clear, volume 1级, music 16.
    for (QCheckBox* c : {r.ui().Check1, r.ui().Check2, r.ui().Check3, r.ui().Check4}) c->setChecked(false);
    r.ui().Combo1->setCurrentIndex(0);
    r.ui().Option3->setChecked(true);
    r.ui().List1->setListIndex(16);
    check(&frm_7711::Command3_Click, "01 80 80 80 61 B0 04 54", kSendThenLog);
    r.ui().Text3->setPlainText(QStringLiteral("A"));
    check(&frm_7711::Command6_Click, "01 80 80 80 A3 C1 04 E7", kLogThenSend);
    // A shorter frame after a longer one sends only its own bytes.
    EXPECT_EQ(r.serial.sent().back().size(), 8);
}

TEST(Window, TypedComboTextCountsAsNoSelection) {
    WindowRig r;
    r.ui().Combo1->setEditText(QStringLiteral("自己写的"));
    r.ui().Combo2->setEditText(QStringLiteral("19200"));
    EXPECT_EQ(frm_7711::ListIndexOf(r.ui().Combo1), -1);
    EXPECT_EQ(r.ui().Combo1->count(), 8);  // never added as an item
    r.window->Command3_Click();
    EXPECT_EQ(LastSent(r).substr(0, 11), "01 80 87 B9");  // 0x80 + 0x40 + 8 * -1 + 1
    r.window->Command10_Click();                          // mode 0x80, settings unchanged, port reopened
    r.accept();
    r.clock.advance(0.1);
    EXPECT_EQ(LastSent(r), "01 80 80 80 04 85");
    EXPECT_EQ(r.serial.settings(), LineSettings{1200});
    EXPECT_EQ(r.serial.ops.back().kind, FakeSerial::Op::Open);
    r.window->Command27_Click();
    r.accept();
    r.clock.advance(0.1);
    EXPECT_EQ(LastSent(r), "01 A0 80 80 04 A5");
}

TEST(Window, SleepAndWake) {
    WindowRig r;
    auto& ui = r.ui();
    QPushButton* ten[] = {ui.Command1,  ui.Command3,  ui.Command4,  ui.Command5,  ui.Command6,
                          ui.Command12, ui.Command13, ui.Command10, ui.Command26, ui.Command27};
    r.window->Command11_Click();
    EXPECT_EQ(LastSent(r), "01 81 80 80 04 84");
    EXPECT_EQ(ui.Command11->text(), QStringLiteral("唤  醒"));
    for (QPushButton* b : ten) EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(ui.btn_fasong->isEnabled() && ui.Command16->isEnabled() && ui.Command2->isEnabled());
    r.window->Command11_Click();
    EXPECT_EQ(LastSent(r), "01 80 80 80 04 85");
    EXPECT_EQ(ui.Command11->text(), QStringLiteral("睡  眠"));
    for (QPushButton* b : ten) EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(r.log().isEmpty());
}

TEST(Window, BaudRateSwitchesThePortOnceTheChipAcceptsTheFrame) {
    WindowRig r;
    r.ui().Combo2->setCurrentIndex(3);
    r.window->Command10_Click();
    const auto& ops = r.serial.ops;
    EXPECT_EQ(ops.size(), 2u);  // the frame leaves at the old rate
    r.clock.advance(0.5);
    EXPECT_EQ(ops.size(), 2u);  // the port follows only an accepted frame
    r.accept();
    ASSERT_EQ(ops.size(), 4u);  // 100 ms after the frame went, the chip has switched
    EXPECT_EQ(ops[0].kind, FakeSerial::Op::Open);
    EXPECT_EQ(ops[0].settings, LineSettings{1200});
    EXPECT_EQ(ToHex(ops[1].bytes), "01 88 80 80 04 8D");
    EXPECT_EQ(ops[1].settings, LineSettings{1200});
    EXPECT_EQ(ops[2].kind, FakeSerial::Op::Close);
    EXPECT_EQ(ops[3].kind, FakeSerial::Op::Open);
    EXPECT_EQ(ops[3].settings, LineSettings{9600});
    EXPECT_EQ(r.journal, (Journal{"send", "log", "log"}));  // the frame's record, then the acceptance
    r.ui().Combo3->setCurrentIndex(0);
    r.ui().Combo2->setCurrentIndex(0);
    r.window->Command27_Click();
    r.accept();
    r.clock.advance(0.1);
    EXPECT_EQ(LastSent(r), "01 92 80 80 04 97");
    EXPECT_EQ(r.serial.settings(), LineSettings{1200});
}

TEST(Window, RawSender) {
    WindowRig r;
    auto send = [&](const char* text, bool automatic) {
        r.ui().Text5->setText(QString::fromUtf8(text));
        r.journal.clear();
        const size_t before = r.serial.sent().size();
        automatic ? r.window->btn_fasong_Click() : r.window->btn_fasong2_Click();
        return r.serial.sent().size() == before ? std::string("nothing") : LastSent(r);
    };
    const char* sample = "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4";
    EXPECT_EQ(send(sample, false), sample);
    EXPECT_EQ(r.journal, kLogThenSend);
    EXPECT_TRUE(
        r.log().endsWith(QStringLiteral("字节数  18\r\n-->0x1 0x80 0x87 0xC1 0xBB 0xB6 0xD3 0xAD 0xCA "
                                        "0xB9 0xD3 0xC3 0xA3 0x8D 0xA3 0x8A 0x4 0xD4 \r\n")));
    EXPECT_EQ(send(sample, true), std::string(sample) + " 00");
    EXPECT_EQ(r.conv().pending().command, Command::RawWithCheckByte);
    EXPECT_EQ(send("01", true), "01 01");
    EXPECT_EQ(send("01", false), "01");
    EXPECT_EQ(r.conv().pending().command, Command::RawAsTyped);
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("字节数  1\r\n-->0x1 \r\n")));
    EXPECT_EQ(send("0a ff", true), send("0A FF", true));
    EXPECT_EQ(send("0180", true), "01 01");
    EXPECT_EQ(send("01-80", false), "01 80");
    EXPECT_EQ(send("01 80 ", false), "01 80");
    EXPECT_TRUE(r.messages.empty());
    for (const char* bad : {" 01 80", "01  80", "1", "zz"}) {
        for (bool automatic : {true, false}) {
            EXPECT_EQ(send(bad, automatic), "nothing") << bad;
            EXPECT_TRUE(r.journal.empty());
        }
    }
    EXPECT_EQ(r.messages.size(), 8u);
    EXPECT_EQ(r.messages[0], QStringLiteral("格式不匹配，不是16进制数值"));
    EXPECT_EQ(r.ui().Text5->text(), QStringLiteral("zz"));
    // What sends nothing records nothing: a later rejection of the chord
    // music frame resends that frame, with no message.
    r.messages.clear();
    r.window->Command3_Click();
    const QByteArray music = r.serial.sent().back();
    EXPECT_EQ(send("", true), "nothing");
    EXPECT_EQ(send("zz", false), "nothing");
    EXPECT_EQ(r.conv().pending().command, Command::Music);
    r.messages.clear();
    r.reject();
    EXPECT_EQ(r.serial.sent().back(), music);
    EXPECT_TRUE(r.messages.empty());
    r.window->Clr_Click();
    EXPECT_TRUE(r.log().isEmpty());
    EXPECT_TRUE(r.ui().Text4->toPlainText().isEmpty());
}

TEST(Window, LogViewShowsEveryRecordWrappedInItsWidth) {
    WindowRig r;
    r.window->show();
    for (int i = 0; i < 3; ++i) r.window->Command1_Click();
    r.ui().Text3->setPlainText(QString(25, QChar(0x597D)));
    r.window->Command6_Click();  // a record far wider than the box
    QCoreApplication::processEvents();
    QPlainTextEdit* view = r.ui().Text4;
    EXPECT_EQ(view->toPlainText(), QString(r.log()).remove(u'\r'));
    EXPECT_EQ(r.log().count(u'\n'), 8);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    const QTextBlock record = view->document()->findBlockByNumber(7);
    ASSERT_TRUE(record.layout());
    EXPECT_GT(record.layout()->lineCount(), 1);
}

TEST(Window, LogIsSavedAsShownAndAFailedSaveSaysWhy) {
    WindowRig r;
    r.window->Command1_Click();
    r.ui().Text3->setPlainText(QStringLiteral("欢迎"));
    r.window->Command6_Click();
    r.accept();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    r.window->setSavePathSource([&] { return path; });
    r.window->saveLog();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), r.log().toUtf8());  // byte for byte, CR LF line ends
    const QString before = r.log();
    r.window->setSavePathSource([&] { return dir.filePath(QStringLiteral("missing/log.txt")); });
    r.window->saveLog();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("日志保存失败"));
    EXPECT_TRUE(r.log().startsWith(before));
    EXPECT_TRUE(
        r.log().contains(QStringLiteral("日志保存失败：%1").arg(dir.filePath(QStringLiteral("missing/log.txt")))));
}

// The line on record, saved from the log's menu: the frames as written and
// the port's opening, in a capture; a failure said as the log's is.
TEST(Window, TheLineIsSavedAsACaptureFromTheLogsMenu) {
    WindowRig r;
    r.window->Command1_Click();
    r.accept();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.pcapng"));
    r.window->setCapturePathSource([&] { return path; });
    std::unique_ptr<QMenu> menu = r.window->logMenu(QPoint());
    const auto actions = menu->actions();
    const auto save = std::find_if(actions.begin(), actions.end(),
                                   [](QAction* a) { return a->text() == QStringLiteral("保存通信记录…"); });
    ASSERT_NE(save, actions.end());
    (*save)->trigger();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const auto read = capture::Read(saved.readAll());
    ASSERT_TRUE(read);
    std::vector<QByteArray> out, in;
    for (const capture::Packet& p : read->packets)
        (p.direction == capture::Direction::Out ? out : in).push_back(p.bytes);
    EXPECT_EQ(out, r.serial.sent());
    EXPECT_TRUE(read->packets.front().comment.startsWith(QStringLiteral("opened 1200,N,8,1")));
    r.window->setCapturePathSource([&] { return dir.filePath(QStringLiteral("missing/line.pcapng")); });
    r.window->saveCapture();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("通信记录保存失败"));
}

TEST(Window, DeviceMenuChoosesRemembersAndClosesThePortInUse) {
    WindowRig r;
    QTemporaryDir dir;
    QSettings memory(dir.filePath(QStringLiteral("vorla-demo.conf")), QSettings::IniFormat);
    r.conv().setDeviceMemory(&memory);
    r.window->setDeviceListSource([] {
        return std::vector<SerialDeviceInfo>{{QStringLiteral("/dev/ttyS0"), QString(), QString()},
                                             {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("CP2102 USB to UART"),
                                              QStringLiteral("Silicon Labs"), 0x10c4, 0xea60}};
    });
    r.window->setDevicePathSource([](int16_t, const QString&) { return QStringLiteral("/tmp/chip-link"); });
    r.window->Command1_Click();  // COM1 open on its default device
    ASSERT_TRUE(r.serial.portOpen());

    std::unique_ptr<QMenu> menu = r.window->deviceMenu(1);
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text() + (a->isChecked() ? QStringLiteral(" [x]") : QString());
    EXPECT_EQ(texts, QStringList({QStringLiteral("fake1（未在设备列表中） [x]"), QStringLiteral("/dev/ttyS0"),
                                  QStringLiteral("/dev/ttyUSB0 (CP2102 USB to UART, Silicon Labs, USB 10C4:EA60)"),
                                  QStringLiteral("输入设备路径…")}));
    menu->actions()[2]->trigger();
    EXPECT_FALSE(r.serial.portOpen());  // the port in use let go of its old device
    EXPECT_TRUE(r.ui().Option11->toolTip().startsWith(QStringLiteral("COM1：/dev/ttyUSB0")));
    r.window->Command1_Click();
    EXPECT_EQ(r.serial.ops.back().device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_TRUE(r.window->deviceMenu(1)->actions()[1]->isChecked());

    // A typed path for the other port leaves the open one alone.
    r.window->deviceMenu(2)->actions().back()->trigger();
    EXPECT_TRUE(r.serial.portOpen());
    EXPECT_EQ(r.serial.device(2), QStringLiteral("/tmp/chip-link"));

    // The next start opens the remembered devices, except where the command
    // line names another.
    QSettings next(dir.filePath(QStringLiteral("vorla-demo.conf")), QSettings::IniFormat);
    PortMap commandLine;
    commandLine.setDevice(2, QStringLiteral("/dev/pts/7"));
    const PortMap run = WithRememberedDevices(commandLine, next);
    EXPECT_EQ(run.device(1), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(run.device(2), QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(RememberedDevice(next, 2), QStringLiteral("/tmp/chip-link"));
}

TEST(Window, TextReachesTheEncoderAsTyped) {
    WindowRig r;
    // A no-break space stays one (GBK lacks it); only the box's own line
    // breaks become CR LF.
    r.ui().Text3->setPlainText(QString::fromUtf16(u"A\u00A0B\nC"));
    EXPECT_EQ(r.window->Text3Text(), QString::fromUtf16(u"A\u00A0B\r\nC"));
    r.window->Command6_Click();
    EXPECT_EQ(ToHex(r.serial.sent().back().mid(4, 12)), "A3 C1 A3 BF A3 C2 A3 8D A3 8A A3 C3");
    r.window->Command20_Click();
    ListBoxWidget* list = r.ui().List5;
    EXPECT_EQ(list->itemText(list->listIndex()), QString::fromUtf16(u"A\u00A0B\r\nC"));
    EXPECT_EQ(list->item(list->listIndex())->text(), QString::fromUtf16(u"A\u00A0B\u21B5C"));  // marks in code lists
}

TEST(Window, DeviceVanishingDuringTheBaudRateWaitIsReportedOnce) {
    WindowRig r;
    r.window->Command1_Click();
    r.ui().Combo2->setCurrentIndex(3);
    r.window->Command10_Click();
    r.serial.vanish();
    r.clock.advance(2.5);  // no answer comes
    EXPECT_EQ(r.log().count(QStringLiteral("连接中断")), 1);
    EXPECT_FALSE(r.log().contains(QStringLiteral("打开失败")));
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("0x4 0x8D \r\n")));  // the frame sent is still logged
    EXPECT_EQ(r.conv().status(), QStringLiteral("COM1 连接中断"));
    // The adapter back: the next command opens the port at the rate the
    // chip was last known to run at (the switch was never accepted).
    r.serial.failOpen = false;
    r.window->Command1_Click();
    EXPECT_TRUE(r.serial.portOpen());
    EXPECT_EQ(r.serial.ops.back().settings, LineSettings{1200});
}

TEST(Window, CloseButtonClosesThePortAndEndsEveryWait) {
    WindowRig r;
    bool ended = false;
    r.window->setExitAction([&] { ended = true; });
    r.ui().Combo2->setCurrentIndex(3);
    r.window->Command10_Click();  // its switch waits
    ASSERT_TRUE(r.serial.portOpen());
    r.window->Command2_Click();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(r.serial.portOpen());
    r.clock.runAll();  // the switch never reopens the port
    EXPECT_FALSE(r.serial.portOpen());
    r.window->Command1_Click();
    EXPECT_EQ(r.serial.sent().size(), 1u);
}

TEST(Window, EveryButtonClickedReachesTheConversation) {
    WindowRig r;
    // Buttons that send, and what goes out for each.
    const std::pair<QAbstractButton*, const char*> sends[] = {
        {r.ui().Command1, "01 C0"},  {r.ui().Command3, "01 80"},  {r.ui().Command4, "01 80"},
        {r.ui().Command5, "01 80"},  {r.ui().Command6, "01 80"},  {r.ui().Command12, "01 80"},
        {r.ui().Command26, "01 A0"}, {r.ui().Command10, "01 82"}, {r.ui().Command27, "01 A2"},
        {r.ui().Command13, "01 80"}, {r.ui().Command11, "01 81"}};
    for (const auto& [button, head] : sends) {
        const size_t before = r.serial.sent().size();
        button->click();
        r.clock.advance(2.5);  // past a baud switch's deadline: nothing answers
        ASSERT_GT(r.serial.sent().size(), before) << button->objectName().toStdString();
        EXPECT_EQ(ToHex(r.serial.sent()[before].left(2)), head) << button->objectName().toStdString();
    }
    EXPECT_EQ(r.ui().Command11->text(), QStringLiteral("唤  醒"));
    r.ui().Command22->click();  // a snapshot, shown on its button
    EXPECT_TRUE(r.ui().Command22->property("snapshot").toBool());
    const int items = r.ui().List5->listCount();
    r.ui().Command16->click();  // insert into the chosen code list
    EXPECT_EQ(r.ui().List5->listCount(), items + 1);
    r.ui().Clr->click();
    EXPECT_TRUE(r.log().isEmpty());
}

TEST(Window, SelfTestWindowOpensFromTheLogMenuRunsStopsAndSaves) {
    WindowRig r;
    // A chip on a 1200-baud line that accepts every frame once the frame and
    // the reply have crossed the wire, and ends a play that asked for a
    // report with the report when stopped.
    bool playing = false;
    QObject::connect(&r.conv(), &ChipConversation::frameWritten, [&](const QByteArray& frame) {
        const double answered = r.clock.now() + double(frame.size() + 3) * 10 / 1200 + 0.005;
        r.clock.at(answered, [&] { r.accept(); });
        if (frame == Hex("01 C0 80 80 04 C5")) {
            if (playing) r.clock.at(answered + 0.03, [&] { r.finished(); });
            playing = false;
        } else if (frame.size() > 6) {
            playing = (uint8_t(frame[3]) & 0x40) != 0;
        }
    });
    QAction* open = nullptr;
    const std::unique_ptr<QMenu> menu = r.window->logMenu(QPoint());
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("芯片自检…")) open = a;
    ASSERT_NE(open, nullptr);
    open->trigger();
    auto* test = r.window->findChild<SelfTestWindow*>();
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(test->windowTitle(), QStringLiteral("芯片自检"));
    EXPECT_EQ(r.window->size(), QSize(750, 741));  // the main window as it was
    test->findChild<QLineEdit*>(QStringLiteral("dut"))->setText(QStringLiteral("M-0042"));
    EXPECT_EQ(test->findChild<QLineEdit*>(QStringLiteral("operator"))->text(), LoginName());
    test->startRun();
    // The run owns the line: the main window sends nothing and says why;
    // what the operator sets meanwhile survives the run.
    r.clock.advance(0.2);
    EXPECT_FALSE(r.ui().Command6->isEnabled());
    EXPECT_FALSE(r.ui().btn_fasong->isEnabled());
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("芯片自检进行中，发送已停用"));
    const size_t sentBefore = r.serial.sent().size();
    r.window->Command6_Click();
    r.ui().Check4->setChecked(false);
    r.clock.runAll();
    ASSERT_FALSE(test->selfTest().running());
    EXPECT_TRUE(r.ui().Command6->isEnabled());
    EXPECT_EQ(r.conv().controls(), r.window->readControls());
    EXPECT_EQ(r.conv().controls().play.readOneAsYao, 0);
    const RunRecord& record = test->selfTest().record();
    EXPECT_LE(r.serial.sent().size() - sentBefore, size_t(record.framesSent));
    auto* table = test->findChild<QTableWidget*>();
    ASSERT_EQ(table->rowCount(), int(record.steps.size()));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("01 C0 80 80 04 C5"));
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("停止"));
    EXPECT_TRUE(table->item(0, 6)->text().startsWith(QStringLiteral("pass")));
    EXPECT_GT(record.count(Outcome::Pass), 60);  // all but what this chip cannot do (lyrics, refusals)
    EXPECT_TRUE(test->summary().startsWith(QStringLiteral("%1 steps").arg(record.steps.size())));
    EXPECT_TRUE(r.log().contains(QStringLiteral("-->0x1 0xC0 0x80 0x80 0x4 0xC5")));  // the main log records it all

    QTemporaryDir dir;
    QString saved;
    test->setSavePathSource([&](const QString& suggested) {
        EXPECT_TRUE(suggested.startsWith(QStringLiteral("vorla-selftest-M-0042-"))) << suggested.toStdString();
        return saved = dir.filePath(suggested);
    });
    test->saveReport();
    test->saveTimeline();
    QFile svg(saved);
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // Stopped after its first step: incomplete, never green, and the bar
    // shows how far it got.
    test->startRun();
    while (record.steps[0].verdict.outcome == Outcome::NotRun) r.clock.advance(0.01);
    test->stopRun();
    EXPECT_FALSE(test->selfTest().running());
    EXPECT_EQ(record.count(Outcome::NotRun), int(record.steps.size()) - 1);
    EXPECT_EQ(record.verdict.outcome, Outcome::Incomplete);
    EXPECT_TRUE(table->item(5, 6)->text().startsWith(QStringLiteral("not run")));
    auto* progress = test->findChild<QProgressBar*>();
    EXPECT_EQ(progress->value(), 1);
    EXPECT_EQ(progress->text(), QStringLiteral("1/%1（中止）").arg(record.steps.size()));
    EXPECT_TRUE(test->summary().contains(QStringLiteral("INCOMPLETE: stopped by the operator after 1 of")))
        << test->summary().toStdString();
}

TEST(Window, ASnapshotTakesTheSettingsTheControlsHoldNow) {
    WindowRig r;
    {
        const QSignalBlocker quiet(r.ui().Option8);  // a change the window has not passed on yet
        r.ui().Option8->setChecked(true);
    }
    r.ui().Command22->click();
    r.ui().Option3->click();  // volume 1级 for what follows; code 1 keeps its snapshot
    r.ui().Command13->click();
    const auto sent = r.serial.sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(uint8_t(sent.back()[3]) & 0x07, 5);
}

TEST(Window, QtsOwnTextsAreInChinese) {
    ASSERT_TRUE(InstallChineseQtTexts(*QCoreApplication::instance()));
    WindowRig r;
    const std::unique_ptr<QMenu> menu = r.window->logMenu(QPoint());
    EXPECT_TRUE(menu->actions().first()->text().startsWith(QStringLiteral("复制")))
        << menu->actions().first()->text().toStdString();
}

TEST(Window, ASentFramesRecordShowsTheFrameInWordsAsItsTooltip) {
    WindowRig r;
    r.window->show();
    r.window->Command1_Click();
    QPlainTextEdit* view = r.ui().Text4;
    QCoreApplication::processEvents();
    const QPoint dump = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(1))).center();
    QHelpEvent help(QEvent::ToolTip, dump, view->viewport()->mapToGlobal(dump));
    QCoreApplication::sendEvent(view->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("停止"));
}
