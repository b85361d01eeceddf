#pragma once

// The rule compiler's entry point, and the network's shared copies of the
// predicates it compiles.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hash_mix.h"
#include "zephro/functions/function_call.h"
#include "zephro/rules/rete_network.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TReteNode;
class TRule;

// Compiles `rule` into `rete`'s nodes, sharing what other rules built, and
// feeds working memory to the new nodes; returns the rule's terminal node
// and writes the compilation's trace (see TReteNetwork::LastCompileTrace)
// to `trace`. A compilation that fails leaves no node of it behind and
// `trace` as it was.
TReteNode* CompileRule(TReteNetwork& rete, TRule& rule, std::string& trace);

// The network's copies of predicates, filed by what they say: a copy made
// again, for another rule or the same one compiled anew, is the one made
// before. Direct-mapped: a slot keeps the copy filed last under it, so the
// table keeps at most kSlots copies alive once their rules are gone.
class TPreparedCalls {
 public:
  // `value` (a call value), or the equal one filed under `hash` before.
  Ref<IIEValue> Share(Ref<IIEValue> value, std::uint64_t hash) {
    if (slots_.empty()) {
      slots_.resize(kSlots);
    }
    Ref<IIEValue>& slot = slots_[static_cast<std::uint32_t>(FinishHash(hash)) & (kSlots - 1)];
    if (slot && Same(*slot, *value)) {
      return slot;
    }
    slot = value;
    return value;
  }
  void Clear() noexcept { slots_ = {}; }

 private:
  static constexpr std::size_t kSlots = 4096;

  // Same tags, name, reasoner and comment, and the very same arguments: a
  // copy's constants, binding references and nested copies are shared. A
  // copy bound to a function no longer filed under its name (a deffunction
  // defined again) keeps it for the rules that ran it, and is not handed to
  // others.
  static bool Same(const IIEValue& a, const IIEValue& b) {
    const IFunCall& x = *a.AsFunCall();
    const IFunCall& y = *b.AsFunCall();
    const auto xs = x.Arguments();
    const auto ys = y.Arguments();
    return a.Tag() == b.Tag() && x.Tag() == y.Tag() && x.Reasoner() == y.Reasoner() &&
           x.Name() == y.Name() && x.Comment() == y.Comment() &&
           std::equal(xs.begin(), xs.end(), ys.begin(), ys.end(),
                      [](const Ref<IIEValue>& p, const Ref<IIEValue>& q) { return p == q; }) &&
           !BoundElsewhere(x);
  }
  static bool BoundElsewhere(const IFunCall& call) {
    const IUserFunction* bound = call.UserFunction();
    return bound != nullptr && call.Reasoner() != nullptr &&
           call.Reasoner()->ContainsUserFunction(call.Name()) != bound;
  }

  std::vector<Ref<IIEValue>> slots_;
};

}  // namespace zephro
