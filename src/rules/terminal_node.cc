// Terminal nodes (TPatternMatchTerminalNode): the complete matches of a
// rule, each an activation handed to the engine.

#include "rules/rete_nodes.h"

#include <algorithm>

#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_environment.h"

#include "platform/debug_checks.h"

namespace zephro {

// --- TPatternMatchTerminalNode -------------------------------------------------------------------

TPatternMatchTerminalNode::~TPatternMatchTerminalNode() {
  FastClear();
  // The rule was removed while it fired: once its actions end, the firing
  // activation has no node to tell.
  if (IRuleEnvironment* engine = rete_->Engine()) {
    TActivation* firing = engine->FiringActivation();
    if (firing != nullptr && firing->node_ == this) {
      firing->node_ = nullptr;
    }
  }
}

bool TPatternMatchTerminalNode::CallNode(const Ref<TIEToken>& token, TCallType /*call_type*/) {
  switch (token->Tag()) {
    case TTokenAction::taClear:
      StandDown();
      return true;
    case TTokenAction::taAdd:
    case TTokenAction::taUpdate:
      AddActivation(token);
      return true;
    case TTokenAction::taRemove:
      StandDown(*token);
      return true;
  }
  return false;
}

namespace {

// Every activation of a terminal node carries one of the network's tokens.
std::uint32_t IdentityOf(const TActivation& a) {
  return static_cast<const TIEToken&>(a.Token()).IdentityHash();
}

}  // namespace

void TPatternMatchTerminalNode::Grow() {
  constexpr std::size_t kFirstBuckets = 4;
  std::vector<TActivation*> old(std::max(buckets_.size() * 2, kFirstBuckets), nullptr);
  old.swap(buckets_);
  for (TActivation* head : old) {
    while (head != nullptr) {
      TActivation* next = head->node_next_;
      TActivation*& bucket = BucketOf(IdentityOf(*head));
      head->node_next_ = bucket;
      bucket = head;
      head = next;
    }
  }
}

void TPatternMatchTerminalNode::AddActivation(const Ref<TIEToken>& token) {
  if (token->Tag() == TTokenAction::taAdd &&
      (!rule_->Enabled() || (rule_->OneShot() && rule_->Fired()))) {
    return;
  }
  if (token->Tag() == TTokenAction::taUpdate && initialized_) {
    return;
  }
  auto activation = std::make_unique<TActivation>(*rule_, Ref<IReteToken>(token.get()), this,
                                                  token->Strength());
  TActivation* a = activation.get();
  if (static_cast<std::size_t>(count_) >= buckets_.size()) {
    Grow();
  }
  a->node_order_ = next_order_++;
  TActivation*& bucket = BucketOf(token->IdentityHash());
  a->node_next_ = bucket;
  bucket = a;
  ++count_;
  try {
    rete_->Activate(std::move(activation));
  } catch (...) {
    if (activation) {
      Forget(*a);  // not on the agenda (its salience failed, say): not here either
    }
    throw;
  }
  if (activation) {
    Forget(*a);  // no engine took it
  }
}

void TPatternMatchTerminalNode::Forget(TActivation& activation) {
  if (activation.node_order_ == 0) {
    return;
  }
  for (TActivation** link = &BucketOf(IdentityOf(activation)); *link != nullptr;
       link = &(*link)->node_next_) {
    if (*link == &activation) {
      Unchain(link);
      return;
    }
  }
  activation.node_next_ = nullptr;
  activation.node_order_ = 0;
}

void TPatternMatchTerminalNode::Unchain(TActivation** link) noexcept {
  TActivation& activation = **link;
  *link = activation.node_next_;
  --count_;
  activation.node_next_ = nullptr;
  activation.node_order_ = 0;
}

void TPatternMatchTerminalNode::StandDown() {
  // Last created first.
  std::vector<TActivation*> all;
  all.reserve(static_cast<std::size_t>(count_));
  for (TActivation* head : buckets_) {
    for (TActivation* a = head; a != nullptr; a = a->node_next_) {
      all.push_back(a);
    }
  }
  std::sort(all.begin(), all.end(),
            [](const TActivation* x, const TActivation* y) { return x->node_order_ > y->node_order_; });
  for (TActivation* a : all) {
    Forget(*a);
    rete_->Deactivate(*a);
  }
}

void TPatternMatchTerminalNode::StandDown(const TIEToken& token) {
  if (buckets_.empty()) {
    return;  // never activated
  }
  // The first activation in creation order whose token equals `token`, and
  // the link to it in its chain.
  TActivation** first = nullptr;
  for (TActivation** link = &BucketOf(token.IdentityHash()); *link != nullptr;
       link = &(*link)->node_next_) {
    const TActivation* a = *link;
    if ((first == nullptr || a->node_order_ < (*first)->node_order_) &&
        static_cast<const TIEToken&>(a->Token()).SameAs(token)) {
      first = link;
    }
  }
  if (first != nullptr) {
    TActivation& leaving = **first;
    Unchain(first);
    rete_->Deactivate(leaving);
  }
}

void TPatternMatchTerminalNode::PrefetchFiring(const TActivation& activation) const noexcept {
  const auto& token = static_cast<const TIEToken&>(activation.Token());
  token.PrefetchForFiring();
  if (!buckets_.empty()) {
    __builtin_prefetch(&buckets_[token.IdentityHash() & (buckets_.size() - 1)]);
  }
}

void TPatternMatchTerminalNode::RuleFired(TActivation& activation) {
  Forget(activation);
  rete_->RuleFired(activation);
}

void TPatternMatchTerminalNode::FastClear() {
  // The agenda may have freed the activations already: only the chains go.
  std::fill(buckets_.begin(), buckets_.end(), nullptr);
  count_ = 0;
}

std::size_t TPatternMatchTerminalNode::CheckActivations() const {
  const std::size_t buckets = buckets_.size();
  ZEPHRO_CHECK((buckets & (buckets - 1)) == 0,
               "terminal node: the bucket count is not a power of two");
  ZEPHRO_CHECK(count_ >= 0, "terminal node: a negative activation count");
  const auto counted = static_cast<std::size_t>(count_);
  std::size_t listed = 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    for (const TActivation* a = buckets_[b]; a != nullptr; a = a->node_next_) {
      ZEPHRO_CHECK(listed < counted,
                   "terminal node: more activations listed than counted (or a chain runs in a "
                   "circle)");
      ZEPHRO_CHECK(a->node_ == this, "terminal node: lists an activation of another node");
      ZEPHRO_CHECK(a->node_order_ != 0 && a->node_order_ < next_order_,
                   "terminal node: a listed activation has no place in the node's creation order");
      ZEPHRO_CHECK((IdentityOf(*a) & (buckets - 1)) == b,
                   "terminal node: an activation is in the bucket of another identity");
      ++listed;
    }
  }
  ZEPHRO_CHECK(listed == counted,
               "terminal node: the activation count differs from the activations listed");
  return listed + buckets;
}

std::string TPatternMatchTerminalNode::ToString() const {
  return TReteNode::ToString() + " Rule: " + rule_->RuleName();
}

}  // namespace zephro
