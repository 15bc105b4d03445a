// SPDX-License-Identifier: MIT
#include "ui/widget_helpers.h"

#include <algorithm>

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolTip>
#include <QTranslator>

#include "protocol/frame_words.h"

using namespace vorla;

QString TextForChip(const QPlainTextEdit& box) {
    const QString raw = box.document()->toRawText();
    QString text;
    text.reserve(raw.size());
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) text += QStringLiteral("\r\n");
        else text += c;
    }
    return text;
}

int16_t ListIndexOf(const QComboBox& box) {
    const int index = box.currentIndex();
    if (index < 0) return -1;
    if (box.isEditable() && box.currentText() != box.itemText(index)) return -1;
    return int16_t(index);
}

namespace {
// The frame a log record's dump line holds ("-->0x1 0xC0 ..."), or nothing.
QByteArray RecordedFrame(const QString& line) {
    if (!line.startsWith(QStringLiteral("-->"))) return {};
    QByteArray frame;
    for (const QString& token : line.mid(3).split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = token.toUInt(&ok, 16);
        if (!ok || value > 0xFF) return {};
        frame += char(value);
    }
    return frame;
}

class FrameTips : public QObject {
public:
    explicit FrameTips(QPlainTextEdit& view) : QObject(&view), view_(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ToolTip) return QObject::eventFilter(watched, event);
        const auto* help = static_cast<QHelpEvent*>(event);
        QTextBlock block = view_.cursorForPosition(help->pos()).block();
        // The record's first line names the frame the next line holds.
        if (block.text().startsWith(QStringLiteral("发出一帧"))) block = block.next();
        const QByteArray frame = RecordedFrame(block.text());
        if (frame.isEmpty()) QToolTip::hideText();
        else QToolTip::showText(help->globalPos(), vorla::DescribeFrame(frame), &view_);
        return true;
    }

private:
    QPlainTextEdit& view_;
};
}  // namespace

void ShowFramesInWords(QPlainTextEdit& view) { view.viewport()->installEventFilter(new FrameTips(view)); }

void Highlight(QLineEdit& line, int start, int length) {
    if (length == 0) {
        line.deselect();
        line.setCursorPosition(0);
        return;
    }
    line.setFocus();
    line.setSelection(start, length);
}

void AppendToLogView(QPlainTextEdit& view, const QString& chunk) {
    QScrollBar* bar = view.verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    QTextCursor cursor(view.document());
    cursor.movePosition(QTextCursor::End);
    QString shown = chunk;
    shown.remove(u'\r');
    cursor.insertText(shown);
    if (atEnd) bar->setValue(bar->maximum());
}

std::unique_ptr<QMenu> DeviceMenu(QWidget* parent, const QString& current, const std::vector<SerialDeviceInfo>& present,
                                  const std::function<void(const QString&)>& choose,
                                  const std::function<QString()>& typedPath) {
    auto menu = std::make_unique<QMenu>(parent);
    const auto addChoice = [&](const QString& text, const QString& path) {
        QAction* action = menu->addAction(text, parent, [choose, path] { choose(path); });
        action->setCheckable(true);
        action->setChecked(path == current);
    };
    // A typed path (a pseudo-terminal, a link) or a device now gone stays
    // listed while it is the choice.
    if (std::none_of(present.begin(), present.end(), [&](const SerialDeviceInfo& d) { return d.path == current; }))
        addChoice(QStringLiteral("%1（未在设备列表中）").arg(current), current);
    for (const SerialDeviceInfo& device : present) addChoice(DeviceMenuText(device), device.path);
    if (present.empty()) menu->addAction(QStringLiteral("（未找到串口设备）"))->setEnabled(false);
    menu->addSeparator();
    menu->addAction(QStringLiteral("输入设备路径…"), parent, [choose, typedPath] {
        const QString typed = typedPath ? typedPath() : QString();
        if (!typed.isEmpty()) choose(typed);
    });
    return menu;
}

void ShowMessage(QWidget* parent, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // window-modal, returns at once
}

QString AskSavePath(QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("保存日志"), QStringLiteral("vorla-log.txt"),
                                        QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
}

QString AskCapturePath(QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("保存通信记录"), QStringLiteral("vorla-line.pcapng"),
                                        QStringLiteral("pcapng 抓包文件 (*.pcapng);;所有文件 (*)"));
}

QString AskDevicePath(QWidget* parent, int16_t port, const QString& current) {
    return QInputDialog::getText(parent, QStringLiteral("选择设备"), QStringLiteral("COM%1 的设备路径：").arg(port),
                                 QLineEdit::Normal, current)
        .trimmed();
}

void MarkSnapshot(QPushButton& button, bool held) {
    button.setProperty("snapshot", held);
    QPalette palette = button.palette();
    const QPalette normal = button.parentWidget() ? button.parentWidget()->palette() : QPalette();
    palette.setColor(QPalette::ButtonText, held ? QColor(0, 0, 200) : normal.color(QPalette::ButtonText));
    button.setPalette(palette);
    QFont font = button.font();
    font.setUnderline(held);
    button.setFont(font);
}

bool InstallChineseQtTexts(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
