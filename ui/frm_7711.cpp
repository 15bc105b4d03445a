// SPDX-License-Identifier: MIT
#include "ui/frm_7711.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QTextDocument>

#include "codes/code_lists.h"
#include "protocol/catalog.h"
#include "protocol/commands.h"
#include "protocol/hex_text.h"
#include "ui_frm_7711.h"

using namespace vorla;

namespace {
int16_t Checked(const QAbstractButton* box) { return box->isChecked() ? 1 : 0; }
}  // namespace

frm_7711::frm_7711(SerialControl& port, EventPump& pump, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frm_7711>()), port_(port), pump_(pump),
      link_(port, log_, st_.PortNumber, [this](const QString& text) { setStatus(text); }), player_(st_, pump, *this) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(750, 741);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    setFont(font);
    setStyleSheet(QStringLiteral("QRadioButton, QCheckBox { spacing: 2px; }"));
    // Narrow combo boxes show the start of their text, not its end.
    for (QComboBox* box : {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo5})
        connect(box, &QComboBox::currentIndexChanged, box, [box] { box->lineEdit()->setCursorPosition(0); });
    fillLists();
    message_ = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, this);
        box.exec();
    };
    exit_ = [] { QCoreApplication::exit(0); };
    savePath_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存日志"), QStringLiteral("vorla-log.txt"),
                                            QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
    };
    // The log's context menu: the standard entries, and saving the log.
    ui_->Text4->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_->Text4, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        std::unique_ptr<QMenu> menu(ui_->Text4->createStandardContextMenu(at));
        menu->addSeparator();
        menu->addAction(QStringLiteral("保存日志…"), this, &frm_7711::saveLog);
        menu->exec(ui_->Text4->viewport()->mapToGlobal(at));
    });
    setUpDeviceMenus();
    Form_Load();
    for (QComboBox* box : {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo5}) box->lineEdit()->setCursorPosition(0);
    connectHandlers();
}

frm_7711::~frm_7711() = default;

void frm_7711::fillLists() {
    const std::pair<ListBoxWidget*, ItemKind> stored[] = {{ui_->List1, ItemKind::Music},
                                                          {ui_->List2, ItemKind::Phrase},
                                                          {ui_->List3, ItemKind::Poem},
                                                          {ui_->List4, ItemKind::Sound}};
    for (const auto& [list, kind] : stored)
        for (const QString& text : StoredItems(kind)) list->addItem(text, list->count());
    // Code lists may hold typed text: its line breaks and tabs show as marks.
    ListBoxWidget* codes[] = {ui_->List5, ui_->List6, ui_->List7, ui_->List8};
    for (ListBoxWidget* list : codes) list->setShowMarks(true);
    for (int k = 0; k < kCodeLists; ++k) {
        for (const CodeListItem& item : InitialCodeList(k)) {
            codes[k]->addItem(item.text, codes[k]->count());
            codes[k]->setItemData(codes[k]->count() - 1, item.code);
        }
    }
}

