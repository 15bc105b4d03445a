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
    virtual void removeItem(int index) = 0;
    virtual void clear() = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class VectorListBox : public ListBox {
public:
    struct Item {
        QString text;
        int32_t data = 0;
    };
    int listCount() const override { return int(items_.size()); }
    int listIndex() const override { return index_; }
    void setListIndex(int index) override { index_ = (index >= 0 && index < listCount()) ? index : -1; }
    QString itemText(int index) const override { return valid(index) ? items_[size_t(index)].text : QString(); }
    int32_t itemData(int index) const override { return valid(index) ? items_[size_t(index)].data : 0; }
    void setItemData(int index, int32_t data) override {
        if (valid(index)) items_[size_t(index)].data = data;
    }
    void addItem(const QString& text, int index) override;
    void removeItem(int index) override;
    void clear() override {
        items_.clear();
        index_ = -1;
    }
    bool isEnabled() const override { return enabled_; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }

private:
    bool valid(int index) const { return index >= 0 && index < listCount(); }
    std::vector<Item> items_;
    int index_ = -1;
    bool enabled_ = true;
};

}  // namespace vorla
