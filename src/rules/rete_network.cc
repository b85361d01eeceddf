// The matching network: its nodes' bookkeeping, rules coming and going, and
// tokens entering at the roots. Compiling a rule into nodes is
// rete_compiler.cc's.

#include "zephro/rules/rete_network.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "zephro/functions/function_call.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

#include "platform/debug_checks.h"
#include "platform/hash_mix.h"
#include "rules/alpha_index.h"
#include "rules/rete_compiler.h"
#include "rules/rete_nodes.h"
#include "rules/token_memory.h"

namespace zephro {

// --- the network ----------------------------------------------------------------------------

TReteNetwork::TReteNetwork(IRuleEnvironment* engine)
    : engine_(engine),
      memory_keys_(std::make_unique<TMemoryKeyPool>()),
      alpha_index_(std::make_unique<TAlphaIndex>()),
      prepared_calls_(std::make_unique<TPreparedCalls>()) {}

TReteNetwork::~TReteNetwork() { Clear(); }

void TReteNetwork::SetEnabled(bool enabled) {
  if (enabled == enabled_) {
    return;
  }
  enabled_ = enabled;
  if (!enabled) {
    Clear();
  }
}

void TReteNetwork::SetMinActivationStrength(float strength) noexcept {
  min_activation_strength_ = strength < 0 ? 0.0f : (strength > 1 ? 1.0f : strength);
}

TReteNode& TReteNetwork::Adopt(std::unique_ptr<TReteNode> node) {
  ++node_count_;
  return *node.release();
}

void TReteNetwork::Link(TReteNode& from, TReteNode& to, TCallType call_type) {
  to.Predecessors().Add(from);
  from.Successors().push_back({&to, call_type});
  from.SuccessorsChanged();
  alpha_index_->Linked(from, to);
}

void TReteNetwork::RegisterRoot(TReteNode& node) {
  auto* pm = dynamic_cast<TPatternMatchNode*>(&node);
  std::string key = pm != nullptr && pm->Test() == TPatternMatchTest::pmtTestClassType
                        ? std::string(pm->Value()->Text())
                        : std::string();
  roots_[key].push_back(&node);
}

void TReteNetwork::UnregisterRoot(TReteNode& node) {
  for (auto it = roots_.begin(); it != roots_.end(); ++it) {
    auto& list = it->second;
    auto found = std::find(list.begin(), list.end(), &node);
    if (found != list.end()) {
      list.erase(found);
      if (list.empty()) {
        roots_.erase(it);
      }
      return;
    }
  }
}

int TReteNetwork::RightMemoryCount() const {
  int count = 0;
  for (const TReteNode* node : AllNodes()) {
    const auto* join = dynamic_cast<const TJoinNode*>(node);
    if (join != nullptr && join->LeadsRightMemory()) {
      ++count;
    }
  }
  return count;
}

int TReteNetwork::RootCount() const noexcept {
  int n = 0;
  for (const auto& [name, list] : roots_) {
    n += static_cast<int>(list.size());
  }
  return n;
}

void TReteNetwork::FreeNode(TReteNode& node) {
  alpha_index_->Forget(node);
  for (TReteNode* pred : node.Predecessors()) {
    pred->Successors().erase_if([&](const TReteNode::Edge& e) { return e.To() == &node; });
    pred->SuccessorsChanged();
  }
  for (const TReteNode::Edge& e : node.Successors()) {
    e.To()->Predecessors().Remove(node);
  }
  if (node.Predecessors().empty()) {
    UnregisterRoot(node);
  }
  --node_count_;
  delete &node;
}

std::vector<TReteNode*> TReteNetwork::AllNodes() const {
  std::vector<TReteNode*> nodes;
  std::unordered_set<const TReteNode*> seen;
  for (const auto& [name, roots] : roots_) {
    for (TReteNode* root : roots) {
      if (seen.insert(root).second) {
        nodes.push_back(root);
      }
    }
  }
  // Every node is a root or a successor of one: the walk meets each once.
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    for (const TReteNode::Edge& e : nodes[i]->Successors()) {
      if (seen.insert(e.To()).second) {
        nodes.push_back(e.To());
      }
    }
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const TReteNode* a, const TReteNode* b) { return a->Id() < b->Id(); });
  return nodes;
}

void TReteNetwork::AddRule(TRule& rule) {
  EndFactKeyEpoch();
  if (!enabled_) {
    return;
  }
  RemoveRule(rule);
  rule.network_terminal_ = CompileRule(*this, rule, last_compile_trace_);
}

