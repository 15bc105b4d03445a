// SPDX-License-Identifier: MIT
#include "ui/wrap_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextOption>

void WrapButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    QTextOption layout(Qt::AlignCenter);
    layout.setWrapMode(QTextOption::WrapAnywhere);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(QRectF(rect().adjusted(2, 2, -2, -2)), caption, layout);
}
