// Values, multifields, calls, slot/value pairs, singletons and global
// definitions: the expressions every construct is built from.
//
// Calls nest through ParseFunCall only (facts, pairs and singletons inside a
// call come back to it for their own calls), so the depth guard there bounds
// the recursion of all of them.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <utility>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

// The function a variable in the function position calls: it reads the
// variable and calls what it holds.
constexpr char kGetVarFunction[] = "__get-var";

bool IsValueToken(const IStreamToken& token) {
  return token.IsKind(TIEType::dtAtom) || token.IsKind(TIEType::dtString) ||
         token.IsKind(TIEType::dtInteger) || token.IsKind(TIEType::dtFloat) ||
         token.IsKind(TIEType::dtVariable) || token.IsKind(TIEType::dtMultiVariable);
}

}  // namespace

// --- values ----------------------------------------------------------------------------------

// item := "[" | "]" | constant | variable | call | singletons
// The item `token` starts, or null when it starts none.
Ref<IIEValue> TIEClipsParser::ParseItem(Ref<IStreamToken> token) {
  if (token->IsChar('[') || token->IsChar(']')) {
    return TIEValue::Atom(token->Text());
  }
  if (token->IsChar('(')) {
    const bool singletons = PeekChar('(');
    PutBack(std::move(token));
    if (singletons) {
      return MakeRef<TIEValue>(ParseSingletons());
    }
    return MakeRef<TIEValue>(ParseFunCall());
  }
  if (IsValueToken(*token)) {
    return token->Value();
  }
  return nullptr;
}

// value := item+                      several items make a multifield
Ref<IIEValue> TIEClipsParser::ParseValue() {
  Ref<IIEValue> last;
  Ref<IValueVector> list;
  for (;;) {
    Ref<IStreamToken> token = Next();
    if (token->IsChar(')') || token->IsEnd()) {
      PutBack(std::move(token));
      break;
    }
    Ref<IIEValue> item = ParseItem(token);
    if (!item) {
      if (last) {
        PutBack(std::move(token));
        break;
      }
      ParseErrorF("ParseValue", SBadArgument, token->Text().c_str());
    }
    if (last) {
      if (!list) {
        list = MakeRef<TValueVector>();
      }
      list->Add(std::move(last));
    }
    last = std::move(item);
  }
  if (list) {
    list->Add(std::move(last));
    return MakeRef<TIEValue>(std::move(list));
  }
  return last;
}

Ref<IIEValue> TIEClipsParser::ParseValue(TIETypes types, const IIEDefinedType* defined_type,
                                         std::string_view slot_word) {
  return CheckKinds(ParseValue(), types, defined_type, slot_word, "ParseValue(SlotTypes)");
}

Ref<IIEValue> TIEClipsParser::FuzzySlotValue(const IFactSlot& slot, Ref<IIEValue> value,
                                             std::string_view where) {
  if (!value) {
    ParseError(where, SExpectedValue);
  }
  return AsParseError(where, [&] { return Engine().FuzzySlotValue(slot, std::move(value)); });
}

Ref<IIEValue> TIEClipsParser::ParseValue(const IFactSlot& slot) {
  constexpr std::string_view kWhere = "ParseValue(Fact Slot)";
  if (slot.IsFuzzy()) {
    // A fuzzy expression, read by the slot's fuzzy variable.
    return FuzzySlotValue(slot, ParseValue(), kWhere);
  }
  Ref<IIEValue> value = ParseValue();
  if (slot.IsMultiSlot()) {
    if (!value) {
      value = MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>()));
    } else if (value->DType() != TIEType::dtList) {
      value = MakeRef<TIEValue>(
          Ref<IValueVector>(MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{value})));
    }
  } else if (!value) {
    ParseError(kWhere, SExpectedValue);
  } else {
    value = SharedValue(std::move(value));
  }
  if (!StaticTypeChecks()) {
    return value;
  }
  return CheckKinds(std::move(value), slot.SlotType(), slot.ExtendedTypeInfo(), slot.Name(),
                    kWhere);
}