void TReteNetwork::DropUses(std::span<TReteNode* const> nodes) {
  for (auto n = nodes.rbegin(); n != nodes.rend(); ++n) {
    if (!(*n)->DropUse()) {
      if (auto* terminal = dynamic_cast<TPatternMatchTerminalNode*>(*n)) {
        terminal->StandDown();
      }
      FreeNode(**n);
    }
  }
}

void TReteNetwork::RemoveRule(TRule& rule) {
  EndFactKeyEpoch();
  TReteNode* const terminal = std::exchange(rule.network_terminal_, nullptr);
  if (terminal == nullptr) {
    return;
  }
  // The rule's nodes are those above its terminal. Walked from the terminal
  // through the inputs, a path per use: a node the rule uses twice (two
  // patterns alike) is met twice, and each use is dropped once. A negation
  // level's join is entered from the left by the node its right input's
  // level was entered from too, which the rule uses once: only its right
  // input is followed. Each node is met after the rule's nodes below it.
  std::vector<TReteNode*> pending{terminal};
  while (!pending.empty()) {
    TReteNode* node = pending.back();
    pending.pop_back();
    const auto* join = dynamic_cast<const TJoinNode*>(node);
    const bool right_only = join != nullptr && join->IsPrefixJoin();
    const std::size_t from = pending.size();
    for (TReteNode* input : node->Predecessors()) {
      pending.push_back(input);
    }
    if (right_only && pending.size() - from == 2) {
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(from));
    }
    if (!node->DropUse()) {
      if (node == terminal) {
        static_cast<TPatternMatchTerminalNode*>(node)->StandDown();
      }
      FreeNode(*node);
    }
  }
}

bool TReteNetwork::ContainsRule(const TRule& rule) const {
  return rule.network_terminal_ != nullptr;
}

bool TReteNetwork::ProcessToken(const Ref<TIEToken>& token) {
  try {
    return PassToRoots(token);
  } catch (...) {
    SettleRightMemories();
    throw;
  }
}

void TReteNetwork::ShareRightMemory(TJoinNode& join, const TReteNode& feeder) {
  if (!share_right_memories_ || join.IsPrefixJoin()) {
    return;
  }
  join.OfferRightMemory(feeder);
  TJoinNode*& offered = right_offers_[{&feeder, join.RightKeyId()}];
  if (offered == nullptr || !join.ShareRightMemory(*offered)) {
    offered = &join;  // the earlier one has stored tokens: this one offers
  }
}

void TReteNetwork::WithdrawRightOffer(TJoinNode& join, const TReteNode& feeder) noexcept {
  const auto it = right_offers_.find({&feeder, join.RightKeyId()});
  if (it != right_offers_.end() && it->second == &join) {
    TJoinNode* heir = join.RightMemoryHeir();
    if (heir != nullptr) {
      it->second = heir;
    } else {
      right_offers_.erase(it);
    }
  }
}

void TReteNetwork::SettleRightMemories() {
  for (TReteNode* node : AllNodes()) {
    if (auto* join = dynamic_cast<TJoinNode*>(node)) {
      join->SettleRightMemory();
    }
  }
}

bool TReteNetwork::PassToRoots(const Ref<TIEToken>& token) {
  EndFactKeyEpoch();
  if (!enabled_ && token->Tag() != TTokenAction::taRemove &&
      token->Tag() != TTokenAction::taClear) {
    return false;
  }
  bool passed = false;
  if (token->Tag() == TTokenAction::taClear) {
    // Every root, in a stable order: a clear reaches every memory.
    std::vector<TReteNode*> all;
    for (auto& [name, list] : roots_) {
      all.insert(all.end(), list.begin(), list.end());
    }
    for (TReteNode* root : all) {
      passed = root->CallNode(token, TCallType::ctSingle) || passed;
    }
    return passed;
  }
  const IFact* fact = token->Fact();
  if (fact == nullptr) {
    return false;
  }
  // Only the roots of the fact's template and of its ancestors can pass it,
  // and they take it in the order they were made. No rule action runs while
  // a token propagates, and nothing may compile a rule meanwhile, so the
  // roots cannot change under this walk.
  const IFactTemplate* own = fact->Template();
  if (own == nullptr) {
    return false;
  }
  if (MatchingParent(*own) == nullptr) {
    auto it = roots_.find(own->TemplateName());
    if (it != roots_.end()) {
      for (TReteNode* root : it->second) {
        passed = root->CallNode(token, TCallType::ctSingle) || passed;
      }
    }
    return passed;
  }
  std::vector<TReteNode*> roots;
  for (const IFactTemplate* t = own; t != nullptr; t = MatchingParent(*t)) {
    auto it = roots_.find(t->TemplateName());
    if (it != roots_.end()) {
      roots.insert(roots.end(), it->second.begin(), it->second.end());
    }
  }
  std::sort(roots.begin(), roots.end(),
            [](const TReteNode* a, const TReteNode* b) { return a->Id() < b->Id(); });
  for (TReteNode* root : roots) {
    passed = root->CallNode(token, TCallType::ctSingle) || passed;
  }
  return passed;
}

