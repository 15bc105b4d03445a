#include "codes/list_box.h"

namespace vorla {

void VectorListBox::addItem(const QString& text, int index) {
    if (index < 0 || index > listCount()) index = listCount();
    items_.insert(items_.begin() + index, Item{text, 0});
    if (index_ >= index) ++index_;
}

void VectorListBox::removeItem(int index) {
    if (!valid(index)) return;
    items_.erase(items_.begin() + index);
    if (index_ == index) index_ = -1;
    else if (index_ > index) --index_;
}

}  // namespace vorla
