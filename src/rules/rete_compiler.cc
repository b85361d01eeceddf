// The rule compiler.
//
// Compiling a rule runs four passes over its patterns:
//   1. alpha chains: per pattern a root that tests the template, then one node
//      per multifield variable, per fixed multislot length and per constant or
//      single-pattern predicate; equal nodes under the same parent are shared;
//   2. variables repeated inside one pattern become slot-equality nodes;
//   3. per pattern after the first, a join (or a test node for a `test`
//      element) whose join tests come from variables bound by earlier
//      patterns; positive joins with equal tests on the same inputs are
//      shared; a negation count above one chains further negated joins;
//   4. a terminal node for the rule; then working memory is fed through the
//      rule's roots so that a rule added late gets its activations at once.
// The compile trace records "+1"/"=1" (alpha node made/shared), "+2"/"=2"
// (join made/shared) and "+t" (terminal).

#include "rules/rete_compiler.h"

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
#include "rules/rete_nodes.h"
#include "rules/token.h"

namespace zephro {

class TReteCompiler {
 public:
  TReteCompiler(TReteNetwork& rete, TRule& rule) : rete_(rete), rule_(rule) {}

  void Compile() {
    const int n = rule_.PatternCount();
    ends_.assign(static_cast<std::size_t>(n), nullptr);
    FirstPass();
    SecondPass();
    ThirdPass();
    FourthPass();
  }

  // The nodes the rule uses, in the order they were made or found (a node
  // the rule uses twice is listed twice), each use counted once listed.
  std::span<TReteNode* const> Listed() const noexcept { return nodes_; }
  TReteNode* Terminal() const noexcept { return terminal_; }
  // Each step of the compilation: "+" (a node made) or "=" (a node shared)
  // followed by "1" (a pattern node), "2" (a join) or "t" (the terminal).
  const std::string& Trace() const noexcept { return trace_; }

 private:
  std::vector<TReteNode*>& Nodes() { return nodes_; }
  void Step(bool made, char kind) {
    trace_ += made ? '+' : '=';
    trace_ += kind;
  }

  // Adopts `node` into the network and lists it among the rule's nodes
  // before anything links it: when linking fails half-way (out of memory),
  // the list still has the node, and what was linked is unlinked.
  TReteNode& AdoptListed(std::unique_ptr<TReteNode> node) {
    std::vector<TReteNode*>& nodes = Nodes();
    if (nodes.size() == nodes.capacity()) {
      nodes.reserve(std::max<std::size_t>(16, nodes.size() * 2));
    }
    TReteNode& adopted = rete_.Adopt(std::move(node));
    nodes.push_back(&adopted);  // within the capacity: cannot fail
    return adopted;
  }

  TReteNode& CreateSuccessor(TReteNode* parent, TPatternMatchTest test, Ref<IIEValue> value,
                             std::vector<TNodeArg> args) {
    // A predicate that reads a binding is placed anew for each rule, as when
    // each copy had a reference of its own: sharing it would change the
    // order in which the rules' activations are made.
    const bool reads_binding =
        value && value->DType() == TIEType::dtFunCall && ReadsBinding(*value->AsFunCall());
    auto reuse = [&](TReteNode* candidate) -> TReteNode* {
      auto* node = dynamic_cast<TPatternMatchNode*>(candidate);
      return node != nullptr && !reads_binding && node->Equals(test, value.get(), args) ? node
                                                                                        : nullptr;
    };
    TReteNode* found = nullptr;
    if (parent != nullptr && rete_.alpha_index_->Covers(*parent) &&
        !(value && value->DType() == TIEType::dtFuzzy)) {
      found = rete_.alpha_index_->Find(
          TAlphaIndex::KeyOf(*parent, test, value.get()), [&](TPatternMatchNode& candidate) {
            return *candidate.Predecessors().begin() == parent && reuse(&candidate) != nullptr;
          });
    } else if (parent != nullptr) {
      for (const TReteNode::Edge& e : parent->Successors()) {
        if (e.CallType() == TCallType::ctSingle && (found = reuse(e.To())) != nullptr) {
          break;
        }
      }
    } else {
      const std::string key =
          test == TPatternMatchTest::pmtTestClassType ? std::string(value->Text()) : std::string();
      for (TReteNode* root : rete_.roots_[key]) {
        if ((found = reuse(root)) != nullptr) {
          break;
        }
      }
    }
    if (found != nullptr) {
      Nodes().push_back(found);  // listed first: the use is counted once listed
      found->AddUse();
      Step(false, '1');
      return *found;
    }
    TReteNode& node = AdoptListed(
        std::make_unique<TPatternMatchNode>(rete_, test, std::move(value), std::move(args)));
    if (parent != nullptr) {
      rete_.Link(*parent, node, TCallType::ctSingle);
    } else {
      rete_.RegisterRoot(node);
    }
    Step(true, '1');
    return node;
  }