void frm_7711::connectHandlers() {
    const std::pair<QAbstractButton*, void (frm_7711::*)()> clicks[] = {
        {ui_->Command1, &frm_7711::Command1_Click},       {ui_->Command2, &frm_7711::Command2_Click},
        {ui_->Command3, &frm_7711::Command3_Click},       {ui_->Command4, &frm_7711::Command4_Click},
        {ui_->Command5, &frm_7711::Command5_Click},       {ui_->Command6, &frm_7711::Command6_Click},
        {ui_->Command10, &frm_7711::Command10_Click},     {ui_->Command11, &frm_7711::Command11_Click},
        {ui_->Command12, &frm_7711::Command12_Click},     {ui_->Command13, &frm_7711::Command13_Click},
        {ui_->Command14, &frm_7711::Command14_Click},     {ui_->Command15, &frm_7711::Command15_Click},
        {ui_->Command16, &frm_7711::Command16_Click},     {ui_->Command17, &frm_7711::Command17_Click},
        {ui_->Command18, &frm_7711::Command18_Click},     {ui_->Command19, &frm_7711::Command19_Click},
        {ui_->Command20, &frm_7711::Command20_Click},     {ui_->Command22, &frm_7711::Command22_Click},
        {ui_->Command23, &frm_7711::Command23_Click},     {ui_->Command24, &frm_7711::Command24_Click},
        {ui_->Command25, &frm_7711::Command25_Click},     {ui_->Command26, &frm_7711::Command26_Click},
        {ui_->Command27, &frm_7711::Command27_Click},     {ui_->btn_fasong, &frm_7711::btn_fasong_Click},
        {ui_->btn_fasong2, &frm_7711::btn_fasong2_Click}, {ui_->Clr, &frm_7711::Clr_Click}};
    for (const auto& [button, handler] : clicks) connect(button, &QAbstractButton::clicked, this, handler);

    // Option buttons raise their handler when they become selected.
    const std::pair<QAbstractButton*, void (frm_7711::*)()> options[] = {
        {ui_->Option1, &frm_7711::Option1_Click},   {ui_->Option2, &frm_7711::Option2_Click},
        {ui_->Option9, &frm_7711::Option9_Click},   {ui_->Option10, &frm_7711::Option10_Click},
        {ui_->Option3, &frm_7711::Option3_Click},   {ui_->Option4, &frm_7711::Option4_Click},
        {ui_->Option5, &frm_7711::Option5_Click},   {ui_->Option6, &frm_7711::Option6_Click},
        {ui_->Option7, &frm_7711::Option7_Click},   {ui_->Option8, &frm_7711::Option8_Click},
        {ui_->Option11, &frm_7711::Option11_Click}, {ui_->Option12, &frm_7711::Option12_Click}};
    for (const auto& [button, handler] : options)
        connect(button, &QAbstractButton::toggled, this, [this, handler = handler](bool on) {
            if (on) (this->*handler)();
        });

    connect(&port_, &SerialControl::commEventRaised, this, &frm_7711::MSComm1_OnComm);
    connect(&port_, &SerialControl::faulted, this, [this](const PortFault& fault) { link_.ReportFault(fault); });
    connect(&log_, &FrameLog::appended, this, &frm_7711::appendToLogView);
    connect(&log_, &FrameLog::cleared, ui_->Text4, &QPlainTextEdit::clear);
}

void frm_7711::Form_Load() {
    st_.RetryCount = 0;
    st_.Sleeping = 0;
    ui_->Check2->setChecked(true);
    ui_->Check3->setChecked(true);
    ui_->List1->setListIndex(0);
    ui_->List2->setListIndex(3);
    ui_->List3->setListIndex(0);
    ui_->List4->setListIndex(2);
    ui_->List5->setEnabled(true);
    ui_->List6->setEnabled(false);
    ui_->List7->setEnabled(false);
    ui_->List8->setEnabled(false);
    ui_->List5->setListIndex(ui_->List5->listCount() - 1);
    st_.CodePosition = 0;
    st_.ResumePending = 0;
    for (CodeParamRecord& record : st_.CodeParams) record[0] = 0;
    ui_->Combo1->setCurrentIndex(4);
    ui_->Combo5->setCurrentIndex(0);
    ui_->Combo2->setCurrentIndex(0);
    port_.setSettings(QStringLiteral("1200,N,8,1"));
    ui_->Combo3->setCurrentIndex(1);
    ui_->Label11->setText(QString());
    st_.PortNumber = 1;
    port_.setCommPort(st_.PortNumber);
    st_.FrameHead = 0x01;
    st_.FrameTail = 0x04;
    st_.VolumeLevel = 1;
    st_.MaxTextBytes = 50;
}

// ---- reading the controls

QString frm_7711::Text3Text() const {
    // The document's own characters: the plain-text reading would turn a
    // no-break space into a space. Only the box's line breaks (paragraph and
    // line separators) become CR LF.
    const QString raw = ui_->Text3->document()->toRawText();
    QString text;
    text.reserve(raw.size());
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) text += QStringLiteral("\r\n");
        else text += c;
    }
    return text;
}