// A value that `types` admit, converted between integer and float where only
// one of them is allowed; a multifield is checked element by element.
Ref<IIEValue> TIEClipsParser::CheckKinds(Ref<IIEValue> value, TIETypes types,
                                         const IIEDefinedType* defined_type,
                                         std::string_view slot_word, std::string_view where) {
  if (!value || IEAlwaysValidTypes.Contains(value->DType())) {
    return value;
  }
  // nil stands for "no value" in any single-field slot, whatever its kinds
  // (a FLOAT slot without a default holds it): saved facts read back.
  if (value.get() == &FCNil() && !types.Contains(TIEType::dtList)) {
    return value;
  }
  if (defined_type != nullptr) {
    if (!defined_type->IsValid(value.get())) {
      ParseError(where, defined_type->GetInvalidValueString(*value));
    }
    return value;
  }
  const TIETypes single = types - IEMultiSlotTypes;
  auto convert = [&](const Ref<IIEValue>& v) -> Ref<IIEValue> {
    const TIEType kind = v->DType();
    if (single.Contains(kind) || IEAlwaysValidTypes.Contains(kind)) {
      return v;
    }
    if (kind == TIEType::dtFloat && single.Contains(TIEType::dtInteger)) {
      return TIEValue::Integer(v->AsInteger());
    }
    if (kind == TIEType::dtInteger && single.Contains(TIEType::dtFloat)) {
      return TIEValue::Float(v->AsFloat());
    }
    const std::string reason =
        FormatMessage(SNotCorrectType, KindNamesText(single).c_str(), v->ToString().c_str(),
                      std::string(IETypeName(kind)).c_str());
    ParseErrorF(where, SInvalidSlotValue, reason.c_str(), std::string(slot_word).c_str());
  };
  if (value->DType() == TIEType::dtList && types.Contains(TIEType::dtList)) {
    Ref<IValueVector> checked = MakeRef<TValueVector>();
    for (const Ref<IIEValue>& element : value->AsList()->Values()) {
      checked->Add(element ? convert(element) : element);
    }
    return MakeRef<TIEValue>(std::move(checked));
  }
  return convert(value);
}

// list := ( "[" | "]" | "=" call | call | singletons | constant | variable )*
Ref<IValueVector> TIEClipsParser::ParseList() {
  Ref<IValueVector> list = MakeRef<TValueVector>();
  for (;;) {
    Ref<IStreamToken> token = Next();
    if (token->IsChar(')') || token->IsEnd()) {
      PutBack(std::move(token));
      return list;
    }
    if (token->IsChar('[') || token->IsChar(']')) {
      list->Add(TIEValue::Atom(token->Text()));
    } else if (token->IsChar('=')) {
      if (!PeekChar('(')) {
        ParseError("ParseList", SAtomNotEquals);
      }
      list->Add(MakeRef<TIEValue>(ParseFunCall()));
    } else if (token->IsChar('(')) {
      const bool singletons = PeekChar('(');
      PutBack(std::move(token));
      if (singletons) {
        list->Add(MakeRef<TIEValue>(ParseSingletons()));
      } else {
        list->Add(MakeRef<TIEValue>(ParseFunCall()));
      }
    } else if (IsValueToken(*token)) {
      list->Add(token->Value());
    } else {
      ParseErrorF("ParseList", SBadSlotValue, token->Text().c_str());
    }
  }
}