  // A value holding a copy of `call` whose variables refer to where the rule
  // binds them, with the tag `value_tag`, and the hash of what the copy
  // says. The calls nested in it are copied as well; its constants are
  // shared with the rule's call (nothing changes them in place). A copy
  // equal to one the network made before, for this rule or another, is
  // that one: rules whose predicates read alike hold one copy.
  struct TPrepared {
    Ref<IIEValue> value;
    std::uint64_t hash;
  };
  TPrepared PrepareCall(const IFunCall& call, std::int32_t value_tag, int pattern,
                        bool single_fact) {
    Ref<TFunctionCall> copy = MakeRef<TFunctionCall>(call.Reasoner(), call.Name());
    copy->SetComment(call.Comment());
    copy->SetTag(call.Tag());
    std::uint64_t hash = AccumulateHash(kHashSeed, CalculateHash(call.Name()));
    hash = AccumulateHash(AccumulateHash(hash, call.Tag()), value_tag);
    for (const Ref<IIEValue>& arg : call.Arguments()) {
      TPrepared prepared = PrepareArgument(arg, pattern, single_fact);
      hash = AccumulateHash(hash, FinishHash(prepared.hash));
      copy->AddArgument(std::move(prepared.value));
    }
    Ref<IIEValue> value = MakeRef<TIEValue>(Ref<IFunCall>(std::move(copy)));
    value->SetTag(value_tag);
    return {rete_.prepared_calls_->Share(std::move(value), hash), hash};
  }

  TPrepared PrepareArgument(const Ref<IIEValue>& arg, int pattern, bool single_fact) {
    const TIEType kind = arg->DType();
    if (kind == TIEType::dtFunCall) {
      return PrepareCall(*arg->AsFunCall(), arg->Tag(), pattern, single_fact);
    }
    const std::uint64_t constant = AccumulateHash(
        AccumulateHash(kHashSeed, static_cast<std::int32_t>(kind)), arg->GetHashCode());
    if (kind != TIEType::dtVariable && kind != TIEType::dtMultiVariable) {
      return {arg, constant};
    }
    const std::string_view name = arg->Text();
    TBinding* b = rule_.GetBindingByName(name);
    if (b == nullptr || b->FactIndex() > pattern) {
      if (rete_.Engine() != nullptr && rete_.Engine()->IsGlobalVariable(name)) {
        return {arg, constant};  // resolved through the engine's context
      }
      RaiseIE(SUnknownVariable, std::string(name).c_str());
    }
    const std::int32_t fact_index = single_fact ? 0 : b->FactIndex();
    const IFactTemplate* fact_template =
        b->FactIndex() >= 0 && b->FactIndex() < rule_.PatternCount()
            ? rule_.Pattern(b->FactIndex()).FactTemplate()
            : nullptr;
    Ref<IIEValue>& shared = rete_.binding_refs_[std::make_tuple(
        fact_template, fact_index, std::string(b->SlotIndex()), b->SubIndex())];
    if (!shared) {
      auto info = std::make_unique<TBindingInfo>(fact_index, b->SlotIndex(), b->SubIndex());
      auto value = MakeRef<TIEValue>();
      value->SetAsOwnedObject(info.release());
      shared = std::move(value);
    }
    std::uint64_t hash = AccumulateHash(kHashSeed, fact_index);
    hash = AccumulateHash(hash, CalculateHash(b->SlotIndex()));
    hash = AccumulateHash(hash, b->SubIndex());
    if (fact_template != nullptr) {
      hash = AccumulateHash(hash, CalculateHash(fact_template->TemplateName()));
    }
    return {shared, hash};
  }