int16_t frm_7711::ListIndexOf(const QComboBox* box) {
    // Text typed into the box that is not the selected item leaves no item
    // selected.
    const int index = box->currentIndex();
    if (index < 0) return -1;
    if (box->isEditable() && box->currentText() != box->itemText(index)) return -1;
    return int16_t(index);
}

PlaySettings frm_7711::readPlaySettings() const {
    PlaySettings s;
    s.readOneAsYao = Checked(ui_->Check4);
    s.readPunctuation = Checked(ui_->Check3);
    s.readAsName = Checked(ui_->Check2);
    s.repeatIndex = ListIndexOf(ui_->Combo5);
    s.lyricsBack = Checked(ui_->Check5);
    s.musicIndex = ListIndexOf(ui_->Combo1);
    s.volumeLevel = st_.VolumeLevel;
    s.finishReport = Checked(ui_->Check1);
    return s;
}

// What the window keeps of the frame about to go out: its check byte, its
// last index and the button that sent it.
void frm_7711::record(const Frame& frame, int16_t command) {
    st_.CheckByte = frame.checkByte();
    st_.FrameLastIndex = frame.lastIndex();
    st_.LastCommand = command;
}

// ---- play commands

void frm_7711::Command6_Click() {
    const auto frame = TextFrame(frameEnds(), readPlaySettings(), Text3Text(), st_.MaxTextBytes);
    if (!frame) return;
    record(*frame, cmd::kText);
    clearLyricLines();
    link_.LogSentFrame(*frame);
    link_.SendFrame(*frame);
}

void frm_7711::playStoredItem(ListBoxWidget* list, uint8_t base, int16_t command, bool logFirst) {
    const Frame frame = ItemFrame(frameEnds(), readPlaySettings(), int16_t(list->listIndex()), base);
    record(frame, command);
    clearLyricLines();
    if (logFirst) {
        link_.LogSentFrame(frame);
        link_.SendFrame(frame);
    } else if (link_.SendFrame(frame)) {
        link_.LogSentFrame(frame);
    }
}

void frm_7711::Command3_Click() { playStoredItem(ui_->List1, kMusicBase, cmd::kMusic, false); }
void frm_7711::Command4_Click() { playStoredItem(ui_->List2, kPhraseBase, cmd::kPhrase, true); }
void frm_7711::Command5_Click() { playStoredItem(ui_->List3, kPoemBase, cmd::kPoem, false); }
void frm_7711::Command12_Click() { playStoredItem(ui_->List4, kSoundBase, cmd::kSound, false); }

// ---- control commands

void frm_7711::Command1_Click() {
    const Frame frame = ControlFrame(frameEnds(), kStopMode);
    record(frame, cmd::kStop);
    clearLyricLines();
    link_.LogSentFrame(frame);
    link_.SendFrame(frame);
}

void frm_7711::Command11_Click() {
    const bool sleep = st_.Sleeping == 0;
    st_.Sleeping = sleep ? 1 : 0;
    ui_->Command11->setText(sleep ? QStringLiteral("唤  醒") : QStringLiteral("睡  眠"));
    QPushButton* buttons[] = {ui_->Command1,  ui_->Command3,  ui_->Command4,  ui_->Command5,  ui_->Command6,
                              ui_->Command12, ui_->Command13, ui_->Command10, ui_->Command26, ui_->Command27};
    for (QPushButton* button : buttons) button->setEnabled(!sleep);
    sendSleepWakeFrame();
}

// The sleep or wake frame that matches Sleeping; a rejected one is sent again
// as it was, without toggling.
void frm_7711::sendSleepWakeFrame() {
    const Frame frame = ControlFrame(frameEnds(), st_.Sleeping != 0 ? kSleepMode : kWakeMode);
    record(frame, cmd::kSleepWake);
    clearLyricLines();
    link_.SendFrame(frame);
}

