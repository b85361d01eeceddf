// Packed patterns (TPackedPatterns): a compiled rule's patterns kept in one
// block while nothing asks for them as objects, and made again when asked.

#include "zephro/rules/pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

#include "zephro/facts/fact_template.h"
#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "platform/block_recycler.h"

namespace zephro {

namespace {

constexpr std::size_t AlignUp(std::size_t bytes, std::size_t alignment) noexcept {
  return (bytes + alignment - 1) / alignment * alignment;
}

}  // namespace

TPackedPatterns::Pattern* TPackedPatterns::Patterns() const noexcept {
  auto* base = reinterpret_cast<std::byte*>(const_cast<TPackedPatterns*>(this));
  return reinterpret_cast<Pattern*>(base + AlignUp(sizeof(TPackedPatterns), alignof(Pattern)));
}

TPackedPatterns::Slot* TPackedPatterns::Slots() const noexcept {
  static_assert(alignof(Slot) <= alignof(Pattern) && sizeof(Pattern) % alignof(Slot) == 0);
  return reinterpret_cast<Slot*>(Patterns() + patterns_);
}

TPackedPatterns::Test* TPackedPatterns::Tests() const noexcept {
  auto* end = reinterpret_cast<std::byte*>(Slots() + slots_);
  return reinterpret_cast<Test*>(
      reinterpret_cast<std::byte*>(AlignUp(reinterpret_cast<std::uintptr_t>(end), alignof(Test))));
}

TText* TPackedPatterns::Names() const noexcept {
  static_assert(alignof(TText) <= alignof(Test) && sizeof(Test) % alignof(TText) == 0);
  return reinterpret_cast<TText*>(Tests() + tests_);
}

namespace {

// The layout of `fact_template` when `slots` are its slots, in order.
const TSlotLayout* LayoutNaming(const IFactTemplate* fact_template, const TPatternSlots& slots) {
  const auto* t = dynamic_cast<const TFactTemplate*>(fact_template);
  if (t == nullptr) {
    return nullptr;
  }
  const std::span<const std::string> names = t->Layout().Names();
  if (names.size() != slots.size()) {
    return nullptr;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (slots[i].name.View() != names[i]) {
      return nullptr;
    }
  }
  return &t->Layout();
}

}  // namespace

std::unique_ptr<TPackedPatterns> TPackedPatterns::Pack(
    std::vector<std::unique_ptr<TIEPattern>>& patterns) {
  std::size_t slots = 0;
  std::size_t tests = 0;
  std::size_t names = 0;
  std::vector<const TSlotLayout*> layouts;
  layouts.reserve(patterns.size());
  for (const auto& p : patterns) {
    if (p->updating_ != 0 || (p->notes_ && p->notes_->on_change) ||
        p->slots_.size() > std::numeric_limits<std::uint16_t>::max()) {
      return nullptr;
    }
    layouts.push_back(LayoutNaming(p->fact_template_.get(), p->slots_));
    slots += p->slots_.size();
    names += layouts.back() == nullptr ? p->slots_.size() : 0;
    for (const TPatternSlot& slot : p->slots_) {
      tests += slot.tests.size();
    }
  }
  if (patterns.size() + slots + tests > std::numeric_limits<std::uint32_t>::max()) {
    return nullptr;
  }
  const std::size_t bytes =
      AlignUp(AlignUp(sizeof(TPackedPatterns), alignof(Pattern)) + patterns.size() * sizeof(Pattern) +
                  slots * sizeof(Slot),
              alignof(Test)) +
      tests * sizeof(Test) + names * sizeof(TText);
  void* block = ::operator new(bytes);
  std::unique_ptr<TPackedPatterns> packed(new (block) TPackedPatterns(
      static_cast<std::uint32_t>(patterns.size()), static_cast<std::uint32_t>(slots),
      static_cast<std::uint32_t>(tests), static_cast<std::uint32_t>(names)));
  // Nothing below throws: texts, references and pointers are copied or moved.
  Pattern* pattern = packed->Patterns();
  Slot* slot = packed->Slots();
  Test* test = packed->Tests();
  TText* name = packed->Names();
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    TIEPattern& p = *patterns[i];
    new (pattern++) Pattern{p.name_, p.fact_template_, Ref<const TSlotLayout>(layouts[i]),
                            std::move(p.notes_), p.negated_count_,
                            static_cast<std::uint16_t>(p.slots_.size()), p.unique_, p.explicit_};
    for (const TPatternSlot& s : p.slots_) {
      new (slot++) Slot{s.length, static_cast<std::uint32_t>(s.tests.size())};
      if (layouts[i] == nullptr) {
        new (name++) TText(s.name);
      }
      for (const auto& t : s.tests) {
        new (test++) Test{Ref<IIEValue>(t->SlotValue()), t->MultiSlotSubIndex(), t->TestType(),
                          t->Conjunction()};
      }
    }
  }
  std::vector<std::unique_ptr<TIEPattern>>().swap(patterns);  // their block too
  return packed;
}

std::vector<std::unique_ptr<TIEPattern>> TPackedPatterns::Unpack(TRule* owner) const {
  std::vector<std::unique_ptr<TIEPattern>> out;
  out.reserve(patterns_);
  const Slot* slot = Slots();
  const Test* test = Tests();
  const TText* name = Names();
  for (const Pattern* p = Patterns(); p != Patterns() + patterns_; ++p) {
    TPatternSlots slots;
    slots.reserve(p->slots);
    for (std::uint16_t s = 0; s < p->slots; ++s, ++slot) {
      TPatternSlot made{p->layout ? TText::Shared(p->layout->Names()[s]) : *name++, {},
                        slot->length};
      for (std::uint32_t t = 0; t < slot->tests; ++t, ++test) {
        made.tests.push_back(std::make_unique<TIEPatternMatchTest>(test->type, test->sub_index,
                                                                   test->value, test->conjunction));
      }
      slots.push_back(std::move(made));
    }
    std::unique_ptr<TIEPattern> pattern(
        new TIEPattern(owner, p->name, p->fact_template, p->negated_count, std::move(slots)));
    pattern->unique_ = p->unique;
    pattern->explicit_ = p->is_explicit;
    if (p->notes) {
      pattern->notes_ = std::make_unique<TIEPattern::Notes>(*p->notes);
    }
    for (TPatternSlot& s : pattern->slots_) {
      for (auto& t : s.tests) {
        t->SetPattern(pattern.get());
      }
    }
    out.push_back(std::move(pattern));
  }
  return out;
}

bool TPackedPatterns::UsesTemplate(const IFactTemplate& fact_template) const noexcept {
  return std::any_of(Patterns(), Patterns() + patterns_,
                     [&](const Pattern& p) { return p.fact_template.get() == &fact_template; });
}

TPackedPatterns::~TPackedPatterns() {
  std::destroy(Names(), Names() + names_);
  std::destroy(Tests(), Tests() + tests_);
  std::destroy(Slots(), Slots() + slots_);
  std::destroy(Patterns(), Patterns() + patterns_);
}

void TPackedPatterns::operator delete(void* block) noexcept { ::operator delete(block); }

}  // namespace zephro
