#pragma once

// A plain tree of texts that a host's view shows: TTreeView holds the nodes
// (TTreeNodes) and the selected node; each TTreeNode has a text, an untyped
// pointer to what it stands for, and children. The engine fills such trees with
// its constructs (TFactTemplates::FillTreeView, TRules::AssignTo); a window
// system draws them by listening to OnChange and walking the nodes:
//
//   TTreeView view;
//   view.Items().OnChange = [&](TTreeNodes& nodes) { Redraw(nodes); };
//   engine.FactTemplates().FillTreeView(view);       // one OnChange at the end
//   for (TTreeNode& top : view.Items()) {            // the top-level nodes
//     auto* fact_template = static_cast<const IFactTemplate*>(top.Data());
//     for (TTreeNode& slot : top) { ... }            // its children
//   }
//
// Data. A node's Data() is a `const void*` the tree neither owns nor reads: the
// filler decides what it points to and documents it (a template node points to
// its IFactTemplate, a rule node to its TRule); the host casts it back and keeps
// it valid as long as it uses it (refill the tree when the constructs change).
//
// Updates. Every change of the nodes (a node added, deleted, or given a new text
// or data) raises OnChange once, after the change. Between BeginUpdate and the
// matching EndUpdate nothing is raised; the outermost EndUpdate raises OnChange
// once when anything changed inside the pair. Pairs nest; UpdateCount() tells
// how deep.
//
// Ownership: the view owns its node collection, which owns the top-level nodes;
// a node owns its children. A TTreeNode& stays valid until the node, an
// ancestor of it, or the collection is deleted or cleared. Nodes are made only
// through TTreeNodes. Nothing is copyable.
//
// Thread safety: none; a tree is used on one thread at a time.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/owned_iterator.h"

namespace zephro {

class TTreeNodes;
class TTreeView;

class TTreeNode {
 public:
  using TChildren = std::vector<std::unique_ptr<TTreeNode>>;

  TTreeNode(const TTreeNode&) = delete;
  TTreeNode& operator=(const TTreeNode&) = delete;
  // Frees the children without recursion, however deep the tree.
  ~TTreeNode();

  const std::string& Text() const noexcept { return text_; }
  void SetText(std::string text);
  const void* Data() const noexcept { return data_; }
  void SetData(const void* data);

  // The parent node, or nullptr for a top-level node.
  TTreeNode* Parent() const noexcept { return parent_; }
  // The collection the node belongs to.
  TTreeNodes& Owner() const noexcept { return *owner_; }
  // The view of that collection, or nullptr for a collection without one.
  TTreeView* TreeView() const noexcept;
  // 0 for a top-level node, 1 for its children ...
  int Level() const noexcept;
  // The position among its siblings (the top-level nodes for a top-level node).
  int Index() const noexcept;

  int Count() const noexcept { return static_cast<int>(children_.size()); }
  bool HasChildren() const noexcept { return !children_.empty(); }
  // The child at `index`. Raises EBaseException for an index outside
  // 0 .. Count() - 1.
  TTreeNode& Item(int index) const;
  // The first child whose text is `text` (case-sensitive), or nullptr.
  TTreeNode* FindChild(std::string_view text) const;
  // Deletes every child (and their children).
  void DeleteChildren();

  // The children in order.
  TOwnedIterator<TTreeNode> begin() const { return TOwnedIterator<TTreeNode>(children_.begin()); }
  TOwnedIterator<TTreeNode> end() const { return TOwnedIterator<TTreeNode>(children_.end()); }

 private:
  friend class TTreeNodes;
  TTreeNode(TTreeNodes& owner, TTreeNode* parent, std::string text, const void* data)
      : owner_(&owner), parent_(parent), text_(std::move(text)), data_(data) {}

  TTreeNodes* owner_;  // not owned
  TTreeNode* parent_;  // not owned; null at the top level
  std::string text_;
  const void* data_;    // not owned, not read
  TChildren children_;  // owned
};

class TTreeNodes {
 public:
  using TChangeEvent = std::function<void(TTreeNodes& sender)>;