  // True when `call` or a call nested in it holds a binding reference.
  static bool ReadsBinding(const IFunCall& call) {
    for (const Ref<IIEValue>& arg : call.Arguments()) {
      if (arg->DType() == TIEType::dtObject ||
          (arg->DType() == TIEType::dtFunCall && ReadsBinding(*arg->AsFunCall()))) {
        return true;
      }
    }
    return false;
  }

  // True when `call` uses a variable bound by a pattern other than `pattern`.
  bool HasMorePatterns(const IFunCall& call, int pattern) const {
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      const IIEValue* arg = call.Argument(i);
      if (arg == nullptr) {
        continue;
      }
      if (arg->DType() == TIEType::dtFunCall) {
        if (HasMorePatterns(*arg->AsFunCall(), pattern)) {
          return true;
        }
        continue;
      }
      if (arg->DType() == TIEType::dtVariable || arg->DType() == TIEType::dtMultiVariable) {
        const TBinding* b = rule_.GetBindingByName(arg->Text());
        if (b != nullptr && b->FactIndex() != pattern) {
          return true;
        }
      }
    }
    return false;
  }

  bool IsAlphaCall(const TIEPattern& pattern, int index, const TIEPatternMatchTest& test) const {
    return test.IsFunCall() && !pattern.IsTest() &&
           !HasMorePatterns(*test.SlotValue()->AsFunCall(), index);
  }

  // Whether the slot's one field is a multifield variable without a name:
  // `$?` alone matches any list once, and nothing reads what it takes, so the
  // slot's fold lets the fact through whole and its length is not tested.
  static bool TakenWhole(const TPatternSlot& slot) {
    if (slot.length != 1 || slot.tests.size() != 1) {
      return false;
    }
    const auto& test = *slot.tests.front();
    const IIEValue* v = test.SlotValue();
    return test.IsMultiVariable() && !test.IsNegated() && test.MultiSlotSubIndex() == 0 &&
           v != nullptr && v->Text().starts_with(SBlankMulti);
  }

  // The nodes that split a multislot at each multifield variable, in the
  // order of the variables. When the slot's length is fixed, each node knows
  // how many fields must follow its segment, whether it is the slot's last
  // (whose segment is then of one length only), and the constant the pattern
  // wants right after the segment, if any: it tries only the lengths that
  // can match.
  TReteNode* CreateFolds(TReteNode& after, const TPatternSlot& slot) {
    std::vector<std::int32_t> positions;
    for (const auto& t : slot.tests) {
      if (t->IsMultiVariable()) {
        positions.push_back(t->MultiSlotSubIndex());
      }
    }
    const bool known = slot.length >= 0 && std::is_sorted(positions.begin(), positions.end()) &&
                       std::adjacent_find(positions.begin(), positions.end()) == positions.end();
    TReteNode* end = &after;
    const auto m = static_cast<std::int32_t>(positions.size());
    for (std::int32_t k = 0; k < m; ++k) {
      const std::int32_t p = positions[static_cast<std::size_t>(k)];
      std::int32_t fixed_after = -1;
      bool last = false;
      Ref<IIEValue> anchor;
      if (known) {
        fixed_after = slot.length - 1 - p - (m - 1 - k);
        last = k == m - 1;
        for (const auto& t : slot.tests) {
          IIEValue* v = t->SlotValue();
          if (t->MultiSlotSubIndex() == p + 1 && !t->IsNegated() && !t->IsVariable() &&
              !t->IsMultiVariable() && !t->IsFunCall() && v != nullptr &&
              v->DType() != TIEType::dtFuzzy && v->DType() != TIEType::dtSingletons) {
            anchor = Ref<IIEValue>(v);
            break;
          }
        }
      }
      const std::int32_t kind = TakenWhole(slot) ? 2 : (last ? 1 : 0);
      end = &CreateSuccessor(end, TPatternMatchTest::pmtTestMultiSlotMultiField, std::move(anchor),
                             {slot.name.Str(), p, fixed_after, kind});
    }
    return end;
  }

