// SPDX-License-Identifier: MIT
// The demonstration window. Handlers read the controls, call the widget-free
// routines that build frames and make decisions, and hand the results to the
// log and the serial control.
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "codes/code_playback.h"
#include "link/device_choice.h"
#include "link/event_pump.h"
#include "link/frame_link.h"
#include "link/frame_log.h"
#include "link/lyrics.h"
#include "link/reply_handler.h"
#include "link/serial_control.h"
#include "ui/window_state.h"

class QComboBox;
class QMenu;
class QSettings;
class QCheckBox;
class ListBoxWidget;

namespace Ui {
class frm_7711;
}

class frm_7711 : public QWidget,
                 private vorla::ReplyHost,
                 private vorla::LyricDisplay,
                 private vorla::CodePlaybackHost {
    Q_OBJECT
public:
    frm_7711(vorla::SerialControl& port, vorla::EventPump& pump, QWidget* parent = nullptr);
    ~frm_7711() override;

    const vorla::WindowState& state() const { return st_; }
    vorla::WindowState& state() { return st_; }
    const vorla::FrameLog& log() const { return log_; }
    Ui::frm_7711& ui() { return *ui_; }
    // How the format message of the raw sender is shown (a message box by
    // default); tests replace it.
    void setMessageSink(std::function<void(const QString&)> sink) { message_ = std::move(sink); }
    // Where "保存日志…" saves the log (a file dialog by default; an empty
    // path saves nothing); tests replace it.
    void setSavePathSource(std::function<QString()> source) { savePath_ = std::move(source); }
    // Saves the log to the file the save path source names.
    void saveLog();
    // Where the device menu finds the serial devices present (the system's
    // by default), where "输入设备路径…" gets a typed path (an input dialog
    // by default; empty chooses nothing), and where choices are remembered
    // (nowhere by default); tests replace them.
    void setDeviceListSource(std::function<std::vector<vorla::SerialDeviceInfo>()> source) {
        deviceList_ = std::move(source);
    }
    void setDevicePathSource(std::function<QString(int16_t port, const QString& current)> source) {
        devicePath_ = std::move(source);
    }
    void setDeviceMemory(QSettings* settings) { deviceMemory_ = settings; }
    // The device menu a right-click on COM1's or COM2's option opens; none
    // when the port's device is fixed.
    std::unique_ptr<QMenu> deviceMenu(int16_t port);
    // Points a port at a device, as the device menu does.
    void chooseDevice(int16_t port, const QString& device);
    // A line in the log from outside the window (the virtual chip's notices).
    void appendNote(const QString& line) { log_.appendLine(line); }
    // What ending the program does after the port is closed.
    void setExitAction(std::function<void()> action) { exit_ = std::move(action); }

    bool codePlaybackRunning() const { return player_.Running(); }

    // The text of Text3 with its line breaks as CR LF.
    QString Text3Text() const;
    vorla::PlaySettings readPlaySettings() const;
    static int16_t ListIndexOf(const QComboBox* box);

public slots:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Command13_Click();
    void Command14_Click();
    void Command15_Click();
    void Command16_Click();
    void Command17_Click();
    void Command18_Click();
    void Command19_Click();
    void Command20_Click();
    void Command22_Click() { generateCodeParams(0); }
    void Command23_Click() { generateCodeParams(1); }
    void Command24_Click() { generateCodeParams(2); }
    void Command25_Click() { generateCodeParams(3); }
    void Command26_Click();
    void Command27_Click();
    void Option1_Click() { chooseCodeList(0); }
    void Option2_Click() { chooseCodeList(1); }
    void Option9_Click() { chooseCodeList(2); }
    void Option10_Click() { chooseCodeList(3); }
    void Option3_Click() { st_.VolumeLevel = 0; }
    void Option4_Click() { st_.VolumeLevel = 1; }
    void Option5_Click() { st_.VolumeLevel = 2; }
    void Option6_Click() { st_.VolumeLevel = 3; }
    void Option7_Click() { st_.VolumeLevel = 4; }
    void Option8_Click() { st_.VolumeLevel = 5; }
    void Option11_Click() { choosePort(1); }
    void Option12_Click() { choosePort(2); }
    void MSComm1_OnComm();
    void btn_fasong_Click();
    void btn_fasong2_Click();
    void Clr_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();
    vorla::FrameEnds frameEnds() const { return {st_.FrameHead, st_.FrameTail}; }
    void record(const vorla::Frame& frame, int16_t command);
    void fillLists();
    void playStoredItem(ListBoxWidget* list, uint8_t base, int16_t command, bool logFirst);
    void sendSleepWakeFrame();
    void sendBaudFrame(uint8_t mode, int16_t command);
    void sendRaw(bool appendCheckByte);
    void choosePort(int16_t port);
    void setUpDeviceMenus();
    void showPortToolTips();
    void chooseCodeList(int k);
    void generateCodeParams(int k);
    void insertStoredItem(const ListBoxWidget* source, uint8_t base);
    void showSnapshotMarks();
    vorla::CodeListSet codeListSet();
    void appendToLogView(const QString& chunk);
    void endProgram();

    // Replies.
    void setStatus(const QString& text) override;
    void appendLogLine(const QString& line) override { log_.appendLine(line); }
    void resend(int16_t lastCommand) override;
    void clearLyricLines() override;
    void decodeLyrics(const vorla::RxText& text) override;
    // Lyric lines.
    void setLine(int box, const QString& text) override;
    bool lineEmpty(int box) const override;
    void highlight(int box, int start, int length) override;
    void clearSelection(int box) override;
    // Code playback.
    const vorla::ListBox& codeList(int k) override;
    vorla::PlaySettings currentSettings() override { return readPlaySettings(); }
    bool sendCodeFrame(const vorla::Frame& frame) override;

    std::unique_ptr<Ui::frm_7711> ui_;
    vorla::SerialControl& port_;
    vorla::EventPump& pump_;
    vorla::WindowState st_;
    vorla::FrameLog log_;
    vorla::FrameLink link_;
    vorla::CodePlayer player_;
    std::function<void(const QString&)> message_;
    std::function<QString()> savePath_;
    std::function<std::vector<vorla::SerialDeviceInfo>()> deviceList_;
    std::function<QString(int16_t, const QString&)> devicePath_;
    QSettings* deviceMemory_ = nullptr;
    std::function<void()> exit_;
    bool ending_ = false;
};