namespace {

// The tables of shared values and calls are set-associative caches of four
// ways. An entry met again is kept over those met only once: the constants,
// variables, predicates and actions many rules repeat stay, while what each
// rule writes only once (its own number, a call holding it) takes turns in
// the rest. A table starts small and doubles, up to a bound, each time a
// program has filed as many new entries as it holds: a small program pays
// for a small table.
constexpr std::size_t kSharedWays = 4;
constexpr std::size_t kFirstSharedSets = 64;
constexpr std::size_t kMostSharedSets = 512;

// The bits a value's set is chosen by; none for the kinds never shared.
std::optional<std::uint32_t> SharedValueHash(const IIEValue& value) {
  std::uint32_t hash = 0;
  switch (value.DType()) {
    case TIEType::dtAtom:
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
      hash = static_cast<std::uint32_t>(CalculateHash(value.Text()));
      break;
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      // A multiplicative hash, its high bits folded down: consecutive numbers
      // spread.
      hash = static_cast<std::uint32_t>(value.GetHashCode()) * 0x9e3779b1u;
      break;
    default:
      return std::nullopt;
  }
  return hash ^ (hash >> 16);
}

// The same for a call: from its name and its arguments, all shared values,
// never from addresses, so which calls a program shares does not depend on
// where the allocator put them. None when an argument is not shared.
std::optional<std::uint32_t> SharedCallHash(const IFunCall& call) {
  auto hash = static_cast<std::uint64_t>(static_cast<std::uint32_t>(CalculateHash(call.Name())));
  for (const Ref<IIEValue>& arg : call.Arguments()) {
    const auto* value = dynamic_cast<const TIEValue*>(arg.get());
    if (value == nullptr || !value->IsShared()) {
      return std::nullopt;
    }
    const auto arg_hash = static_cast<std::uint32_t>(value->GetHashCode());
    hash = (hash ^ (arg_hash + static_cast<std::uint64_t>(value->DType()))) * 0x9e3779b97f4a7c15u;
  }
  return static_cast<std::uint32_t>(hash >> 32);
}

// The first way of the set for `hash` in `table`, which is made or doubled
// first when due. `filed` counts the entries filed since it last grew.
template <class Entry, class HashOf>
Entry* SharedSet(std::vector<Entry>& table, std::uint32_t& filed, std::uint32_t hash,
                 HashOf hash_of) {
  if (table.empty()) {
    table.resize(kSharedWays * kFirstSharedSets);
  } else if (filed >= table.size() && table.size() < kSharedWays * kMostSharedSets) {
    // An old set's entries go to two new sets: each finds a free way.
    std::vector<Entry> old = std::exchange(table, std::vector<Entry>(table.size() * 2));
    const std::size_t sets = table.size() / kSharedWays;
    for (Entry& entry : old) {
      if (entry.kept) {
        Entry* set = &table[(*hash_of(*entry.kept) & (sets - 1)) * kSharedWays];
        *std::find_if(set, set + kSharedWays, [](const Entry& e) { return !e.kept; }) =
            std::move(entry);
      }
    }
    filed = 0;
  }
  return &table[(hash & (table.size() / kSharedWays - 1)) * kSharedWays];
}

// The entry of `set` that `same` accepts (found, and now the youngest), or
// else the one to file a new entry in: an empty one, or the oldest of those
// not met again, or the oldest. Ages come from `clock`.
template <class Entry, class Same>
Entry& WayFor(Entry* set, std::uint32_t& clock, Same same, bool& found) {
  Entry* victim = nullptr;
  for (std::size_t way = 0; way < kSharedWays; ++way) {
    Entry& entry = set[way];
    if (entry.kept && same(*entry.kept)) {
      entry.met_again = true;
      entry.age = ++clock;
      found = true;
      return entry;
    }
    if (victim == nullptr || (victim->met_again && !entry.met_again) ||
        (victim->met_again == entry.met_again && entry.age < victim->age)) {
      victim = &entry;
    }
  }
  found = false;
  return *victim;
}

}  // namespace

Ref<IIEValue> TIEClipsParser::SharedValue(Ref<IIEValue> value) {
  const std::optional<std::uint32_t> hash = SharedValueHash(*value);
  if (!hash) {
    return value;
  }
  const TIEType kind = value->DType();
  const auto same = [&](const IIEValue& kept) {
    if (kept.DType() != kind) {
      return false;
    }
    return kind == TIEType::dtInteger ? kept.AsInteger() == value->AsInteger()
           : kind == TIEType::dtFloat ? std::bit_cast<std::uint64_t>(kept.AsFloat()) ==
                                            std::bit_cast<std::uint64_t>(value->AsFloat())
                                      : kept.Text() == value->Text();
  };
  bool found = false;
  SharedValueEntry& entry =
      WayFor(SharedSet(shared_values_, shared_values_filed_, *hash, SharedValueHash), shared_clock_,
             same, found);
  if (found) {
    return entry.kept;
  }
  auto* shared = dynamic_cast<TIEValue*>(value.get());
  if (shared == nullptr) {
    return value;
  }
  shared->MarkShared();
  entry = SharedValueEntry{value, false, ++shared_clock_};
  ++shared_values_filed_;
  return value;
}

