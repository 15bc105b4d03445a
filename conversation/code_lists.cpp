// SPDX-License-Identifier: MIT
#include "conversation/code_lists.h"

#include <algorithm>

#include "protocol/catalog.h"
#include "protocol/commands.h"

namespace vorla {

int CodeListSet::firstChosen() const {
    for (int k = 0; k < kCodeLists; ++k)
        if (chosen[size_t(k)] && lists[size_t(k)]) return k;
    return -1;
}

std::vector<CodeListItem> InitialCodeList(int list) {
    switch (list) {
    case 0:
        return {{QStringLiteral("激光声"), 24770},
                {QStringLiteral("激光声"), 24770},
                {QStringLiteral("林先生"), 0},
                {QStringLiteral("来电"), 24739},
                {QStringLiteral("57573146"), 0}};
    case 1: return {{QStringLiteral("雨蝶-------卡拉OK"), 24755}};
    default: return {};
    }
}

CodeListItems ItemsOf(const ListBox& list) {
    CodeListItems items;
    items.reserve(size_t(std::max(list.listCount(), 0)));
    for (int i = 0; i < list.listCount(); ++i) items.push_back(CodeListItem{list.itemText(i), list.itemData(i)});
    return items;
}

CodeListValues InitialCodeLists() {
    CodeListValues lists;
    for (int k = 0; k < kCodeLists; ++k) lists[size_t(k)] = InitialCodeList(k);
    return lists;
}

void InsertIntoCodeList(const CodeListSet& set, const QString& text, int32_t code) {
    for (int k = 0; k < kCodeLists; ++k) {
        ListBox* list = set.lists[size_t(k)];
        if (!set.chosen[size_t(k)] || !list) continue;
        const int at = list->listIndex() + 1;
        list->addItem(text, at);
        list->setItemData(at, code);
        list->setListIndex(at);
    }
}

void InsertStoredItem(const CodeListSet& set, const ListBox& source, uint8_t base) {
    const int16_t index = int16_t(source.listIndex());
    if (index < 0) return;
    InsertIntoCodeList(set, source.itemText(index), ItemCode(index, base));
}

void InsertText(const CodeListSet& set, const QString& text) {
    if (!text.isEmpty()) InsertIntoCodeList(set, text, 0);
}

void DeleteChosenItem(const CodeListSet& set) {
    if (const int k = set.firstChosen(); k >= 0) DeleteSelectedItem(*set.lists[size_t(k)]);
}

void ClearChosenList(const CodeListSet& set) {
    if (const int k = set.firstChosen(); k >= 0) set.lists[size_t(k)]->clear();
}

void DeleteSelectedItem(ListBox& list) {
    if (list.listCount() <= 0) return;
    list.removeItem(list.listIndex());
    list.setListIndex(list.listCount() - 1);
}

void ChooseCodeList(const CodeListSet& set, int k) {
    for (int other = 0; other < kCodeLists; ++other) {
        ListBox* list = set.lists[size_t(other)];
        if (!list) continue;
        list->setEnabled(other == k);
    }
    ListBox* chosen = (k >= 0 && k < kCodeLists) ? set.lists[size_t(k)] : nullptr;
    if (chosen && chosen->listCount() > 0) chosen->setListIndex(chosen->listCount() - 1);
    for (int other = 0; other < kCodeLists; ++other)
        if (other != k && set.lists[size_t(other)]) set.lists[size_t(other)]->setListIndex(-1);
}

}  // namespace vorla