void frm_7711::sendBaudFrame(uint8_t mode, int16_t command) {
    const Frame frame = ControlFrame(frameEnds(), mode);
    record(frame, command);
    clearLyricLines();
    if (!link_.SendFrame(frame)) return;
    // The frame leaves at the old rate; then the port is switched.
    pump_.blockingWait(100);
    if (pump_.stopping()) return;
    // A device that vanished meanwhile has been reported and its port
    // closed: the next command opens it again, at the new rate.
    const bool vanished = !port_.portOpen();
    port_.setPortOpen(false);
    if (const auto settings = BaudSettingsFor(ListIndexOf(ui_->Combo2))) port_.setSettings(*settings);
    const bool reopened = vanished || port_.setPortOpen(true);
    link_.LogSentFrame(frame);
    if (!reopened) link_.ReportFault(port_.lastFault());
}

void frm_7711::Command10_Click() { sendBaudFrame(BaudModeByte(ListIndexOf(ui_->Combo2)), cmd::kBaud); }

void frm_7711::Command27_Click() {
    sendBaudFrame(BaudAndOutputModeByte(ListIndexOf(ui_->Combo2), ListIndexOf(ui_->Combo3)), cmd::kBaudAndOutput);
}

void frm_7711::Command26_Click() {
    const Frame frame = ControlFrame(frameEnds(), OutputModeByte(ListIndexOf(ui_->Combo3)));
    record(frame, cmd::kOutputMode);
    clearLyricLines();
    link_.SendFrame(frame);
}

// ---- port, program end

void frm_7711::choosePort(int16_t port) {
    if (port_.portOpen()) port_.setPortOpen(false);
    st_.PortNumber = port;
    port_.setCommPort(st_.PortNumber);
}

// ---- the device behind each port

void frm_7711::setUpDeviceMenus() {
    deviceList_ = [] { return PresentSerialDevices(); };
    devicePath_ = [this](int16_t port, const QString& current) {
        return QInputDialog::getText(this, QStringLiteral("选择设备"), QStringLiteral("COM%1 的设备路径：").arg(port),
                                     QLineEdit::Normal, current)
            .trimmed();
    };
    const std::pair<QRadioButton*, int16_t> options[] = {{ui_->Option11, 1}, {ui_->Option12, 2}};
    for (const auto& [option, port] : options) {
        option->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(option, &QWidget::customContextMenuRequested, this,
                [this, option = option, port = port](const QPoint& at) {
                    if (const std::unique_ptr<QMenu> menu = deviceMenu(port)) menu->exec(option->mapToGlobal(at));
                });
    }
    showPortToolTips();
}

std::unique_ptr<QMenu> frm_7711::deviceMenu(int16_t port) {
    const QString current = port_.device(port);
    if (!port_.devicesChoosable()) return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    const auto addChoice = [&](const QString& text, const QString& path) {
        QAction* action = menu->addAction(text, this, [this, port, path] { chooseDevice(port, path); });
        action->setCheckable(true);
        action->setChecked(path == current);
    };
    const std::vector<SerialDeviceInfo> present = deviceList_ ? deviceList_() : std::vector<SerialDeviceInfo>();
    // A typed path (a pseudo-terminal, a link) or a device now gone stays
    // listed while it is the choice.
    if (std::none_of(present.begin(), present.end(), [&](const SerialDeviceInfo& d) { return d.path == current; }))
        addChoice(QStringLiteral("%1（未在设备列表中）").arg(current), current);
    for (const SerialDeviceInfo& device : present) addChoice(DeviceMenuText(device), device.path);
    if (present.empty()) menu->addAction(QStringLiteral("（未找到串口设备）"))->setEnabled(false);
    menu->addSeparator();
    menu->addAction(QStringLiteral("输入设备路径…"), this, [this, port, current] {
        const QString typed = devicePath_ ? devicePath_(port, current) : QString();
        if (!typed.isEmpty()) chooseDevice(port, typed);
    });
    return menu;
}

void frm_7711::chooseDevice(int16_t port, const QString& device) {
    if (!port_.devicesChoosable()) return;
    port_.chooseDevice(port, device);
    if (deviceMemory_) RememberDevice(*deviceMemory_, port, device);
    // The port in use lets go of its old device; the next send opens the new one.
    if (st_.PortNumber == port && port_.portOpen()) port_.setPortOpen(false);
    showPortToolTips();
}

