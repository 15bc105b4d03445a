// SPDX-License-Identifier: MIT
// What the window's widgets hold, read as the chip needs it, and the widgets
// the window builds on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QString>

#include "serial/device_choice.h"

class QComboBox;
class QLineEdit;
class QCoreApplication;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// The box's own characters, its line breaks (paragraph and line separators)
// as CR LF: a no-break space stays one, as the plain-text reading would not.
QString TextForChip(const QPlainTextEdit& box);

// A combo box's list index; -1 when typed text is not the selected item.
int16_t ListIndexOf(const QComboBox& box);

// A log view's records of sent frames show the frame in words as their
// tooltip.
void ShowFramesInWords(QPlainTextEdit& view);

// A lyric line's highlight: the line gets the focus and `length` characters
// from `start` selected; a length of 0 clears the selection.
void Highlight(QLineEdit& line, int start, int length);

// Appends to a log view, following the end only if it was shown.
void AppendToLogView(QPlainTextEdit& view, const QString& chunk);

// The menu of serial devices for a port: those present, the current one
// checked (listed first when it is not present), and an entry that asks
// for a path.
std::unique_ptr<QMenu> DeviceMenu(QWidget* parent, const QString& current,
                                  const std::vector<vorla::SerialDeviceInfo>& present,
                                  const std::function<void(const QString&)>& choose,
                                  const std::function<QString()>& typedPath);

// The window's dialogs, none with an event loop of its own but the file and
// path dialogs the operator answers.
void ShowMessage(QWidget* parent, const QString& text);
QString AskSavePath(QWidget* parent);
// Where to save the line's capture; empty when cancelled.
QString AskCapturePath(QWidget* parent);
QString AskDevicePath(QWidget* parent, int16_t port, const QString& current);

// A code button whose parameters hold a snapshot: blue and underlined.
void MarkSnapshot(QPushButton& button, bool held);

// Qt's own texts (the text boxes' context menus, the file dialogs' buttons)
// in Chinese, as the window's own are, whatever the system's language; false
// when Qt's Chinese translations are not installed.
bool InstallChineseQtTexts(QCoreApplication& app);