TIEClipsParser::SharedCallEntry* TIEClipsParser::SharedCallEntryFor(Ref<IFunCall>& call) {
  if (!call->Comment().empty() || call->Tag() != 0) {
    return nullptr;
  }
  const std::optional<std::uint32_t> hash = SharedCallHash(*call);
  if (!hash) {
    return nullptr;
  }
  // Names are kept once per text (see TFunctionCall): their addresses and
  // the arguments' addresses say whether two calls are written alike.
  const auto same = [&](const IFunCall& kept) {
    const auto a = kept.Arguments();
    const auto b = call->Arguments();
    return &kept.Name() == &call->Name() && a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const Ref<IIEValue>& x, const Ref<IIEValue>& y) { return x == y; });
  };
  bool found = false;
  SharedCallEntry& entry =
      WayFor(SharedSet(shared_calls_, shared_calls_filed_, *hash, SharedCallHash), shared_clock_,
             same, found);
  // A call binds the function it first runs and keeps it when the name is
  // defined again (see TFunctionCall): a call written after that must not be
  // one bound before, or it would run the old function.
  const IUserFunction* bound = found ? entry.kept->UserFunction() : nullptr;
  if (bound != nullptr && bound != Engine().ContainsUserFunction(entry.kept->Name())) {
    entry = SharedCallEntry{call, false, ++shared_clock_, nullptr};
  } else if (found) {
    call = entry.kept;
  } else {
    entry = SharedCallEntry{call, false, ++shared_clock_, nullptr};
    ++shared_calls_filed_;
  }
  return &entry;
}

Ref<IFunCall> TIEClipsParser::SharedCall(Ref<IFunCall> call) {
  SharedCallEntryFor(call);
  return call;
}

Ref<IIEValue> TIEClipsParser::SharedCallValue(Ref<IFunCall> call) {
  SharedCallEntry* entry = SharedCallEntryFor(call);
  if (entry == nullptr) {
    return MakeRef<TIEValue>(std::move(call));
  }
  if (!entry->value) {
    Ref<TIEValue> value = MakeRef<TIEValue>(std::move(call));
    value->MarkShared();
    entry->value = std::move(value);
  }
  return entry->value;
}

// --- calls -----------------------------------------------------------------------------------

void TIEClipsParser::AddSlotFunction(std::string_view name, std::uint16_t start,
                                     std::uint16_t end) {
  slot_functions_.push_back(SlotFunction{std::string(name), start, end});
}

const TIEClipsParser::SlotFunction* TIEClipsParser::FindSlotFunction(std::string_view name) const {
  for (const SlotFunction& f : slot_functions_) {
    if (f.name == name) {
      return &f;
    }
  }
  return nullptr;
}

// call     := "(" (atom | "=" | variable) argument* ")"
// argument := constant | variable | call | singletons | fact | pair | "&" | "|" | "~" | "[" | "]"
Ref<IFunCall> TIEClipsParser::ParseFunCall() {
  constexpr std::string_view kWhere = "ParseFunCall";
  DepthGuard guard(*this, kWhere);
  Expect('(', kWhere, SMissingOpenParens);
  Ref<IStreamToken> head = Next();
  Ref<TFunctionCall> call;
  if (head->IsKind(TIEType::dtAtom)) {
    call = MakeRef<TFunctionCall>(&Engine(), head->Text());
  } else if (head->IsChar('=')) {
    call = MakeRef<TFunctionCall>(&Engine(), "=");
  } else if (head->IsKind(TIEType::dtVariable) || head->IsKind(TIEType::dtMultiVariable)) {
    call = MakeRef<TFunctionCall>(&Engine(), kGetVarFunction);
    call->AddArgument(SharedValue(*head));
  } else {
    ParseError(kWhere, SMissingName);
  }
  const SlotFunction* slot_function = FindSlotFunction(call->Name());
  for (;;) {
    Ref<IStreamToken> token = Next();
    if (token->IsChar(')')) {
      break;
    }
    if (token->IsEnd()) {
      ParseError(kWhere, SUnexpectedEOF);
    }
    if (token->IsChar('(')) {
      const int position = call->ArgumentCount() + 1;
      const bool singletons = PeekChar('(');
      PutBack(std::move(token));
      if (slot_function != nullptr && slot_function->start == 0) {
        call->AddArgument(ParseFact());
      } else if (slot_function != nullptr && position >= slot_function->start &&
                 position <= slot_function->end) {
        call->AddArgument(ParseValuePair());
      } else if (singletons) {
        call->AddArgument(MakeRef<TIEValue>(ParseSingletons()));
      } else {
        call->AddArgument(SharedCallValue(ParseFunCall()));
      }
    } else if (IsValueToken(*token)) {
      call->AddArgument(SharedValue(*token));
    } else {
      call->AddArgument(TIEValue::String(token->Text()));
    }
  }
  if (OnParseFunCall) {
    OnParseFunCall(*this, *call);
  }
  return call;
}