void frm_7711::showPortToolTips() {
    const std::pair<QRadioButton*, int16_t> options[] = {{ui_->Option11, 1}, {ui_->Option12, 2}};
    for (const auto& [option, port] : options) {
        option->setToolTip(PortToolTip(port, port_.device(port), port_.devicesChoosable()));
    }
}

void frm_7711::endProgram() {
    if (ending_) return;
    ending_ = true;
    if (port_.portOpen()) port_.setPortOpen(false);
    // Every wait returns at once and no run sends anything more.
    pump_.requestStop();
    if (exit_) exit_();
}

void frm_7711::Command2_Click() {
    endProgram();
    hide();
}

void frm_7711::closeEvent(QCloseEvent* event) {
    endProgram();
    event->accept();
}

// ---- raw hexadecimal sender

void frm_7711::sendRaw(bool appendCheckByte) {
    st_.CheckByte = 0;
    const HexText parsed = ParseHexText(ui_->Text5->text());
    if (parsed.status == HexTextStatus::Empty) return;
    if (parsed.status == HexTextStatus::NotHex) {
        if (message_) message_(QStringLiteral("格式不匹配，不是16进制数值"));
        return;
    }
    // Recorded only for a frame that goes out, so that a rejection of an
    // earlier frame never runs this sender on a text that sends nothing.
    st_.LastCommand = appendCheckByte ? cmd::kRawAutoCheck : cmd::kRawManualCheck;
    const Frame frame = RawFrame(parsed.bytes, appendCheckByte);
    st_.CheckByte = appendCheckByte ? frame.checkByte() : 0;  // a typed check byte is not computed
    st_.FrameLastIndex = frame.lastIndex();
    link_.LogSentFrame(frame);
    link_.SendFrame(frame);
}

void frm_7711::btn_fasong_Click() { sendRaw(true); }
void frm_7711::btn_fasong2_Click() { sendRaw(false); }
void frm_7711::Clr_Click() { log_.clear(); }

void frm_7711::saveLog() {
    const QString path = savePath_ ? savePath_() : QString();
    if (path.isEmpty()) return;
    QString error;
    if (log_.saveTo(path, &error)) return;
    // Said in the status label and the log; the log itself stays whole.
    setStatus(QStringLiteral("日志保存失败"));
    log_.appendLine(QStringLiteral("日志保存失败：%1：%2").arg(path, error));
}

// ---- replies

void frm_7711::MSComm1_OnComm() { HandleComm(port_, st_, pump_, *this, LyricWaitMs(ListIndexOf(ui_->Combo2))); }

void frm_7711::setStatus(const QString& text) { ui_->Label11->setText(text); }

// The resend table: what a rejection runs again, by LastCommand. A sleep or
// wake frame goes again as it was, without toggling.
void frm_7711::resend(int16_t lastCommand) {
    static constexpr std::pair<int16_t, void (frm_7711::*)()> kResend[] = {
        {cmd::kStop, &frm_7711::Command1_Click},           {cmd::kMusic, &frm_7711::Command3_Click},
        {cmd::kPhrase, &frm_7711::Command4_Click},         {cmd::kPoem, &frm_7711::Command5_Click},
        {cmd::kText, &frm_7711::Command6_Click},           {cmd::kBaud, &frm_7711::Command10_Click},
        {cmd::kSleepWake, &frm_7711::sendSleepWakeFrame},  {cmd::kSound, &frm_7711::Command12_Click},
        {cmd::kOutputMode, &frm_7711::Command26_Click},    {cmd::kBaudAndOutput, &frm_7711::Command27_Click},
        {cmd::kRawAutoCheck, &frm_7711::btn_fasong_Click}, {cmd::kRawManualCheck, &frm_7711::btn_fasong2_Click}};
    for (const auto& [command, handler] : kResend)
        if (command == lastCommand) (this->*handler)();
}

void frm_7711::clearLyricLines() {
    ui_->Text1->setText(QString());
    ui_->Text2->setText(QString());
}

void frm_7711::decodeLyrics(const RxText& text) { DecodeLyrics(text, reply::kLyricLineLength, *this, pump_, st_); }

