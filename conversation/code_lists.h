// SPDX-License-Identifier: MIT
// The four code lists: choosing one, inserting into it, deleting from it,
// and the lists as values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "conversation/list_box.h"
#include "protocol/commands.h"

namespace vorla {

constexpr int kCodeLists = 4;

struct CodeListSet {
    std::array<ListBox*, kCodeLists> lists{};
    // The option buttons that choose code 1..4, as selected in the window.
    std::array<bool, kCodeLists> chosen{};
    // The first chosen list (the one delete and delete all act on), or -1.
    int firstChosen() const;
};

// The items a code list holds when the window opens: display text and code.
std::vector<CodeListItem> InitialCodeList(int list);  // 0..3 for code 1..4

// The four code lists as values: what the conversation with the chip plays.
using CodeListItems = std::vector<CodeListItem>;
using CodeListValues = std::array<CodeListItems, kCodeLists>;
CodeListItems ItemsOf(const ListBox& list);
CodeListValues InitialCodeLists();

// A read-only list box over items held by value, as code frames are built
// from list boxes.
class ItemsListBox : public ListBox {
public:
    ItemsListBox() = default;
    explicit ItemsListBox(CodeListItems items) : items_(std::move(items)) {}
    const CodeListItems& items() const { return items_; }
    int listCount() const override { return int(items_.size()); }
    int listIndex() const override { return -1; }
    void setListIndex(int) override {}
    QString itemText(int i) const override { return valid(i) ? items_[size_t(i)].text : QString(); }
    int32_t itemData(int i) const override { return valid(i) ? items_[size_t(i)].code : 0; }
    void setItemData(int, int32_t) override {}
    void addItem(const QString&, int) override {}
    void removeItem(int) override {}
    void clear() override {}
    bool isEnabled() const override { return true; }
    void setEnabled(bool) override {}

private:
    bool valid(int i) const { return i >= 0 && i < listCount(); }
    CodeListItems items_;
};

// Inserts below the selected item of every chosen list and selects it.
void InsertIntoCodeList(const CodeListSet& set, const QString& text, int32_t code);
// The insert buttons of the four stored-item lists: nothing when nothing is
// selected in the source list.
void InsertStoredItem(const CodeListSet& set, const ListBox& source, uint8_t base);
// The insert button of the text: nothing for an empty text.
void InsertText(const CodeListSet& set, const QString& text);
// Removes the selected item and selects the last one.
void DeleteSelectedItem(ListBox& list);
// The delete and delete-all buttons: on the first chosen list.
void DeleteChosenItem(const CodeListSet& set);
void ClearChosenList(const CodeListSet& set);
// Makes list k the chosen one: enabled, its last item selected; the others
// disabled and without selection.
void ChooseCodeList(const CodeListSet& set, int k);

}  // namespace vorla
