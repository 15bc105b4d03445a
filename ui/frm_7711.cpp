// SPDX-License-Identifier: MIT
#include "ui/frm_7711.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QSysInfo>

#include "ui/line_timeline.h"
#include "ui/self_test_window.h"
#include "ui/station_window.h"
#include "ui/widget_helpers.h"
#include "ui_frm_7711.h"

using namespace vorla;

namespace {
int16_t Checked(const QAbstractButton* box) { return box->isChecked() ? 1 : 0; }
}  // namespace

frm_7711::frm_7711(ChipConversation& conversation, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frm_7711>()), conv_(conversation) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(750, 741);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    setFont(font);
    setStyleSheet(QStringLiteral("QRadioButton, QCheckBox { spacing: 2px; }"));
    // The lyric lines show what the chip sings; they are not for typing.
    for (QLineEdit* line : {ui_->Text1, ui_->Text2}) line->setReadOnly(true);
    // Narrow combo boxes show the start of their text, not its end.
    for (QComboBox* box : {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo5})
        connect(box, &QComboBox::currentIndexChanged, box, [box] { box->lineEdit()->setCursorPosition(0); });
    fillLists();
    message_ = [this](const QString& text) { ShowMessage(this, text); };
    exit_ = [] { QCoreApplication::exit(0); };
    savePath_ = [this] { return AskSavePath(this); };
    capturePath_ = [this] { return AskCapturePath(this); };
    stationPath_ = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("打开测试台文件"), QString(),
                                            QStringLiteral("测试台文件 (*.json);;所有文件 (*)"));
    };
    deviceList_ = [] { return PresentSerialDevices(); };
    devicePath_ = [this](int16_t port, const QString& current) { return AskDevicePath(this, port, current); };
    setUpMenus();
    Form_Load();
    for (QComboBox* box : {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo5}) box->lineEdit()->setCursorPosition(0);
    connectControls();
    connectConversation();
    pushControls();
    pushCodeLists();
    showPortToolTips();
}

frm_7711::~frm_7711() {
    // The lists empty themselves as they go: nothing is pushed then.
    for (ListBoxWidget* list : {ui_->List5, ui_->List6, ui_->List7, ui_->List8})
        disconnect(list->model(), nullptr, this, nullptr);
}

void frm_7711::fillLists() {
    const std::pair<ListBoxWidget*, ItemKind> stored[] = {{ui_->List1, ItemKind::Music},
                                                          {ui_->List2, ItemKind::Phrase},
                                                          {ui_->List3, ItemKind::Poem},
                                                          {ui_->List4, ItemKind::Sound}};
    for (const auto& [list, kind] : stored) list->fill(StoredItems(kind));
    ListBoxWidget* codes[] = {ui_->List5, ui_->List6, ui_->List7, ui_->List8};
    for (int k = 0; k < kCodeLists; ++k) {
        codes[k]->setShowMarks(true);  // code lists may hold typed text
        for (const CodeListItem& item : InitialCodeList(k)) codes[k]->append(item.text, item.code);
    }
}

// The window opens with the controls' start-up values, the one place they are
// written down.
void frm_7711::Form_Load() {
    writeControls(Controls::startUp());
    (conv_.portNumber() == 2 ? ui_->Option12 : ui_->Option11)->setChecked(true);
    ui_->Option1->setChecked(true);  // inserts go to code 1
    ChooseCodeList(codeListSet(), 0);
    ui_->Label11->setText(QString());
}

void frm_7711::writeControls(const Controls& c) {
    const PlaySettings& s = c.play;
    const std::pair<QAbstractButton*, int16_t> checks[] = {{ui_->Check4, s.readOneAsYao},
                                                           {ui_->Check3, s.readPunctuation},
                                                           {ui_->Check2, s.readAsName},
                                                           {ui_->Check5, s.lyricsBack},
                                                           {ui_->Check1, s.finishReport}};
    for (const auto& [box, on] : checks) box->setChecked(on != 0);
    QRadioButton* volumes[] = {ui_->Option3, ui_->Option4, ui_->Option5, ui_->Option6, ui_->Option7, ui_->Option8};
    if (s.volumeLevel >= 0 && s.volumeLevel < 6) volumes[s.volumeLevel]->setChecked(true);
    ui_->Combo5->setCurrentIndex(s.repeatIndex);
    ui_->Combo1->setCurrentIndex(s.musicIndex);
    ui_->Combo2->setCurrentIndex(c.baudIndex);
    ui_->Combo3->setCurrentIndex(c.outputIndex);
    ListBoxWidget* items[] = {ui_->List1, ui_->List2, ui_->List3, ui_->List4};  // in ItemKind order
    for (size_t k = 0; k < 4; ++k) items[k]->setListIndex(c.itemIndex[k]);
    QString text = c.text;
    ui_->Text3->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ui_->Text5->setText(c.rawText);
}