  void FirstPass() {
    for (int p = 0; p < rule_.PatternCount(); ++p) {
      TIEPattern& pattern = rule_.Pattern(p);
      TReteNode* end;
      if (pattern.IsTest()) {
        end = &CreateSuccessor(nullptr, TPatternMatchTest::pmtUnknown, TIEValue::Atom(STestCE),
                               {std::int32_t{0}, std::int32_t{0}});
      } else {
        end = &CreateSuccessor(nullptr, TPatternMatchTest::pmtTestClassType,
                               TIEValue::Atom(pattern.FactTemplate()->TemplateName()),
                               {std::int32_t{0}, std::int32_t{0}});
      }
      entries_.push_back(end);
      if (!pattern.IsTest()) {
        for (int s = 0; s < pattern.SlotCount(); ++s) {
          end = CreateFolds(*end, pattern.Slot(s));
        }
        for (int s = 0; s < pattern.SlotCount(); ++s) {
          const TPatternSlot& slot = pattern.Slot(s);
          if (slot.length >= 0 && !TakenWhole(slot)) {
            end = &CreateSuccessor(end, TPatternMatchTest::pmtTestMultiSlotLength, nullptr,
                                   {slot.name.Str(), slot.length});
          }
        }
        for (int s = 0; s < pattern.SlotCount(); ++s) {
          const TPatternSlot& slot = pattern.Slot(s);
          for (const auto& t : slot.tests) {
            if (t->IsVariable() || t->IsMultiVariable()) {
              continue;
            }
            if (t->IsFunCall() && !IsAlphaCall(pattern, p, *t)) {
              continue;  // decided in the join
            }
            Ref<IIEValue> value;
            if (t->IsFunCall()) {
              value = PrepareCall(*t->SlotValue()->AsFunCall(), 0, p, true).value;
            } else {
              value = Ref<IIEValue>(t->SlotValue());
            }
            const bool positional = t->MultiSlotSubIndex() != NoSubIndex;
            TPatternMatchTest kind =
                positional ? (t->IsNegated() ? TPatternMatchTest::pmtTestMultiSlotNotEqual
                                             : TPatternMatchTest::pmtTestMultiSlotEqual)
                           : (t->IsNegated() ? TPatternMatchTest::pmtTestNotEqual
                                             : TPatternMatchTest::pmtTestEqual);
            end = &CreateSuccessor(end, kind, std::move(value),
                                   {slot.name.Str(), t->MultiSlotSubIndex()});
          }
        }
      }
      ends_[static_cast<std::size_t>(p)] = end;
    }
  }

