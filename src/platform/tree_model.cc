#include "zephro/platform/tree_model.h"

#include <algorithm>
#include <utility>

#include "zephro/platform/errors.h"

namespace zephro {

// TTreeNode

TTreeNode::~TTreeNode() {
  // A deep tree would overflow the stack if each node freed its children by
  // recursion: every node is emptied before it is freed.
  TChildren pending = std::move(children_);
  while (!pending.empty()) {
    std::unique_ptr<TTreeNode> node = std::move(pending.back());
    pending.pop_back();
    for (std::unique_ptr<TTreeNode>& child : node->children_) {
      pending.push_back(std::move(child));
    }
    node->children_.clear();
  }
}

void TTreeNode::SetText(std::string text) {
  text_ = std::move(text);
  owner_->Changed();
}

void TTreeNode::SetData(const void* data) {
  data_ = data;
  owner_->Changed();
}

TTreeView* TTreeNode::TreeView() const noexcept {
  return owner_->Owner();
}

int TTreeNode::Level() const noexcept {
  int level = 0;
  for (const TTreeNode* node = parent_; node != nullptr; node = node->parent_) {
    ++level;
  }
  return level;
}

int TTreeNode::Index() const noexcept {
  const TChildren& siblings = parent_ != nullptr ? parent_->children_ : owner_->top_;
  const auto at =
      std::find_if(siblings.begin(), siblings.end(),
                   [this](const std::unique_ptr<TTreeNode>& n) { return n.get() == this; });
  return static_cast<int>(at - siblings.begin());
}

TTreeNode& TTreeNode::Item(int index) const {
  return *children_[CheckedIndex(index, Count())];
}

TTreeNode* TTreeNode::FindChild(std::string_view text) const {
  for (const std::unique_ptr<TTreeNode>& child : children_) {
    if (child->text_ == text) {
      return child.get();
    }
  }
  return nullptr;
}

void TTreeNode::DeleteChildren() {
  if (!children_.empty()) {
    owner_->Free(std::exchange(children_, TChildren()));
  }
}

// TTreeNodes

TTreeNodes::~TTreeNodes() = default;

TTreeNode& TTreeNodes::TopLevelItem(int index) const {
  return *top_[CheckedIndex(index, TopLevelCount())];
}

TTreeNode& TTreeNodes::Add(std::string text, const void* data) {
  return AddChild(nullptr, std::move(text), data);
}

TTreeNode& TTreeNodes::AddChild(TTreeNode* parent, std::string text, const void* data) {
  if (parent != nullptr) {
    CheckOwn(*parent);
  }
  TTreeNode::TChildren& siblings = parent != nullptr ? parent->children_ : top_;
  // The node's constructor is private to the tree.
  std::unique_ptr<TTreeNode> made(new TTreeNode(*this, parent, std::move(text), data));
  TTreeNode& node = *made;
  siblings.push_back(std::move(made));
  ++count_;
  Changed();
  return node;
}

void TTreeNodes::Delete(TTreeNode& node) {
  CheckOwn(node);
  TTreeNode::TChildren& siblings = node.parent_ != nullptr ? node.parent_->children_ : top_;
  const auto at = siblings.begin() + node.Index();
  TTreeNode::TChildren detached;
  detached.push_back(std::move(*at));
  siblings.erase(at);
  Free(std::move(detached));
}

void TTreeNodes::Clear() {
  if (!top_.empty()) {
    Free(std::exchange(top_, TTreeNode::TChildren()));
  }
}

void TTreeNodes::EndUpdate() {
  if (update_count_ == 0) {
    return;
  }
  if (--update_count_ == 0 && changed_) {
    changed_ = false;
    if (OnChange) {
      OnChange(*this);
    }
  }
}

void TTreeNodes::Changed() {
  if (update_count_ > 0) {
    changed_ = true;
  } else if (OnChange) {
    OnChange(*this);
  }
}

void TTreeNodes::Free(TTreeNode::TChildren nodes) {
  const TTreeNode* selected = view_ != nullptr ? view_->selected_ : nullptr;
  bool selection_lost = false;
  int freed = 0;
  std::vector<const TTreeNode*> pending;
  for (const std::unique_ptr<TTreeNode>& node : nodes) {
    pending.push_back(node.get());
  }
  while (!pending.empty()) {
    const TTreeNode* node = pending.back();
    pending.pop_back();
    ++freed;
    selection_lost = selection_lost || node == selected;
    for (const std::unique_ptr<TTreeNode>& child : node->children_) {
      pending.push_back(child.get());
    }
  }
  nodes.clear();
  count_ -= freed;
  if (selection_lost) {
    view_->selected_ = nullptr;
  }
  Changed();
  if (selection_lost && view_->OnSelect) {
    view_->OnSelect(*view_);
  }
}

void TTreeNodes::CheckOwn(const TTreeNode& node) const {
  if (node.owner_ != this) {
    RaisePlatformError("Tree node %s belongs to another tree", node.text_.c_str());
  }
}

// TTreeView

void TTreeView::SetSelected(TTreeNode* node) {
  if (node != nullptr) {
    items_.CheckOwn(*node);
  }
  if (node == selected_) {
    return;
  }
  selected_ = node;
  if (OnSelect) {
    OnSelect(*this);
  }
}

}  // namespace zephro
