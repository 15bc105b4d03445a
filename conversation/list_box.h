// SPDX-License-Identifier: MIT
// A single-selection list box with an integer per item, as the code-list
// routines use it; the window's list boxes implement it, tests use the
// vector-backed one.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

namespace vorla {

class ListBox {
public:
    virtual ~ListBox() = default;
    virtual int listCount() const = 0;
    // The selected item, -1 when none.
    virtual int listIndex() const = 0;
    // Selects the item; -1 clears the selection.
    virtual void setListIndex(int index) = 0;
    // The item's full text, line breaks and tabs included.
    virtual QString itemText(int index) const = 0;
    virtual int32_t itemData(int index) const = 0;
    virtual void setItemData(int index, int32_t data) = 0;
    // Inserts at index (0..listCount), moving later items down.
    virtual void addItem(const QString& text, int index) = 0;
    // Adds an item at the end.
    void append(const QString& text, int32_t data) {
        addItem(text, listCount());
        setItemData(listCount() - 1, data);
    }
    virtual void removeItem(int index) = 0;
    virtual void clear() = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

}  // namespace vorla