  void SecondPass() {
    for (int p = 0; p < rule_.PatternCount(); ++p) {
      TIEPattern& pattern = rule_.Pattern(p);
      if (pattern.IsTest()) {
        continue;
      }
      // Every occurrence of a variable in the pattern, in slot order.
      struct Occurrence {
        const TText* slot;
        const TIEPatternMatchTest* test;
      };
      std::vector<Occurrence> occurrences;
      for (int s = 0; s < pattern.SlotCount(); ++s) {
        for (const auto& t : pattern.Slot(s).tests) {
          if (t->IsVariable() || t->IsMultiVariable()) {
            occurrences.push_back({&pattern.Slot(s).name, t.get()});
          }
        }
      }
      std::vector<bool> handled(occurrences.size(), false);
      TReteNode* end = ends_[static_cast<std::size_t>(p)];
      for (std::size_t i = 0; i < occurrences.size(); ++i) {
        if (handled[i]) {
          continue;
        }
        const Occurrence& first = occurrences[i];
        for (std::size_t j = i + 1; j < occurrences.size(); ++j) {
          const Occurrence& later = occurrences[j];
          if (later.test->SlotValue()->Text() != first.test->SlotValue()->Text()) {
            continue;
          }
          handled[j] = true;
          const bool a = first.test->IsNegated();
          const bool b = later.test->IsNegated();
          if (a && b) {
            continue;
          }
          end =
              &CreateSuccessor(end,
                               a || b ? TPatternMatchTest::pmtTestSlotValueNotEqual
                                      : TPatternMatchTest::pmtTestSlotValueEqual,
                               nullptr,
                               {first.slot->Str(), later.slot->Str(),
                                first.test->MultiSlotSubIndex(), later.test->MultiSlotSubIndex()});
        }
      }
      ends_[static_cast<std::size_t>(p)] = end;
    }
  }

  static bool IsFuzzySlot(const TIEPattern& pattern, std::string_view name) {
    const IFactTemplate* t = pattern.FactTemplate();
    const IFactSlot* slot = t != nullptr ? t->FindSlot(name) : nullptr;
    return slot != nullptr && slot->IsFuzzy();
  }

  std::unique_ptr<TTestNode> BuildJoin(TIEPattern& pattern, int p, bool negated) {
    std::unique_ptr<TTestNode> node;
    if (pattern.IsTest()) {
      node = std::make_unique<TTestNode>(rete_);
    } else {
      auto join = std::make_unique<TJoinNode>(rete_, negated, pattern.Unique());
      // A goal never raises a goal: patterns on goal templates ask for nothing.
      const IFactTemplate* t = pattern.FactTemplate();
      if (!negated && t != nullptr && t->IsBackwardChaining() &&
          !t->TemplateName().starts_with(SBackChainPrefix)) {
        join->SetPattern(pattern, rule_);
      }
      node = std::move(join);
    }
    for (int s = 0; s < pattern.SlotCount(); ++s) {
      const TPatternSlot& slot = pattern.Slot(s);
      for (const auto& t : slot.tests) {
        if (t->IsVariable() || t->IsMultiVariable()) {
          const TBinding* b = rule_.GetBindingByName(t->SlotValue()->Text());
          if (b == nullptr) {
            RaiseIE(SCorruptedVariable, std::string(t->SlotValue()->Text()).c_str());
          }
          if (b->FactIndex() >= p || b->IsPatternBinding()) {
            continue;  // bound here: no join test
          }
          std::unique_ptr<TIEJoinTest> join =
              b->SubIndex() == NoSubIndex && t->MultiSlotSubIndex() == NoSubIndex
                  ? std::make_unique<TIEJoinTest>(t->TestType(), b->SlotIndex(), slot.name.View(),
                                                  b->FactIndex())
                  : std::make_unique<TIEJoinTest>(t->TestType(), b->SlotIndex(), b->SubIndex(),
                                                  slot.name.View(), t->MultiSlotSubIndex(),
                                                  b->FactIndex());
          join->SetByDegree(IsFuzzySlot(pattern, slot.name.View()) ||
                            IsFuzzySlot(rule_.Pattern(b->FactIndex()), b->SlotIndex()));
          node->AddTest(std::move(join));
        } else if (t->IsFunCall() && !IsAlphaCall(pattern, p, *t)) {
          if (pattern.FactTemplate() != nullptr && pattern.FactTemplate()->IsBackwardChaining()) {
            RaiseIE(SBackChainFuncallPatterns, pattern.FactTemplate()->TemplateName().c_str());
          }
          auto test = std::make_unique<TIEPatternMatchTest>(
              t->TestType(), t->MultiSlotSubIndex(),
              PrepareCall(*t->SlotValue()->AsFunCall(), 0, p, false).value);
          node->AddTest(std::move(test));
          node->has_function_tests_ = true;
        }
      }
    }
    return node;
  }