Ref<IIEValue> TIEClipsParser::ParseNExecuteFunCall() {
  Ref<IFunCall> call = ParseFunCall();
  // A top-level command starts with no pending return: a stray (return) at
  // the top level must not cut the next command short.
  TIEContext& root = Engine().RootContext();
  root.ClearReturnValue();
  Ref<IIEValue> result = call->Execute(root);
  root.ClearReturnValue();
  return result;
}

std::string TIEClipsParser::ParseOpenAtom(std::string_view where) {
  Ref<IStreamToken> open = Next();
  Ref<IStreamToken> atom = open->IsChar('(') ? Next() : open;
  if (!open->IsChar('(') || !atom->IsKind(TIEType::dtAtom)) {
    ParseError(where, SExpectedAtom);
  }
  return atom->Text();
}

// pair := "(" atom value ")"
Ref<IValueVector> TIEClipsParser::ParseValuePair() {
  constexpr std::string_view kWhere = "ParseValuePair";
  Ref<IValueVector> pair = MakeRef<TValueVector>();
  pair->Add(TIEValue::Atom(ParseOpenAtom(kWhere)));
  Ref<IIEValue> value = ParseValue();
  if (!value) {
    ParseError(kWhere, SExpectedValue);
  }
  pair->Add(std::move(value));
  Expect(')', kWhere, SMissingCloseParens);
  return pair;
}

// singletons := "(" ( "(" point point ")" )* ")"
// point      := number | variable | call
Ref<ISingletonsVector> TIEClipsParser::ParseSingletons() {
  constexpr std::string_view kWhere = "ParseFuzzyPoints";
  Expect('(', kWhere, SMissingOpenParens);
  Ref<ISingletonsVector> singletons = MakeRef<TSingletonsVector>(&SingletonsPrinter());
  for (;;) {
    Ref<IStreamToken> token = Next();
    if (token->IsChar(')')) {
      return singletons;
    }
    if (!token->IsChar('(')) {
      ParseError(kWhere, SMissingCloseParens);
    }
    Ref<IIEValue> x = ReadSingletonsItem();
    Ref<IIEValue> y = ReadSingletonsItem();
    singletons->Add(std::move(x), std::move(y));
    Expect(')', kWhere, SMissingCloseParens);
  }
}

Ref<IIEValue> TIEClipsParser::ReadSingletonsItem() {
  Ref<IStreamToken> token = Next();
  if (token->IsChar('(')) {
    PutBack(std::move(token));
    return MakeRef<TIEValue>(ParseFunCall());
  }
  if (!token->IsKind(TIEType::dtInteger) && !token->IsKind(TIEType::dtFloat) &&
      !token->IsKind(TIEType::dtVariable)) {
    ParseError("ParseFuzzyPoints", SExpectedNumVarFun);
  }
  return token->Value();
}

// global := variable "=" (constant | variable | call)
void TIEClipsParser::ParseVariable(std::string& name, Ref<IIEValue>& value) {
  constexpr std::string_view kWhere = "ParseVariable";
  Ref<IStreamToken> token = Next();
  if (!token->IsKind(TIEType::dtVariable)) {
    ParseError(kWhere, SMissingName);
  }
  const std::string& text = token->Text();
  if (text.size() < 2 || text.front() != '*' || text.back() != '*') {
    ParseErrorF(kWhere, SBadVariableName, text.c_str());
  }
  if (!Next()->IsChar('=')) {
    ParseErrorF(kWhere, SExpectedChar, "=");
  }
  Ref<IStreamToken> first = Next();
  if (first->IsChar('(')) {
    PutBack(std::move(first));
    value = MakeRef<TIEValue>(ParseFunCall());
  } else if (IsValueToken(*first)) {
    value = first->Value();
  } else {
    ParseError(kWhere, SExpectedValue);
  }
  name = text;
  if (OnParseVariable) {
    OnParseVariable(*this, name, *value);
  }
}

std::string TIEClipsParser::GenerateSymbol(std::string_view prefix) const {
  return Engine().GenerateSymbol(prefix);
}

}  // namespace zephro
