// SPDX-License-Identifier: MIT
// A list box as the window's lists behave: one selected item that the
// operator can move but not clear, an integer per item, and the item's full
// text kept. A list that may hold typed text shows its line breaks and tabs
// as visible marks on one line.
#pragma once

#include <QListWidget>

#include "conversation/list_box.h"

class ListBoxWidget : public QListWidget, public vorla::ListBox {
    Q_OBJECT
public:
    explicit ListBoxWidget(QWidget* parent = nullptr);

    static QString DisplayText(const QString& text);
    // Line breaks as ↵ and tabs as → for items added from now on.
    void setShowMarks(bool show) { showMarks_ = show; }
    // Adds the texts in order, each item's integer its index.
    void fill(const QStringList& texts);

    int listCount() const override { return count(); }
    int listIndex() const override;
    void setListIndex(int index) override;
    QString itemText(int index) const override;
    int32_t itemData(int index) const override;
    void setItemData(int index, int32_t data) override;
    void addItem(const QString& text, int index) override;
    void removeItem(int index) override;
    void clear() override { QListWidget::clear(); }
    bool isEnabled() const override { return QListWidget::isEnabled(); }
    void setEnabled(bool enabled) override { QListWidget::setEnabled(enabled); }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override;

private:
    bool showMarks_ = false;
};
