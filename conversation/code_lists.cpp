// SPDX-License-Identifier: MIT
#include "conversation/code_lists.h"

#include <algorithm>

#include "protocol/catalog.h"
#include "protocol/commands.h"
#include "protocol/text_encoding.h"

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

Frame CodeFrame(const FrameEnds& ends, const ListBox& list, const std::optional<PlayHeader>& snapshot,
                const PlaySettings& current, int16_t maxTextBytes) {
    std::vector<uint8_t> f = PlayFrameStart(ends, snapshot.value_or(PlayHeaderFor(current)));
    // The body ends when it holds maxTextBytes bytes; it never runs past the
    // room left for the tail and check byte, whatever maxTextBytes says.
    const size_t bodyEnd = size_t(std::clamp(maxTextBytes + 3, 4, kFrameBufferSize - 2));
    const auto full = [&] { return f.size() >= bodyEnd; };
    const int count = list.listCount();
    for (int k = 0; k < count && !full(); ++k) {
        const int32_t code = list.itemData(k);
        if (code != 0) {
            f.push_back(uint8_t(int16_t(code) / 256));
            f.push_back(uint8_t(int16_t(code) % 256));
            continue;
        }
        SynthesisEncoder encoder;
        for (QStringView ch : SplitCharacters(list.itemText(k))) {
            const auto bytes = encoder.encode(ch);
            f.insert(f.end(), bytes.begin(), bytes.end());
            if (full()) break;
        }
    }
    f.push_back(ends.tail);
    return Frame::Sealed(std::move(f));
}

}  // namespace vorla