void frm_7711::connectControls() {
    // Every button runs the handler named after it (Command6 → Command6_Click),
    // connected here by name in code, so a renamed button fails to build.
    const std::pair<QAbstractButton*, void (frm_7711::*)()> buttons[] = {
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
    for (const auto& [button, handler] : buttons) connect(button, &QAbstractButton::clicked, this, handler);
    // Option buttons act when they become selected.
    const std::pair<QAbstractButton*, std::function<void()>> options[] = {
        {ui_->Option1, [this] { ChooseCodeList(codeListSet(), 0); }},
        {ui_->Option2, [this] { ChooseCodeList(codeListSet(), 1); }},
        {ui_->Option9, [this] { ChooseCodeList(codeListSet(), 2); }},
        {ui_->Option10, [this] { ChooseCodeList(codeListSet(), 3); }},
        {ui_->Option11, [this] { Option11_Click(); }},
        {ui_->Option12, [this] { Option12_Click(); }}};
    for (const auto& [button, action] : options)
        connect(button, &QAbstractButton::toggled, this, [action = action](bool on) {
            if (on) action();
        });
    // Every control a command reads: the conversation always has their values.
    for (QCheckBox* box : {ui_->Check1, ui_->Check2, ui_->Check3, ui_->Check4, ui_->Check5})
        connect(box, &QAbstractButton::toggled, this, &frm_7711::pushControls);
    for (QRadioButton* level : {ui_->Option3, ui_->Option4, ui_->Option5, ui_->Option6, ui_->Option7, ui_->Option8})
        connect(level, &QAbstractButton::toggled, this, &frm_7711::pushControls);
    for (QComboBox* box : {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo5})
        connect(box, &QComboBox::editTextChanged, this, &frm_7711::pushControls);
    for (ListBoxWidget* list : {ui_->List1, ui_->List2, ui_->List3, ui_->List4})
        connect(list, &QListWidget::currentRowChanged, this, &frm_7711::pushControls);
    connect(ui_->Text3, &QPlainTextEdit::textChanged, this, &frm_7711::pushControls);
    // Every edit of a code list, whichever button or menu made it.
    for (ListBoxWidget* list : {ui_->List5, ui_->List6, ui_->List7, ui_->List8}) {
        const QAbstractItemModel* model = list->model();
        const auto push = [this] { pushCodeLists(); };
        connect(model, &QAbstractItemModel::rowsInserted, this, push);
        connect(model, &QAbstractItemModel::rowsRemoved, this, push);
        connect(model, &QAbstractItemModel::modelReset, this, push);
        connect(model, &QAbstractItemModel::dataChanged, this, push);
    }
    connect(ui_->Text5, &QLineEdit::textChanged, this, &frm_7711::pushControls);
}

void frm_7711::connectConversation() {
    connect(&conv_, &ChipConversation::statusChanged, this, [this](const QString& text) {
        if (!lineTaken_) ui_->Label11->setText(text);
    });
    connect(&conv_.log(), &FrameLog::appended, this,
            [this](const QString& chunk) { AppendToLogView(*ui_->Text4, chunk); });
    connect(&conv_.log(), &FrameLog::cleared, ui_->Text4, &QPlainTextEdit::clear);
    const auto line = [this](int box) { return box == 1 ? ui_->Text1 : ui_->Text2; };
    connect(&conv_, &ChipConversation::lyricLineChanged, this,
            [line](int box, const QString& text) { line(box)->setText(text); });
    connect(&conv_, &ChipConversation::lyricHighlighted, this,
            [line](int box, int start, int length) { Highlight(*line(box), start, length); });
    connect(&conv_, &ChipConversation::lyricSelectionCleared, this, [line](int box) { Highlight(*line(box), 0, 0); });
    connect(&conv_, &ChipConversation::sleepingChanged, this, &frm_7711::showSleeping);
    connect(&conv_, &ChipConversation::snapshotsChanged, this, &frm_7711::showSnapshotMarks);
    connect(&conv_, &ChipConversation::devicesChanged, this, &frm_7711::showPortToolTips);
    connect(&conv_, &ChipConversation::formatRejected, this, [this](const QString& text) {
        if (message_) message_(text);
    });
}

// ---- reading the controls

QString frm_7711::Text3Text() const { return TextForChip(*ui_->Text3); }

int16_t frm_7711::ListIndexOf(const QComboBox* box) { return ::ListIndexOf(*box); }

Controls frm_7711::readControls() const {
    Controls c;
    PlaySettings& s = c.play;
    s.readOneAsYao = Checked(ui_->Check4);
    s.readPunctuation = Checked(ui_->Check3);
    s.readAsName = Checked(ui_->Check2);
    s.repeatIndex = ListIndexOf(ui_->Combo5);
    s.lyricsBack = Checked(ui_->Check5);
    s.musicIndex = ListIndexOf(ui_->Combo1);
    const QRadioButton* volumes[] = {ui_->Option3, ui_->Option4, ui_->Option5,
                                     ui_->Option6, ui_->Option7, ui_->Option8};
    s.volumeLevel =
        int16_t(std::find_if(std::begin(volumes), std::end(volumes), [](auto* o) { return o->isChecked(); }) -
                std::begin(volumes));
    s.finishReport = Checked(ui_->Check1);
    c.text = Text3Text();
    const ListBoxWidget* items[] = {ui_->List1, ui_->List2, ui_->List3, ui_->List4};  // in ItemKind order
    for (size_t k = 0; k < 4; ++k) c.itemIndex[k] = int16_t(items[k]->listIndex());
    c.baudIndex = ListIndexOf(ui_->Combo2);
    c.outputIndex = ListIndexOf(ui_->Combo3);
    c.rawText = ui_->Text5->text();
    return c;
}

void frm_7711::pushCodeLists() {
    if (lineTaken_) return;
    conv_.setCodeLists({ItemsOf(*ui_->List5), ItemsOf(*ui_->List6), ItemsOf(*ui_->List7), ItemsOf(*ui_->List8)});
}

void frm_7711::send(Command command) {
    if (lineTaken_) return;
    pushControls();
    conv_.send(command);
}

// ---- what the conversation reports

void frm_7711::showSleeping(bool asleep) {
    ui_->Command11->setText(asleep ? QStringLiteral("唤  醒") : QStringLiteral("睡  眠"));
    enableSending();
}

void frm_7711::enableSending() {
    const bool asleep = conv_.sleeping();
    // Asleep, the chip hears only the wake frame.
    QPushButton* playing[] = {ui_->Command1,  ui_->Command3,  ui_->Command4,  ui_->Command5,  ui_->Command6,
                              ui_->Command12, ui_->Command13, ui_->Command10, ui_->Command26, ui_->Command27};
    for (QPushButton* button : playing) button->setEnabled(!asleep && !lineTaken_);
    QWidget* line[] = {ui_->Command11, ui_->btn_fasong, ui_->btn_fasong2, ui_->Command22, ui_->Command23,
                       ui_->Command24, ui_->Command25,  ui_->Option11,    ui_->Option12};
    for (QWidget* control : line) control->setEnabled(!lineTaken_);
}

void frm_7711::setLineTaken(bool taken) {
    lineTaken_ = taken;
    enableSending();
    ui_->Label11->setText(taken ? QStringLiteral("芯片自检进行中，发送已停用") : conv_.status());
    if (taken) return;
    pushControls();
    pushCodeLists();
}

void frm_7711::showSnapshotMarks() {
    QPushButton* buttons[] = {ui_->Command22, ui_->Command23, ui_->Command24, ui_->Command25};
    for (int k = 0; k < kCodeLists; ++k) MarkSnapshot(*buttons[k], conv_.hasSnapshot(k));
}

// ---- menus: the log's, and the device behind each port

void frm_7711::setUpMenus() {
    ShowFramesInWords(*ui_->Text4);
    ui_->Text4->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_->Text4, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        std::unique_ptr<QMenu> menu = logMenu(at);
        menu->popup(ui_->Text4->viewport()->mapToGlobal(at));
        menu.release()->setAttribute(Qt::WA_DeleteOnClose);
    });
    for (const auto& [option, port] : {std::pair{ui_->Option11, int16_t(1)}, std::pair{ui_->Option12, int16_t(2)}}) {
        option->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(option, &QWidget::customContextMenuRequested, this,
                [this, option = option, port = port](const QPoint& at) {
                    if (std::unique_ptr<QMenu> menu = deviceMenu(port)) {
                        menu->popup(option->mapToGlobal(at));
                        menu.release()->setAttribute(Qt::WA_DeleteOnClose);
                    }
                });
    }
}

