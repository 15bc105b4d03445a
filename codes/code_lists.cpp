// SPDX-License-Identifier: MIT
#include "codes/code_lists.h"

#include "protocol/catalog.h"
#include "protocol/text_encoding.h"

namespace vorla {

int CodeListSet::firstChosen() const {
    for (int k = 0; k < kCodeLists; ++k)
        if (chosen[size_t(k)] && lists[size_t(k)]) return k;
    return -1;
}

void InsertIntoCodeList(CodeListSet& set, const QString& text, int32_t code) {
    for (int k = 0; k < kCodeLists; ++k) {
        ListBox* list = set.lists[size_t(k)];
        if (!set.chosen[size_t(k)] || !list) continue;
        const int at = list->listIndex() + 1;
        list->addItem(text, at);
        list->setItemData(at, code);
        list->setListIndex(at);
    }
}

void InsertStoredItem(CodeListSet& set, const ListBox& source, uint8_t base, WindowState& st) {
    st.ItemIndex = int16_t(source.listIndex());
    if (st.ItemIndex < 0) return;
    const QString text = source.itemText(st.ItemIndex);
    const ItemSplit split = SplitItemIndex(st.ItemIndex);
    st.ItemHigh = split.high;
    st.ItemLow = split.low;
    InsertIntoCodeList(set, text, ItemCode(st.ItemIndex, base));
}

void DeleteSelectedItem(ListBox& list) {
    if (list.listCount() <= 0) return;
    list.removeItem(list.listIndex());
    list.setListIndex(list.listCount() - 1);
}

void ChooseCodeList(CodeListSet& set, int k) {
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

void GenerateCodeParams(CodeParamRecord& record, const PlaySettings& s) {
    // The same sums as every play command; for the values the controls can
    // take (list index -1 included) they stay within 0..255.
    record[1] = OptionByte(s);
    record[0] = kPlayMode;
    record[2] = SoundByte(s);
}

void BuildCodeFrame(WindowState& st, const ListBox& list, const CodeParamRecord& record, const PlaySettings& current) {
    FrameArray& f = st.CodeFrameBuffer;
    f[0] = st.FrameHead;
    if (record[0] != 0) {
        f[1] = uint8_t(record[0]);
        f[2] = uint8_t(record[1]);
        f[3] = uint8_t(record[2]);
    } else {
        f[2] = OptionByte(current);
        f[3] = SoundByte(current);
        f[1] = kPlayMode;
    }
    // The body ends when it holds MaxTextBytes bytes; it never runs past the
    // room left for the tail and check byte, whatever MaxTextBytes says.
    const int bodyEnd = std::min(st.MaxTextBytes + 3, kFrameBufferSize - 2);
    int16_t& at = st.FrameLastIndex;
    at = 4;
    const int count = list.listCount();
    for (int k = 0; k < count && at < bodyEnd; ++k) {
        const int32_t code = list.itemData(k);
        if (code == 0) {
            const QString text = list.itemText(k);
            SynthesisEncoder encoder;
            for (QStringView ch : SplitCharacters(text)) {
                const auto bytes = encoder.encode(ch);
                f[size_t(at)] = bytes[0];
                f[size_t(at) + 1] = bytes[1];
                at = int16_t(at + 2);
                if (at >= bodyEnd) break;
            }
        } else {
            f[size_t(at)] = uint8_t(int16_t(code) / 256);
            f[size_t(at) + 1] = uint8_t(int16_t(code) % 256);
            at = int16_t(at + 2);
        }
    }
    f[size_t(at)] = st.FrameTail;
    CompleteFrame(f, at, st.CheckByte, st.ByteIndex);
}

}  // namespace vorla
