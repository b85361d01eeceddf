// Token propagation through the nodes of the matching network.
//
// Alpha nodes test the last fact of a token and pass the token on unchanged
// (or, for a multifield variable, one token per way of splitting the slot).
// A join keeps the tokens that reached it from the left (partial matches) and
// from the right (facts) in two hashed memories keyed on its equality join
// tests, so an arriving token meets only the partners that can match it.
// A negated join finds, per left token, a right token that matches it (its
// blocker) and passes the left token on (extended by the null fact) exactly
// while it has none. A retracted fact enters the network again as the token
// it entered with, which the memories find where they filed it; from there,
// every token made from it is withdrawn through the links between tokens, so
// every activation that depended on the fact goes, in the order the tokens
// were made. (Tokens that can come in equal copies, from splitting a
// multifield slot, are withdrawn by a probe that finds its equals.)

//
// This file holds what every node shares (TReteNode); each kind of node
// has a file of its own.

#include "rules/rete_nodes.h"

#include <algorithm>
#include <atomic>

namespace zephro {

// --- TReteNode ------------------------------------------------------------------------------

namespace {
std::atomic<std::uint32_t> next_node_id{1};  // 0: made outside the matcher
}  // namespace

TReteNode::TReteNode(TReteNetwork& rete)
    : rete_(&rete), id_(next_node_id.fetch_add(1, std::memory_order_relaxed)) {}

void TReteNode::Withdraw(const Ref<TIEToken>& child) {
  child->Detach();
  child->SetTag(TTokenAction::taRemove);
  CallChildren(child);
}

namespace {

// The children a node is withdrawing, gathered before the first goes: taking
// one away can take others with it (a partial match built on two of them,
// a negated join blocked again), which then leave their lists. The nodes
// below use the same stack for their own lists, each above the one it was
// called from.
std::vector<Ref<TIEToken>>& Withdrawals() {
  thread_local std::vector<Ref<TIEToken>> stack;
  return stack;
}

}  // namespace

template <class Gather>
void TReteNode::WithdrawGathered(Gather&& gather, bool newest_first) {
  std::vector<Ref<TIEToken>>& stack = Withdrawals();
  const std::size_t from = stack.size();
  gather([&](TIEToken& child) {
    child.PrefetchNeighbours();
    stack.emplace_back(&child);
  });
  if (newest_first) {
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(from), stack.end());
  }
  const TIETokenTree* home = stack.size() - from > 2 ? HomeOfChildren() : nullptr;
  for (std::size_t i = from; i < stack.size(); ++i) {
    if (i + 1 < stack.size()) {
      stack[i + 1]->PrefetchNeighbours();
      if (home != nullptr) {
        // The removals of the next children from the memory that holds
        // them, prepared ahead (see TIETokenTree::PrefetchHome).
        home->PrefetchUnlink(*stack[i + 1]);
        if (i + 2 < stack.size()) {
          home->PrefetchHome(*stack[i + 2]);
        }
      }
    }
    // Taken out of the stack, which the withdrawal may grow (and move).
    // Mostly the last hold on the child: it is freed while still in the
    // cache, and its block is the next one a new token gets.
    const Ref<TIEToken> child = std::move(stack[i]);
    if (child->Linked()) {  // else it went with an earlier one
      Withdraw(child);
    }
  }
  stack.resize(from);
}

const TIETokenTree* TReteNode::HomeOfChildren() const {
  if (successors_.size() != 1 || successors_[0].CallType() != TCallType::ctLeft) {
    return nullptr;
  }
  const TReteNode& next = *successors_[0].To();
  if (typeid(next) != typeid(TJoinNode)) {
    return nullptr;
  }
  return static_cast<const TJoinNode&>(next).LeftTree();
}

void TReteNode::WithdrawChildren(TIEToken& parent) {
  WithdrawGathered([&](auto&& keep) { parent.ForChildrenNewestFirst(id_, keep); }, true);
}

void TReteNode::WithdrawRightChildren(TIEToken& right_parent) {
  WithdrawGathered([&](auto&& keep) { right_parent.ForRightChildrenFrom(id_, keep); }, false);
}

void TReteNode::Inputs::Add(TReteNode& node) {
  if (nodes_[1] != nullptr) {
    throw std::length_error("a node has two inputs at most");
  }
  nodes_[nodes_[0] == nullptr ? 0 : 1] = &node;
}

