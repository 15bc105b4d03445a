// SPDX-License-Identifier: MIT
// The demonstration window. It maps its controls to the conversation with
// the chip (what the controls hold, and each click as a command) and shows
// what the conversation reports: the status, the log, the lyric lines, the
// sleep state and the code snapshots.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QWidget>

#include "conversation/code_lists.h"
#include "conversation/conversation.h"
#include "serial/device_choice.h"

class QComboBox;
class QMenu;
class ListBoxWidget;
namespace vorla {
class SelfTestWindow;
class StationWindow;
class TimelineWindow;
}  // namespace vorla

namespace Ui {
class frm_7711;
}

class frm_7711 : public QWidget {
    Q_OBJECT
public:
    explicit frm_7711(vorla::ChipConversation& conversation, QWidget* parent = nullptr);
    ~frm_7711() override;

    vorla::ChipConversation& conversation() { return conv_; }
    Ui::frm_7711& ui() { return *ui_; }
    // How the raw sender's format message is shown (a message box by
    // default), where "保存日志…" saves (a file dialog), where the device
    // menu finds the devices present (the system's) and where
    // "输入设备路径…" gets a path (an input dialog); tests replace them.
    void setMessageSink(std::function<void(const QString&)> sink) { message_ = std::move(sink); }
    void setSavePathSource(std::function<QString()> source) { savePath_ = std::move(source); }
    void setCapturePathSource(std::function<QString()> source) { capturePath_ = std::move(source); }
    // Where 测试台… reads a station file from (a file dialog by default).
    void setStationPathSource(std::function<QString()> source) { stationPath_ = std::move(source); }
    void setDeviceListSource(std::function<std::vector<vorla::SerialDeviceInfo>()> source) {
        deviceList_ = std::move(source);
    }
    void setDevicePathSource(std::function<QString(int16_t port, const QString& current)> source) {
        devicePath_ = std::move(source);
    }
    // What ending the program does after the port is closed.
    void setExitAction(std::function<void()> action) { exit_ = std::move(action); }
    void saveLog();
    void saveCapture();
    // The log box's context menu: copy, select all, 保存日志…, 保存通信记录…,
    // 通信时间线…, 芯片自检…, 测试台….
    std::unique_ptr<QMenu> logMenu(const QPoint& at);
    // The line's timeline and the self-test window, each opened (once) beside this one.
    vorla::TimelineWindow* openTimeline();
    vorla::SelfTestWindow* openSelfTest();
    // A test station from a station file: its window, its slots' ports opened;
    // none (said why) when the file or a slot's device is not right.
    vorla::StationWindow* openStation();
    // The device menu a right-click on COM1's or COM2's option opens; none
    // when the port's device is fixed.
    std::unique_ptr<QMenu> deviceMenu(int16_t port);

    // What the controls hold; the text of Text3 with its line breaks as CR LF.
    vorla::Controls readControls() const;
    // Sets the controls to hold these values.
    void writeControls(const vorla::Controls& controls);
    QString Text3Text() const;
    // A combo box's list index; -1 when typed text is not the selected item.
    static int16_t ListIndexOf(const QComboBox* box);

public slots:
    void Form_Load();
    void Command1_Click() { send(vorla::Command::Stop); }
    void Command2_Click();
    void Command3_Click() { send(vorla::Command::Music); }
    void Command4_Click() { send(vorla::Command::Phrase); }
    void Command5_Click() { send(vorla::Command::Poem); }
    void Command6_Click() { send(vorla::Command::Text); }
    void Command10_Click() { send(vorla::Command::Baud); }
    void Command11_Click() { send(vorla::Command::SleepWake); }
    void Command12_Click() { send(vorla::Command::Sound); }
    void Command13_Click() { send(vorla::Command::CodePlayback); }
    void Command14_Click() { DeleteChosenItem(codeListSet()); }
    void Command15_Click() { ClearChosenList(codeListSet()); }
    void Command16_Click() { InsertStoredItem(codeListSet(), *listBox(1), vorla::kMusicBase); }
    void Command17_Click() { InsertStoredItem(codeListSet(), *listBox(2), vorla::kPhraseBase); }
    void Command18_Click() { InsertStoredItem(codeListSet(), *listBox(3), vorla::kPoemBase); }
    void Command19_Click() { InsertStoredItem(codeListSet(), *listBox(4), vorla::kSoundBase); }
    void Command20_Click() { InsertText(codeListSet(), Text3Text()); }
    void Command22_Click() { snapshot(0); }
    void Command23_Click() { snapshot(1); }
    void Command24_Click() { snapshot(2); }
    void Command25_Click() { snapshot(3); }
    void Command26_Click() { send(vorla::Command::OutputMode); }
    void Command27_Click() { send(vorla::Command::BaudAndOutput); }
    void Option11_Click() { conv_.choosePort(1); }
    void Option12_Click() { conv_.choosePort(2); }
    void btn_fasong_Click() { send(vorla::Command::RawWithCheckByte); }
    void btn_fasong2_Click() { send(vorla::Command::RawAsTyped); }
    void Clr_Click() { conv_.clearLog(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectControls();
    void connectConversation();
    void setUpMenus();
    void fillLists();
    void pushControls() {
        if (!lineTaken_) conv_.setControls(readControls());
    }
    // The code lists as they stand, after every edit.
    void pushCodeLists();
    void send(vorla::Command command);
    // A code's parameter snapshot of the settings the controls hold now.
    void snapshot(int code) {
        pushControls();
        conv_.takeSnapshot(code);
    }
    vorla::CodeListSet codeListSet();
    // List1..List8.
    const vorla::ListBox* listBox(int n) const;
    void showSleeping(bool asleep);
    // While the self-test runs it owns the line: nothing here sends, and
    // the controls are not pushed to the conversation (the run sends with
    // its own); at its end they are pushed as they stand then.
    void setLineTaken(bool taken);
    void enableSending();
    void showSnapshotMarks();
    void showPortToolTips();
    void endProgram();

    std::unique_ptr<Ui::frm_7711> ui_;
    vorla::ChipConversation& conv_;
    std::function<void(const QString&)> message_;
    std::function<QString()> savePath_;
    std::function<QString()> capturePath_;
    std::function<QString()> stationPath_;
    std::function<std::vector<vorla::SerialDeviceInfo>()> deviceList_;
    std::function<QString(int16_t, const QString&)> devicePath_;
    std::function<void()> exit_;
    vorla::SelfTestWindow* selfTest_ = nullptr;
    vorla::TimelineWindow* timeline_ = nullptr;
    vorla::StationWindow* station_ = nullptr;
    bool lineTaken_ = false;
};
