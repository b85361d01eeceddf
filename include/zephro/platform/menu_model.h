#pragma once

// A plain menu a host's window system draws: items with a caption, a visibility
// flag and sub-items. A caption of a single "-" makes the item a separator line.
//
//   TMenuItem tools("Tools");
//   tools.Add("Facts");
//   tools.Add("-");
//   tools.Add("Agenda").SetVisible(false);
//   IsSubmenuVisible(tools);   // true: "Facts" shows
//
// Ownership: an item owns its sub-items; a TMenuItem& to one stays valid until
// it or an ancestor is freed or cleared. Items are not copyable.
// Thread safety: none; a menu is used on one thread at a time.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/owned_iterator.h"

namespace zephro {

// The caption of a separator line.
inline constexpr std::string_view kMenuLineCaption = "-";

class TMenuItem {
 public:
  explicit TMenuItem(std::string caption = std::string()) : caption_(std::move(caption)) {}
  TMenuItem(const TMenuItem&) = delete;
  TMenuItem& operator=(const TMenuItem&) = delete;
  ~TMenuItem();

  const std::string& Caption() const noexcept { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool visible) noexcept { visible_ = visible; }
  // True for a separator line.
  bool IsLine() const noexcept { return caption_ == kMenuLineCaption; }

  // The item whose sub-item this is, or nullptr.
  TMenuItem* Parent() const noexcept { return parent_; }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // The sub-item at `index`. Raises EBaseException for an index outside
  // 0 .. Count() - 1.
  TMenuItem& Items(int index) const;
  // Appends a visible sub-item and returns it.
  TMenuItem& Add(std::string caption);
  // Frees every sub-item.
  void Clear();

  TOwnedIterator<TMenuItem> begin() const { return TOwnedIterator<TMenuItem>(items_.begin()); }
  TOwnedIterator<TMenuItem> end() const { return TOwnedIterator<TMenuItem>(items_.end()); }

 private:
  std::string caption_;
  bool visible_ = true;
  TMenuItem* parent_ = nullptr;  // not owned
  std::vector<std::unique_ptr<TMenuItem>> items_;
};

// True when at least one sub-item of `item` is visible and is not a separator
// line: a host hides a submenu that would show nothing but lines.
bool IsSubmenuVisible(const TMenuItem& item);

}  // namespace zephro