void TReteNode::Inputs::Remove(const TReteNode& node) noexcept {
  if (nodes_[1] == &node) {
    nodes_[1] = nullptr;
  }
  if (nodes_[0] == &node) {
    nodes_[0] = nodes_[1];
    nodes_[1] = nullptr;
  }
}

std::string TReteNode::ToString() const {
  return std::string(NodeName()) + " In/Out#: " + std::to_string(predecessors_.size()) + "/" +
         std::to_string(successors_.size()) + " RuleUse: " + std::to_string(rule_use_count_);
}

// Successors that test one slot for equality with a constant (no call, no
// fuzzy value), grouped by slot and filed by the constant's hash; a fact can
// pass only the members whose constant hashes like its slot value. The rest
// are called as they are.
struct TReteNode::TConstantDispatch : RefCounted {
  struct Group {
    TSlotPosition slot;
    TSlotCache cache;
    std::unordered_multimap<std::int32_t, std::uint32_t> by_hash;  // -> successor index
  };
  std::vector<Group> groups;
  std::vector<std::uint32_t> others;  // successor indices, ascending
};

namespace {

bool IsConstantEquality(const TReteNode& node) {
  const auto* pm = dynamic_cast<const TPatternMatchNode*>(&node);
  if (pm == nullptr || pm->Test() != TPatternMatchTest::pmtTestEqual || pm->Value() == nullptr) {
    return false;
  }
  const TIEType kind = pm->Value()->DType();
  return kind != TIEType::dtFunCall && kind != TIEType::dtFuzzy;
}

}  // namespace

TReteNode::~TReteNode() = default;

void TReteNode::SuccessorsChanged() noexcept { dispatch_ = nullptr; }

void TReteNode::CallChildrenByValue(const Ref<TIEToken>& token) {
  if (!dispatch_) {
    Ref<TConstantDispatch> d = MakeRef<TConstantDispatch>();
    for (std::uint32_t i = 0; i < successors_.size(); ++i) {
      TReteNode& child = *successors_[i].To();
      if (!IsConstantEquality(child)) {
        d->others.push_back(i);
        continue;
      }
      const auto& pm = static_cast<const TPatternMatchNode&>(child);
      const std::string_view name = pm.SlotName();
      auto group = std::find_if(d->groups.begin(), d->groups.end(),
                                [&](const TConstantDispatch::Group& g) { return g.slot.Name() == name; });
      if (group == d->groups.end()) {
        d->groups.push_back({TSlotPosition(name), {}, {}});
        group = d->groups.end() - 1;
      }
      group->by_hash.emplace(pm.Value()->GetHashCode(), i);
    }
    dispatch_ = std::move(d);
  }
  // Held for the call: no rule action runs while a token passes, so the
  // successors cannot change under us today, and if they ever did the index
  // would still be alive here.
  const Ref<TConstantDispatch> d = dispatch_;
  if (d->groups.empty()) {
    for (const Edge& e : successors_) {
      e.To()->CallNode(token, e.CallType());
    }
    return;
  }
  const IFact& fact = *token->Fact();
  std::vector<std::uint32_t> chosen = d->others;
  for (TConstantDispatch::Group& g : d->groups) {
    const IIEValue* v = ReadSlot(g.slot, NoSubIndex, g.cache, fact);
    if (v == nullptr) {
      continue;  // no member can pass
    }
    if (v->DType() == TIEType::dtFuzzy) {
      // A fuzzy value compares by compatibility: every member must look.
      for (const auto& [hash, index] : g.by_hash) {
        chosen.push_back(index);
      }
      continue;
    }
    auto [from, to] = g.by_hash.equal_range(v->GetHashCode());
    for (auto it = from; it != to; ++it) {
      chosen.push_back(it->second);
    }
  }
  // Successor order, as without the index.
  std::sort(chosen.begin(), chosen.end());
  for (std::uint32_t i : chosen) {
    const Edge e = successors_[i];
    e.To()->CallNode(token, e.CallType());
  }
}

bool TReteNode::EnteredFrom(const TReteNode& from, TCallType call_type) const {
  for (const Edge& e : from.successors_) {
    if (e.To() == this && e.CallType() == call_type) {
      return true;
    }
  }
  return false;
}

}  // namespace zephro