  TReteNode& Place(std::unique_ptr<TTestNode> node, TReteNode& left, TReteNode& right,
                   bool shareable) {
    if (shareable) {
      for (const TReteNode::Edge& e : left.Successors()) {
        auto* candidate = dynamic_cast<TJoinNode*>(e.To());
        if (candidate != nullptr && e.CallType() == TCallType::ctLeft &&
            candidate->EnteredFrom(right, TCallType::ctRight) && candidate->Equals(*node)) {
          Nodes().push_back(candidate);
          candidate->AddUse();
          Step(false, '2');
          return *candidate;
        }
      }
    }
    TTestNode* raw = node.get();
    if (auto* join = dynamic_cast<TJoinNode*>(raw)) {
      join->PrepareShortCut();
    }
    TReteNode& placed = AdoptListed(std::move(node));
    rete_.Link(left, placed, TCallType::ctLeft);
    rete_.Link(right, placed, TCallType::ctRight);
    if (auto* join = dynamic_cast<TJoinNode*>(raw)) {
      rete_.ShareRightMemory(*join, right);
    }
    Step(true, '2');
    return placed;
  }

  void ThirdPass() {
    for (int p = 1; p < rule_.PatternCount(); ++p) {
      TIEPattern& pattern = rule_.Pattern(p);
      TReteNode& left = *ends_[static_cast<std::size_t>(p - 1)];
      TReteNode& right = *ends_[static_cast<std::size_t>(p)];
      const std::int32_t k = pattern.NegatedCount();
      auto node = BuildJoin(pattern, p, k > 0);
      const bool shareable = k <= 0 && !pattern.IsTest();
      TReteNode* end = &Place(std::move(node), left, right, shareable);
      // Each further level of negation: a negated join on the same left input
      // whose right input is the previous level.
      for (std::int32_t level = 1; level < k; ++level) {
        auto next = std::make_unique<TJoinNode>(rete_, k - level > 0, false);
        next->SetPrefixJoin();
        end = &Place(std::move(next), left, *end, false);
      }
      ends_[static_cast<std::size_t>(p)] = end;
    }
  }

  void FourthPass() {
    TReteNode& last = *ends_.back();
    auto terminal = std::make_unique<TPatternMatchTerminalNode>(rete_, rule_);
    auto* t = terminal.get();
    TReteNode& node = AdoptListed(std::move(terminal));
    terminal_ = &node;
    rete_.Link(last, node, TCallType::ctActivate);
    Step(true, 't');
    // Feed working memory through the rule's roots, each root once.
    std::vector<TReteNode*> roots;
    std::unordered_set<const TReteNode*> listed;
    for (TReteNode* entry : entries_) {
      if (listed.insert(entry).second) {
        roots.push_back(entry);
      }
    }
    fed_roots_ = roots;
    Feed(fed_roots_);
    fed_roots_.clear();
    t->SetInitialized(true);
  }

 public:
  // After a failed compilation, once the rule's nodes are gone: when the
  // failure came while working memory was fed, some facts may have left the
  // memories of the roots the rule shares with other rules without coming
  // back. They are fed through those roots again (at best: a second failure
  // leaves them as they are).
  void RestoreSharedRoots() noexcept {
    std::vector<TReteNode*> alive;
    try {
      std::unordered_set<const TReteNode*> roots;
      for (const auto& [name, list] : rete_.roots_) {
        roots.insert(list.begin(), list.end());
      }
      for (TReteNode* root : fed_roots_) {
        if (roots.contains(root)) {
          alive.push_back(root);
        }
      }
      Feed(alive);
    } catch (...) {
      // The failure the caller rethrows is the one to report.
    }
    fed_roots_.clear();
  }