void frm_7711::setLine(int box, const QString& text) { (box == 1 ? ui_->Text1 : ui_->Text2)->setText(text); }

bool frm_7711::lineEmpty(int box) const { return (box == 1 ? ui_->Text1 : ui_->Text2)->text().isEmpty(); }

void frm_7711::highlight(int box, int start, int length) {
    QLineEdit* line = box == 1 ? ui_->Text1 : ui_->Text2;
    line->setFocus();
    line->setSelection(start, length);
}

void frm_7711::clearSelection(int box) {
    QLineEdit* line = box == 1 ? ui_->Text1 : ui_->Text2;
    line->deselect();
    line->setCursorPosition(0);
}

// ---- code lists

CodeListSet frm_7711::codeListSet() {
    CodeListSet set;
    set.lists = {ui_->List5, ui_->List6, ui_->List7, ui_->List8};
    set.chosen = {ui_->Option1->isChecked(), ui_->Option2->isChecked(), ui_->Option9->isChecked(),
                  ui_->Option10->isChecked()};
    return set;
}

void frm_7711::chooseCodeList(int k) {
    CodeListSet set = codeListSet();
    ChooseCodeList(set, k);
}

void frm_7711::insertStoredItem(const ListBoxWidget* source, uint8_t base) {
    CodeListSet set = codeListSet();
    InsertStoredItem(set, *source, base);
}

void frm_7711::Command16_Click() { insertStoredItem(ui_->List1, kMusicBase); }
void frm_7711::Command17_Click() { insertStoredItem(ui_->List2, kPhraseBase); }
void frm_7711::Command18_Click() { insertStoredItem(ui_->List3, kPoemBase); }
void frm_7711::Command19_Click() { insertStoredItem(ui_->List4, kSoundBase); }

void frm_7711::Command20_Click() {
    const QString text = Text3Text();
    if (text.isEmpty()) return;
    CodeListSet set = codeListSet();
    InsertIntoCodeList(set, text, 0);
}

void frm_7711::Command14_Click() {
    CodeListSet set = codeListSet();
    const int k = set.firstChosen();
    if (k >= 0) DeleteSelectedItem(*set.lists[size_t(k)]);
}

void frm_7711::Command15_Click() {
    CodeListSet set = codeListSet();
    const int k = set.firstChosen();
    if (k >= 0) set.lists[size_t(k)]->clear();
}

void frm_7711::generateCodeParams(int k) {
    GenerateCodeParams(st_.CodeParams[size_t(k)], readPlaySettings());
    showSnapshotMarks();
}

// A code whose parameters hold a snapshot has its button drawn in blue.
void frm_7711::showSnapshotMarks() {
    QPushButton* buttons[] = {ui_->Command22, ui_->Command23, ui_->Command24, ui_->Command25};
    for (size_t k = 0; k < 4; ++k) {
        const bool held = st_.CodeParams[k][0] != 0;
        buttons[k]->setProperty("snapshot", held);
        QPalette palette = buttons[k]->palette();
        palette.setColor(QPalette::ButtonText, held ? QColor(0, 0, 200) : this->palette().color(QPalette::ButtonText));
        buttons[k]->setPalette(palette);
        QFont font = buttons[k]->font();
        font.setUnderline(held);
        buttons[k]->setFont(font);
    }
}

void frm_7711::Command13_Click() {
    player_.Play();
    showSnapshotMarks();
}

const ListBox& frm_7711::codeList(int k) {
    const ListBoxWidget* lists[] = {ui_->List5, ui_->List6, ui_->List7, ui_->List8};
    return *lists[size_t(k) & 3];
}

bool frm_7711::sendCodeFrame(const Frame& frame) {
    if (!link_.SendFrame(frame)) return false;
    link_.LogSentFrame(frame);
    return true;
}

// ---- log view

void frm_7711::appendToLogView(const QString& chunk) {
    QPlainTextEdit* view = ui_->Text4;
    QScrollBar* bar = view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    QString shown = chunk;
    shown.remove(u'\r');
    cursor.insertText(shown);
    if (atEnd) bar->setValue(bar->maximum());
}