int TReteNetwork::MemoryKeyCount() const noexcept {
  return static_cast<int>(memory_keys_->Count());
}

void TReteNetwork::Clear() {
  EndFactKeyEpoch();
  ForgetActivations();
  const std::vector<TReteNode*> nodes = AllNodes();
  // Every node goes: the joins need not leave their shared memories one by
  // one (each leaving searches the list of those sharing it).
  for (TReteNode* node : nodes) {
    if (auto* join = dynamic_cast<TJoinNode*>(node)) {
      join->DropRightMemory();
    }
  }
  for (TReteNode* node : nodes) {
    if (auto* terminal = dynamic_cast<TPatternMatchTerminalNode*>(node)) {
      terminal->Rule().network_terminal_ = nullptr;
    }
  }
  roots_.clear();
  right_offers_.clear();
  for (TReteNode* node : nodes) {
    delete node;
  }
  node_count_ = 0;
  // Only the nodes read these.
  alpha_index_->Clear();
  memory_keys_->Clear();
  prepared_calls_->Clear();
  binding_refs_.clear();
}

void TReteNetwork::ForgetActivations() {
  for (TReteNode* node : AllNodes()) {
    if (auto* terminal = dynamic_cast<TPatternMatchTerminalNode*>(node)) {
      terminal->FastClear();
    }
  }
}

std::string TReteNetwork::ToString() const {
  std::string text;
  for (const TReteNode* node : AllNodes()) {
    text += node->ToString() + "\n";
  }
  return text;
}

bool TReteNetwork::DeferFailure() const noexcept {
  return engine_ != nullptr && engine_->DeferMatchFailure(std::current_exception());
}

void TReteNetwork::Activate(std::unique_ptr<TActivation>&& activation) {
  TActivation& a = *activation;
  try {
    if (engine_ != nullptr) {
      engine_->AddActivation(std::move(activation));
    }
    if (OnActivation) {
      OnActivation(a);
    }
  } catch (...) {
    // An activation the agenda did not take is still `activation`'s: the
    // terminal node forgets it.
    if (!DeferFailure()) {
      throw;
    }
  }
}

void TReteNetwork::Deactivate(TActivation& activation) {
  std::exception_ptr failure;
  if (OnDeactivation) {
    try {
      OnDeactivation(activation);
    } catch (...) {
      failure = std::current_exception();  // the activation goes all the same
    }
  }
  try {
    if (engine_ != nullptr) {
      engine_->WithdrawActivation(activation);
    }
  } catch (...) {
    if (!failure) {
      failure = std::current_exception();
    }
  }
  if (failure && (engine_ == nullptr || !engine_->DeferMatchFailure(failure))) {
    std::rethrow_exception(failure);
  }
}

void TReteNetwork::RuleFired(TActivation& activation) {
  if (engine_ != nullptr) {
    engine_->RuleFired(activation);
  }
  if (OnRuleFired) {
    OnRuleFired(activation);
  }
}

void TReteNetwork::Withdraw(std::unique_ptr<TActivation> activation) {
  if (activation != nullptr && activation->Node() != nullptr) {
    activation->Node()->Forget(*activation);
  }
}

IFact& TReteNetwork::NullFact() const { return engine_->NullFact(); }

// --- invariant checks -------------------------------------------------------------------------

std::size_t TReteNetwork::CheckInvariants() const {
  TCompactArena::CheckInvariants();
  const std::vector<TReteNode*> nodes = AllNodes();
  ZEPHRO_CHECK(nodes.size() == node_count_,
               "network: the node count differs from the nodes reachable from the roots");
  std::size_t work = nodes.size();
  // Joins fed by the same node may share a right memory: each is checked once.
  std::unordered_set<const TIETokenTree*> checked;
  for (const TReteNode* node : nodes) {
    if (const auto* join = dynamic_cast<const TJoinNode*>(node)) {
      const TIETokenTree* left = join->LeftTree();
      const TIETokenTree* right = join->RightMemoryTree();
      if (left != nullptr) {
        work += left->CheckInvariants();
        if (join->NegatedPattern()) {
          left->CheckBlockers(right);
        }
      }
      if (right != nullptr && checked.insert(right).second) {
        work += right->CheckInvariants();
      }
    } else if (const auto* terminal = dynamic_cast<const TPatternMatchTerminalNode*>(node)) {
      work += terminal->CheckActivations();
    }
  }
  return work;
}

}  // namespace zephro