 private:
  // Each fact's own token leaves every memory `roots` reach and comes back:
  // new nodes learn the fact, and shared nodes do not hold it twice.
  void Feed(const std::vector<TReteNode*>& roots) {
    IRuleEnvironment* engine = rete_.Engine();
    if (engine == nullptr || roots.empty()) {
      return;
    }
    // A fact passes only the roots that test its template or an ancestor of
    // it (a `test` element's root passes none). Past a few roots, each fact
    // goes to those alone, in the same order, rather than to every root:
    // a rule of many patterns on many templates would cost their product.
    constexpr std::size_t kAskedAll = 8;
    std::unordered_map<std::string_view, std::vector<std::size_t>> by_template;
    if (roots.size() > kAskedAll) {
      for (std::size_t i = 0; i < roots.size(); ++i) {
        const auto* root = dynamic_cast<const TPatternMatchNode*>(roots[i]);
        if (root != nullptr && root->Test() == TPatternMatchTest::pmtTestClassType) {
          by_template[root->Value()->Text()].push_back(i);
        }
      }
    }
    std::vector<std::size_t> passing;
    std::vector<TReteNode*> asked;
    try {
      FeedEach(*engine, roots, by_template, passing, asked);
    } catch (...) {
      rete_.SettleRightMemories();
      throw;
    }
  }

  void FeedEach(IRuleEnvironment& engine, const std::vector<TReteNode*>& roots,
                const std::unordered_map<std::string_view, std::vector<std::size_t>>& by_template,
                std::vector<std::size_t>& passing, std::vector<TReteNode*>& asked) {
    constexpr std::size_t kAskedAll = 8;
    engine.VisitFactMatches([&](IFact& fact, Ref<IReteToken>& match) {
      const std::vector<TReteNode*>* to = &roots;
      if (roots.size() > kAskedAll) {
        passing.clear();
        int lists = 0;
        for (const IFactTemplate* t = fact.Template(); t != nullptr; t = MatchingParent(*t)) {
          auto it = by_template.find(t->TemplateName());
          if (it != by_template.end()) {
            passing.insert(passing.end(), it->second.begin(), it->second.end());
            ++lists;
          }
        }
        if (lists > 1) {
          std::sort(passing.begin(), passing.end());
          passing.erase(std::unique(passing.begin(), passing.end()), passing.end());
        }
        asked.clear();
        for (const std::size_t i : passing) {
          asked.push_back(roots[i]);
        }
        to = &asked;
      }
      Ref<TIEToken> token = match ? Ref<TIEToken>(static_cast<TIEToken*>(match.get()))
                                  : MakeRef<TIEToken>(TTokenAction::taAdd, &fact);
      token->SetTag(TTokenAction::taRemove);
      for (TReteNode* root : *to) {
        root->CallNode(token, TCallType::ctSingle);
      }
      token->SetTag(TTokenAction::taAdd);
      for (TReteNode* root : *to) {
        root->CallNode(token, TCallType::ctSingle);
      }
      match = Ref<IReteToken>(token.get());
    });
  }

  TReteNetwork& rete_;
  TRule& rule_;
  std::vector<TReteNode*> entries_;
  std::vector<TReteNode*> ends_;
  std::vector<TReteNode*> fed_roots_;  // while working memory is fed
  std::vector<TReteNode*> nodes_;      // see Listed
  TReteNode* terminal_ = nullptr;
  std::string trace_;
};

TReteNode* CompileRule(TReteNetwork& rete, TRule& rule, std::string& trace) {
  TReteCompiler compiler(rete, rule);
  try {
    compiler.Compile();
    trace = rule.RuleName() + ": " + compiler.Trace();
  } catch (...) {
    rete.DropUses(compiler.Listed());  // leave no half-built nodes behind
    compiler.RestoreSharedRoots();
    throw;
  }
  return compiler.Terminal();
}

}  // namespace zephro
