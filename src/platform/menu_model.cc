#include "zephro/platform/menu_model.h"

#include <algorithm>
#include <utility>

#include "zephro/platform/errors.h"

namespace zephro {

TMenuItem::~TMenuItem() = default;

TMenuItem& TMenuItem::Items(int index) const {
  return *items_[CheckedIndex(index, Count())];
}

TMenuItem& TMenuItem::Add(std::string caption) {
  TMenuItem& item = *items_.emplace_back(std::make_unique<TMenuItem>(std::move(caption)));
  item.parent_ = this;
  return item;
}

void TMenuItem::Clear() {
  items_.clear();
}

bool IsSubmenuVisible(const TMenuItem& item) {
  return std::any_of(item.begin(), item.end(),
                     [](const TMenuItem& sub) { return sub.Visible() && !sub.IsLine(); });
}

}  // namespace zephro
