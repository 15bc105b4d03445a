// SPDX-License-Identifier: MIT
#include "ui/list_box_widget.h"

namespace {
constexpr int kTextRole = Qt::UserRole;
constexpr int kDataRole = Qt::UserRole + 1;
}  // namespace

ListBoxWidget::ListBoxWidget(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

QString ListBoxWidget::DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("↵"));
    shown.replace(u'\r', QStringLiteral("↵"));
    shown.replace(u'\n', QStringLiteral("↵"));
    shown.replace(u'\t', QStringLiteral("→"));
    return shown;
}

void ListBoxWidget::fill(const QStringList& texts) {
    for (const QString& text : texts) addItem(text, count());
}

int ListBoxWidget::listIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void ListBoxWidget::setListIndex(int index) {
    if (index < 0 || index >= count()) {
        clearSelection();
        setCurrentRow(-1);
        return;
    }
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(index));
}

QString ListBoxWidget::itemText(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->data(kTextRole).toString() : QString();
}

int32_t ListBoxWidget::itemData(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->data(kDataRole).toInt() : 0;
}

void ListBoxWidget::setItemData(int index, int32_t data) {
    if (QListWidgetItem* it = item(index)) it->setData(kDataRole, data);
}

void ListBoxWidget::addItem(const QString& text, int index) {
    if (index < 0 || index > count()) index = count();
    auto* it = new QListWidgetItem(showMarks_ ? DisplayText(text) : text);
    it->setData(kTextRole, text);
    it->setData(kDataRole, 0);
    it->setToolTip(text);
    insertItem(index, it);
}

void ListBoxWidget::removeItem(int index) { delete takeItem(index); }

QItemSelectionModel::SelectionFlags ListBoxWidget::selectionCommand(const QModelIndex& index,
                                                                    const QEvent* event) const {
    // A click never clears the selection (no Ctrl+click deselect).
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
    if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        flags = QItemSelectionModel::ClearAndSelect;
    return flags;
}