  // A collection of `view`, which may be nullptr for a tree without a view.
  explicit TTreeNodes(TTreeView* view = nullptr) : view_(view) {}
  TTreeNodes(const TTreeNodes&) = delete;
  TTreeNodes& operator=(const TTreeNodes&) = delete;
  ~TTreeNodes();

  TTreeView* Owner() const noexcept { return view_; }

  // Every node of the tree, at all levels.
  int Count() const noexcept { return count_; }
  int TopLevelCount() const noexcept { return static_cast<int>(top_.size()); }
  // The top-level node at `index`. Raises EBaseException for an index outside
  // 0 .. TopLevelCount() - 1.
  TTreeNode& TopLevelItem(int index) const;
  // The first top-level node, or nullptr for an empty tree.
  TTreeNode* GetFirstNode() const noexcept { return top_.empty() ? nullptr : top_.front().get(); }

  // Appends a top-level node and returns it.
  TTreeNode& Add(std::string text, const void* data = nullptr);
  // Appends a child to `parent` (a top-level node when `parent` is nullptr) and
  // returns it. Raises EBaseException when `parent` belongs to another
  // collection.
  TTreeNode& AddChild(TTreeNode* parent, std::string text, const void* data = nullptr);
  // Deletes `node` and its children; the view's selection is cleared when it is
  // among them. Raises EBaseException when `node` belongs to another
  // collection.
  void Delete(TTreeNode& node);
  // Deletes every node.
  void Clear();

  void BeginUpdate() noexcept { ++update_count_; }
  // Ends a BeginUpdate; the outermost one raises OnChange when anything
  // changed since its BeginUpdate. Without an open BeginUpdate it does nothing.
  void EndUpdate();
  int UpdateCount() const noexcept { return update_count_; }

  // Raised after each change outside an update, and at the end of an update
  // that changed something. The handler may read the tree; changing it from
  // the handler raises OnChange again.
  TChangeEvent OnChange;

  // The top-level nodes in order.
  TOwnedIterator<TTreeNode> begin() const { return TOwnedIterator<TTreeNode>(top_.begin()); }
  TOwnedIterator<TTreeNode> end() const { return TOwnedIterator<TTreeNode>(top_.end()); }

 private:
  friend class TTreeNode;
  friend class TTreeView;
  // Records a change and raises OnChange unless inside an update.
  void Changed();
  // Frees `nodes`, just detached from the tree, with their descendants: the
  // count and the view's selection forget them. Then records the change and
  // raises OnSelect when the selection was among them.
  void Free(TTreeNode::TChildren nodes);
  void CheckOwn(const TTreeNode& node) const;

  TTreeView* view_;  // not owned; it owns this collection
  TTreeNode::TChildren top_;
  int count_ = 0;
  int update_count_ = 0;
  bool changed_ = false;
};

class TTreeView {
 public:
  using TSelectEvent = std::function<void(TTreeView& sender)>;

  TTreeView() : items_(this) {}
  TTreeView(const TTreeView&) = delete;
  TTreeView& operator=(const TTreeView&) = delete;

  TTreeNodes& Items() noexcept { return items_; }
  const TTreeNodes& Items() const noexcept { return items_; }

  // The selected node, or nullptr.
  TTreeNode* Selected() const noexcept { return selected_; }
  // Selects `node` (nullptr selects nothing) and raises OnSelect when the
  // selection changes. Raises EBaseException when `node` is not one of this
  // view's nodes.
  void SetSelected(TTreeNode* node);

  // Raised after the selection changed, also when deleting the selected node
  // cleared it.
  TSelectEvent OnSelect;

 private:
  friend class TTreeNodes;

  TTreeNodes items_;
  TTreeNode* selected_ = nullptr;  // not owned; one of items_'s nodes
};

}  // namespace zephro