std::unique_ptr<QMenu> frm_7711::logMenu(const QPoint& at) {
    std::unique_ptr<QMenu> menu(ui_->Text4->createStandardContextMenu(at));
    menu->addSeparator();
    menu->addAction(QStringLiteral("保存日志…"), this, &frm_7711::saveLog);
    menu->addAction(QStringLiteral("保存通信记录…"), this, &frm_7711::saveCapture);
    menu->addAction(QStringLiteral("通信时间线…"), this, &frm_7711::openTimeline);
    menu->addAction(QStringLiteral("芯片自检…"), this, &frm_7711::openSelfTest);
    menu->addAction(QStringLiteral("测试台…"), this, &frm_7711::openStation);
    return menu;
}

TimelineWindow* frm_7711::openTimeline() {
    if (!timeline_) timeline_ = new TimelineWindow(conv_, this);
    timeline_->show();
    timeline_->raise();
    return timeline_;
}

SelfTestWindow* frm_7711::openSelfTest() {
    if (!selfTest_) {
        selfTest_ = new SelfTestWindow(conv_, this);
        connect(&selfTest_->selfTest(), &SelfTest::started, this, [this] { setLineTaken(true); });
        connect(&selfTest_->selfTest(), &SelfTest::finished, this, [this] { setLineTaken(false); });
    }
    selfTest_->show();
    selfTest_->raise();
    return selfTest_;
}

