// Joins (TJoinNode): partial matches from the left meet facts from the
// right in keyed memories; negated joins pass a left token on while it has
// no blocker.

#include <algorithm>

#include "zephro/rules/rule_environment.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "rules/rete_nodes.h"

namespace zephro {
namespace {

const char* kCallTypeNames[] = {"ctLeft", "ctRight", "ctSingle", "ctActivate"};

}  // namespace

// --- TJoinNode ----------------------------------------------------------------------------------

TJoinNode::TJoinNode(TReteNetwork& rete, bool negated, bool unique)
    : TTestNode(rete), negated_(negated), unique_(unique) {}

TJoinNode::~TJoinNode() {
  if (offered_at_ != nullptr) {
    rete_->WithdrawRightOffer(*this, *offered_at_);
  }
  LeaveRightMemory();
}

TJoinNode* TJoinNode::RightMemoryHeir() const noexcept {
  if (right_) {
    for (TJoinNode* member : right_->members) {
      if (member != this && member->offers_right_) {
        return member;
      }
    }
  }
  return nullptr;
}

void TJoinNode::LeaveRightMemory() {
  if (right_) {
    right_->Settle();
    auto& members = right_->members;
    members.erase(std::remove(members.begin(), members.end(), this), members.end());
    right_.reset();
  }
  right_tree_ = nullptr;
  right_shared_ = false;
}

bool TJoinNode::Equals(const TTestNode& other) const {
  const auto* o = dynamic_cast<const TJoinNode*>(&other);
  if (o == nullptr || negated_ || o->negated_ || prefix_join_ || o->prefix_join_ ||
      unique_ != o->unique_ || goal_ != nullptr || o->goal_ != nullptr) {
    return false;
  }
  return TTestNode::Equals(other);
}

void TJoinNode::PrepareShortCut() {
  left_key_ = TMemoryKey{};
  right_key_ = TMemoryKey{};
  left_.reset();
  LeaveRightMemory();
  if (prefix_join_) {
    return;  // both memories hash by token identity
  }
  // Every equality join test, of a whole slot or of a field at a fixed
  // position, becomes part of the key (moved to the front, so they run
  // first on the candidates a probe finds). A fact that lacks a part's field
  // (a list too short) fails that part's test, and its key finds it no
  // partner.
  auto is_key = [&](std::size_t i, TJoinTestType wanted) {
    const TIEJoinTest* j = tests_[i]->AsJoinTest();
    return j != nullptr && !j->IsNegated() && !j->ByDegree() && j->JoinTestType() == wanted;
  };
  std::vector<TMemoryKeyPart> left;
  std::vector<TMemoryKeyPart> right;
  auto take = [&](std::size_t i, std::size_t to) {
    const TIEJoinTest* j = tests_[i]->AsJoinTest();
    left.push_back(TMemoryKeyPart{.fact_index = j->TokenIdx(),
                                  .key_number = 0,
                                  .slot = TSlotPosition(j->LeftSlotName()),
                                  .sub_index = j->LeftSubIndex(),
                                  .cache = {}});
    right.push_back(TMemoryKeyPart{.fact_index = -1,
                                   .key_number = 0,
                                   .slot = TSlotPosition(j->RightSlotName()),
                                   .sub_index = j->RightSubIndex(),
                                   .cache = {}});
    const auto at = static_cast<std::ptrdiff_t>(i);
    const auto dest = static_cast<std::ptrdiff_t>(to);
    std::rotate(tests_.begin() + dest, tests_.begin() + at, tests_.begin() + at + 1);
    program_.Reset();
  };
  for (std::size_t i = 0; i < tests_.size(); ++i) {
    if (is_key(i, TJoinTestType::tstSlot) || is_key(i, TJoinTestType::tstMultiSlot)) {
      take(i, left.size());
    }
  }
  left_key_.parts = rete_->MemoryKeys().Intern(left);
  right_key_.parts = rete_->MemoryKeys().Intern(right);
}

namespace {

// Kept out of line: the callers' fast path only finds the memory made.
[[gnu::noinline]] std::unique_ptr<TIETokenTree> NewMemory(int initial_buckets, bool probed) {
  return std::make_unique<TIETokenTree>(initial_buckets, probed);
}

}  // namespace

TIETokenTree& TJoinNode::Left() {
  if (!left_) [[unlikely]] {
    left_ = NewMemory(rete_->HashKey(), Probing());
  }
  return *left_;
}

TRightMemory& TJoinNode::Right() {
  if (!right_) {
    right_ = MakeRef<TRightMemory>();
    right_->members.push_back(this);
  }
  return *right_;
}

bool TJoinNode::ShareRightMemory(TJoinNode& other) {
  if (!other.offers_right_ || &other == this || right_tree_ != nullptr ||
      other.right_tree_ != nullptr || other.right_key_.parts.size() != right_key_.parts.size()) {
    return false;
  }
  for (std::size_t i = 0; i < right_key_.parts.size(); ++i) {
    const TMemoryKeyPart& a = right_key_.parts[i];
    const TMemoryKeyPart& b = other.right_key_.parts[i];
    if (a.fact_index != b.fact_index || a.sub_index != b.sub_index ||
        a.slot.Name() != b.slot.Name()) {
      return false;
    }
  }
  TRightMemory& shared = other.Right();
  LeaveRightMemory();
  right_ = other.right_;
  shared.members.push_back(this);
  right_shared_ = true;
  other.right_shared_ = true;
  return true;
}

std::uint32_t TJoinNode::FileSharedRight(const Ref<TIEToken>& token, std::int32_t hash,
                                         std::uint64_t fingerprint) {
  TRightMemory& m = Right();
  if (right_shared_ && m.members.front() != this && m.token == token && !m.removal) {
    right_event_ = m.event;
    const std::uint32_t position = m.position;
    if (m.members.back() == this) {
      m.Settle();  // every member has it
    }
    return position;
  }
  m.Settle();  // what a failed move left half done
  if (!m.tree) {
    // Walked whole by any member that has no key: then sized by its entries.
    const bool probed = std::all_of(m.members.begin(), m.members.end(),
                                    [](const TJoinNode* member) { return member->Probing(); });
    m.tree = NewMemory(rete_->HashKey(), probed);
    for (TJoinNode* member : m.members) {
      member->right_tree_ = m.tree.get();
    }
  }
  const std::uint32_t position = m.tree->Add(token, hash, fingerprint);
  if (right_shared_ && m.members.back() != this) {
    right_event_ = ++m.event;
    m.token = token;
    m.removal = false;
    m.position = position;
    m.in_flight = position;
  }
  return position;
}

bool TJoinNode::UnfileSharedRight(TIEToken& token, std::uint32_t& position, Ref<TIEToken>& held) {
  TRightMemory& m = *right_;
  if (m.members.front() != this && m.token.get() == &token && m.removal) {
    right_event_ = m.event;
    position = m.position;
    held = m.held;
    const bool found = m.found;
    if (m.members.back() == this) {
      m.Settle();  // the last member takes the entry out
    }
    return found;
  }
  m.Settle();
  const std::uint32_t at =
      right_tree_ != nullptr ? right_tree_->Detach(token) : TIETokenTree::kNoEntry;
  const bool found = at != TIETokenTree::kNoEntry;
  if (found) {
    position = at;
    held = right_tree_->TokenAt(at);
  }
  if (m.members.back() == this) {
    if (found) {
      right_tree_->Unlink(at);  // alone in the memory now
    }
    return found;
  }
  right_event_ = ++m.event;
  m.token = Ref<TIEToken>(&token);
  m.removal = true;
  m.found = found;
  m.position = position;
  m.held = held;
  m.in_flight = at;
  return found;
}

void TJoinNode::SettleRightMemory() noexcept {
  if (right_) {
    right_->Settle();
  }
}

void TJoinNode::ClearMemory() {
  if (left_) {
    left_->Clear();
  }
  blockers_in_order_ = true;
  if (right_) {
    right_->Settle();
    if (right_->tree) {
      right_->tree->Clear();
    }
  }
}

Ref<TIEToken> TJoinNode::Extend(const Ref<TIEToken>& left, TIEToken& right,
                                TTokenAction tag) const {
  Ref<TIEToken> t = MakeRef<TIEToken>(left, right.Fact());
  t->SetTag(tag);
  t->SetStrength(std::min(left->Strength(), right.Strength()));
  left->AdoptChild(*t, id_);
  if (!prefix_join_) {
    right.AdoptRightChild(*t);
  }
  if (right.MayRepeat()) {
    // Splits of one fact extend a partial match into tokens of their own.
    t->MarkMayRepeat();
    t->TakeRightIdentity(*left, right);
  }
  return t;
}

Ref<TIEToken> TJoinNode::WithNull(const Ref<TIEToken>& left, TTokenAction tag) const {
  Ref<TIEToken> t = MakeRef<TIEToken>(left, &rete_->NullFact());
  t->SetTag(tag);
  left->AdoptChild(*t, id_);
  return t;
}

template <bool kPassesOn, class F>
void TJoinNode::ForCandidates(TIETokenTree* memory, std::int32_t hash, bool key_found, F&& f) {
  if (memory == nullptr) {
    return;  // never stored anything
  }
  if (right_shared_ && memory == right_tree_) {
    // A shared memory may hold an entry this join has not been told of yet,
    // or one it has been told is leaving.
    const std::uint32_t hidden = right_->HiddenFrom(right_event_);
    if (hidden != TIETokenTree::kNoEntry) {
      WalkCandidates<kPassesOn>(memory, hash, key_found,
                                [&](TIETokenTree::Entry& e, std::uint32_t at) {
                                  return at == hidden || f(e, at);
                                });
      return;
    }
  }
  WalkCandidates<kPassesOn>(memory, hash, key_found, f);
}

template <bool kPassesOn, class F>
void TJoinNode::WalkCandidates(TIETokenTree* memory, std::int32_t hash, bool key_found, F&& f) {
  if (!Probing()) {
    memory->ForEach(f);
  } else if (key_found) {
    memory->ForKey<kPassesOn>(hash, f);
  }
}

bool TJoinNode::CallNode(const Ref<TIEToken>& token, TCallType call_type) {
  if (token->Tag() == TTokenAction::taClear) {
    ClearMemory();
    CallChildren(token);
    return true;
  }
  try {
    switch (call_type) {
      case TCallType::ctLeft:
        LeftActivate(token);
        return true;
      case TCallType::ctRight:
        RightActivate(token);
        return true;
      case TCallType::ctSingle:
      case TCallType::ctActivate:
        RaiseIE(SInvalidCallType, kCallTypeNames[static_cast<int>(call_type)]);
    }
  } catch (...) {
    // A search or a pass cut short may leave a token blocked past a match,
    // or free beside one: from now on every search starts at the head.
    blockers_in_order_ = false;
    throw;
  }
  return false;
}

bool TJoinNode::Matches(const TIEToken& left, const TIEToken& right, std::uint64_t a,
                        std::uint64_t b) {
  if (prefix_join_) {
    return right.ParentToken() != nullptr && right.ParentToken()->SameAs(left);
  }
  // Keys of one or two small integers and numbered texts compare by their
  // fingerprints (see TMemoryKey): the key tests, which lead the join's
  // tests, need not read the facts again.
  std::size_t first = 0;
  if (a != TMemoryKey::kInexact && b != TMemoryKey::kInexact) {
    bool decided = true;
    const bool same = TMemoryKey::SameKey(a, b, decided);
    if (decided) {
      if (!same) {
        return false;
      }
      first = left_key_.parts.size();
      if (first == static_cast<std::size_t>(TestCount())) {
        return true;  // the key was every test: the partner itself is not read
      }
    }
  }
  return RunTests(left, &right, right.Fact(), first);
}

bool TJoinNode::RunTestsVaryRight(const Ref<TIEToken>& left, TTokenAction tag, std::int32_t hash,
                                  bool key_found, std::uint64_t fingerprint) {
  bool matched = false;
  ForCandidates(RightTree(), hash, key_found, [&](TIETokenTree::Entry& r, std::uint32_t) {
    if (!Matches(*left, *r.token, fingerprint, r.fingerprint)) {
      return true;
    }
    matched = true;
    CallChildren(Extend(left, *r.token, tag));
    return !unique_;
  });
  return matched;
}

void TJoinNode::SetPattern(const TIEPattern& pattern, const TRule& rule) {
  goal_ = std::make_unique<const TGoalRecipe>(pattern, rule);
}

void TJoinNode::AskForBackChain(const TIEToken& token) {
  IRuleEnvironment& engine = *rete_->Engine();
  Ref<IFact> goal = engine.GoalTemplate(goal_->GoalTemplateName()).NewFact();
  goal_->Fill(*goal, token);
  engine.QueueGoal(std::move(goal));
}

std::uint32_t TJoinNode::FindBlocker(const TIEToken& left, std::int32_t hash, bool key_found,
                                     std::uint64_t fingerprint) {
  std::uint32_t blocker = TIETokenTree::kNoEntry;
  ForCandidates<false>(RightTree(), hash, key_found, [&](TIETokenTree::Entry& r, std::uint32_t at) {
    if (!Matches(left, *r.token, fingerprint, r.fingerprint)) {
      return true;
    }
    blocker = at;
    return false;
  });
  return blocker;
}

std::uint32_t TJoinNode::FindBlockerAfter(const TIEToken& left, std::int32_t hash,
                                          std::uint32_t position, std::uint64_t fingerprint) {
  std::uint32_t blocker = TIETokenTree::kNoEntry;
  const std::uint32_t hidden =
      right_shared_ ? right_->HiddenFrom(right_event_) : TIETokenTree::kNoEntry;
  RightTree()->ForKeyAfter(hash, position, [&](TIETokenTree::Entry& r, std::uint32_t at) {
    if (at == hidden || !Matches(left, *r.token, fingerprint, r.fingerprint)) {
      return true;
    }
    blocker = at;
    return false;
  });
  return blocker;
}

void TJoinNode::LeftActivate(const Ref<TIEToken>& token) {
  // The left memory files the token under its key value (or its identity),
  // which is also where its partners sit in the right memory.
  if (token->Tag() == TTokenAction::taRemove) {
    // What this node made from the token this memory held goes with it.
    // The held token is on its way out of every memory: marked so, what the
    // withdrawal frees meanwhile below (a negation level fed from the same
    // input, whose left memory holds it too) goes out as a removal instead
    // of coming in for a moment.
    Ref<TIEToken> held;
    if (left_ && left_->Remove(*token, nullptr, &held)) {
      held->SetTag(TTokenAction::taRemove);
      WithdrawChildren(*held);
    }
    return;
  }
  TIETokenTree& left = Left();
  bool found = true;
  std::uint64_t fingerprint = TMemoryKey::kInexact;
  // Without a key, a left memory is walked whole, in the order of its
  // tokens' sort codes (a prefix join probes its left memory by identity).
  const std::int32_t hash =
      Probing() ? left_key_.HashOf(*token, found, &fingerprint) : token->SortCode();
  if (right_tree_ != nullptr && found) {
    right_tree_->PrefetchKey(hash);
  }
  const std::uint32_t position = left.Add(token, hash, fingerprint);
  if (position == TIETokenTree::kNoEntry) {
    return;  // already there
  }
  if (!negated_) {
    const TTokenAction tag = token->Tag();
    if (!RunTestsVaryRight(token, tag, hash, found, fingerprint) && goal_ != nullptr &&
        (tag == TTokenAction::taAdd || tag == TTokenAction::taUpdate)) {
      AskForBackChain(*token);  // nothing completes the match: ask for it
    }
    return;
  }
  // A negated pattern holds while no right token matches: one match is enough
  // to block the token.
  const std::uint32_t blocker = FindBlocker(*token, hash, found, fingerprint);
  left.Blocker(position) = blocker;
  if (blocker == TIETokenTree::kNoEntry) {
    CallChildren(WithNull(token, token->Tag()));
  }
}

void TJoinNode::RightActivate(const Ref<TIEToken>& token) {
  bool found = true;
  std::int32_t hash = 0;
  std::uint64_t fingerprint = TMemoryKey::kInexact;
  if (prefix_join_) {
    hash = token->ParentToken() != nullptr
               ? static_cast<std::int32_t>(token->ParentToken()->IdentityHash())
               : 0;
  } else if (right_key_.Keyed()) {
    const IFact* fact = token->Fact();
    if (fact == nullptr) {
      found = false;
    } else if (token->MayRepeat()) {
      hash = right_key_.HashOfFact(*fact, found, &fingerprint);
    } else {
      const void* key = right_key_.parts.data();
      TReteNetwork::TFactKeyMemo& memo =
          rete_->fact_keys_[right_key_.parts.front().key_number % rete_->fact_keys_.size()];
      if (memo.epoch != rete_->fact_key_epoch_ || memo.fact != fact || memo.key != key) {
        memo.hash = right_key_.HashOfFact(*fact, memo.found, &memo.fingerprint);
        memo.fact = fact;
        memo.key = key;
        memo.epoch = rete_->fact_key_epoch_;
      }
      hash = memo.hash;
      found = memo.found;
      fingerprint = memo.fingerprint;
    }
  } else {
    hash = token->Fact() != nullptr ? token->Fact()->GetID() : 0;
  }
  const bool removing = token->Tag() == TTokenAction::taRemove;
  std::uint32_t position = TIETokenTree::kNoEntry;
  if (removing) {
    Ref<TIEToken> held;
    if (!UnfileRight(*token, position, held)) {
      return;
    }
    if (!negated_) {
      WithdrawRightChildren(*held);
      return;
    }
  } else {
    if (left_ && found) {
      left_->PrefetchKey(hash);
    }
    position = FileRight(token, hash, fingerprint);
    if (position == TIETokenTree::kNoEntry) {
      return;
    }
  }
  if (!left_) {
    return;  // nothing waits on the left yet
  }
  // With a key, left entries that can match sit under the same hash; a prefix
  // join finds the one left token it extends under that token's identity.
  TIETokenTree& left = *left_;
  if (negated_ && removing) {
    Unblock(hash, found, position);
    return;
  }
  ForCandidates(&left, hash, found, [&](TIETokenTree::Entry& l, std::uint32_t at) {
    if (!negated_) {
      if (Matches(*l.token, *token, l.fingerprint, fingerprint)) {
        CallChildren(Extend(l.token, *token, token->Tag()));
      }
    } else if (left.Blocker(at) == TIETokenTree::kNoEntry &&
               Matches(*l.token, *token, l.fingerprint, fingerprint)) {
      // Tokens already blocked stay blocked: only free ones are tested.
      left.Blocker(at) = position;
      WithdrawChildren(*l.token);
    }
    return true;
  });
}

void TJoinNode::Unblock(std::int32_t hash, bool key_found, std::uint32_t gone) {
  // Each token blocked by the right entry that left is free unless another
  // one matches it. Should finding another, or passing a freed token on,
  // fail part way, no token may stay blocked by the entry that left (its
  // place is reused): those not reached yet are blocked by another match
  // when one is found, else left free, without the extension the failure
  // kept from being made.
  //
  // A blocker is the first match in the order the right memory files its
  // entries under a key, and what comes later is filed behind it. So when
  // a verdict, once given, stands, every entry before the one that left
  // failed the tokens it blocked, and the search goes on from the entry
  // after it.
  TIETokenTree& left = *left_;
  enum class TResume : std::uint8_t { kUnknown, kYes, kNo } resume = TResume::kUnknown;
  try {
    ForCandidates(&left, hash, key_found, [&](TIETokenTree::Entry& l, std::uint32_t at) {
      if (left.Blocker(at) == gone) {
        if (resume == TResume::kUnknown) {
          resume = blockers_in_order_ && left_key_.Keyed() && VerdictsStand() ? TResume::kYes
                                                                               : TResume::kNo;
        }
        const std::uint32_t blocker =
            resume == TResume::kYes ? FindBlockerAfter(*l.token, l.hash, gone, l.fingerprint)
                                    : FindBlocker(*l.token, l.hash, true, l.fingerprint);
        left.Blocker(at) = blocker;
        if (blocker == TIETokenTree::kNoEntry) {
          CallChildren(WithNull(l.token, l.token->Tag()));
        }
      }
      return true;
    });
  } catch (...) {
    ForCandidates(&left, hash, key_found, [&](TIETokenTree::Entry& l, std::uint32_t at) {
      if (left.Blocker(at) == gone) {
        std::uint32_t blocker = TIETokenTree::kNoEntry;
        try {
          blocker = FindBlocker(*l.token, l.hash, true, l.fingerprint);
        } catch (...) {
          // left free
        }
        left.Blocker(at) = blocker;
      }
      return true;
    });
    throw;
  }
}

std::string TJoinNode::ToString() const {
  std::string text = TTestNode::ToString();
  if (negated_) {
    text += " *NEGATED*";
  }
  text += " Left Memory: " + (left_ ? left_->GetToFactsString() : std::string());
  text += " Right Memory: " +
          (RightTree() != nullptr ? RightTree()->GetToFactsString() : std::string());
  return text;
}

}  // namespace zephro
