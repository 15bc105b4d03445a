// SPDX-License-Identifier: MIT
// A push button whose caption wraps onto several lines when the button is
// too narrow for it, as tall narrow buttons need.
#pragma once

#include <QPushButton>

class WrapButton : public QPushButton {
    Q_OBJECT
public:
    explicit WrapButton(QWidget* parent = nullptr) : QPushButton(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