StationWindow* frm_7711::openStation() {
    if (station_) {
        station_->show();
        station_->raise();
        return station_;
    }
    const QString path = stationPath_ ? stationPath_() : QString();
    if (path.isEmpty()) return nullptr;
    QFile file(path);
    QString why = file.errorString();
    std::optional<StationPlan> plan;
    if (file.open(QIODevice::ReadOnly)) plan = StationFromJson(file.readAll(), &why);
    RunOptions run;
    run.info.version = QCoreApplication::applicationVersion();
    run.info.station = QSysInfo::machineHostName();
    run.info.operatorName = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
    auto station = std::make_unique<Station>(conv_.clock());
    if (!plan || !station->open(*plan, run, &why)) {
        if (message_) message_(QStringLiteral("测试台无法打开：%1：%2").arg(path, why));
        return nullptr;
    }
    station_ = new StationWindow(std::move(station), this);
    station_->show();
    return station_;
}

void frm_7711::saveLog() {
    const QString path = savePath_ ? savePath_() : QString();
    if (!path.isEmpty()) conv_.saveLog(path);
}

void frm_7711::saveCapture() {
    const QString path = capturePath_ ? capturePath_() : QString();
    if (!path.isEmpty()) conv_.saveCapture(path);
}

std::unique_ptr<QMenu> frm_7711::deviceMenu(int16_t port) {
    if (!conv_.devicesChoosable() || lineTaken_) return nullptr;
    const QString current = conv_.device(port);
    return DeviceMenu(
        this, current, deviceList_ ? deviceList_() : std::vector<SerialDeviceInfo>(),
        [this, port](const QString& path) { conv_.chooseDevice(port, path); },
        [this, port, current] { return devicePath_ ? devicePath_(port, current) : QString(); });
}

void frm_7711::showPortToolTips() {
    ui_->Option11->setToolTip(PortToolTip(1, conv_.device(1), conv_.devicesChoosable()));
    ui_->Option12->setToolTip(PortToolTip(2, conv_.device(2), conv_.devicesChoosable()));
}

// ---- code lists

const ListBox* frm_7711::listBox(int n) const {
    const ListBoxWidget* lists[] = {ui_->List1, ui_->List2, ui_->List3, ui_->List4,
                                    ui_->List5, ui_->List6, ui_->List7, ui_->List8};
    return lists[(n - 1) & 7];
}

CodeListSet frm_7711::codeListSet() {
    return CodeListSet{
        {ui_->List5, ui_->List6, ui_->List7, ui_->List8},
        {ui_->Option1->isChecked(), ui_->Option2->isChecked(), ui_->Option9->isChecked(), ui_->Option10->isChecked()}};
}

// ---- the end

void frm_7711::endProgram() {
    conv_.shutdown();
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
