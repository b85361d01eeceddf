// The constructs other than rules: templates and their slots, facts and fact
// sets, functions, globals and defined types.
//
// A construct is built completely before anything reaches the engine, so an
// error part-way leaves the engine as it was. The exceptions are the implied
// templates that a fact of an unknown relation creates: they are the engine's
// as soon as they are named, as they would be if the fact were asserted.

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/context.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

// The kinds a type word of a slot or a deftype stands for; false for a word
// that is no type keyword.
bool KeywordTypes(std::string_view word, TIETypes& kinds) {
  using enum TIEType;
  struct Keyword {
    std::string_view word;
    TIETypes kinds;
  };
  static constexpr Keyword kKeywords[] = {
      {STypeSymbolKeyword, {dtAtom}},
      {STypeAtomKeyword, {dtAtom}},
      {STypeStringKeyword, {dtString}},
      {STypeLexemeKeyword, {dtAtom, dtString}},
      {STypeIntegerKeyword, {dtInteger}},
      {STypeFloatKeyword, {dtFloat}},
      {STypeNumberKeyword, {dtInteger, dtFloat}},
      {STypeClassKeyword, {dtClass, dtInteger}},
      {STypeDescriptorKeyword, {dtDescriptor, dtInteger}},
      {STypeObjectKeyword, {dtObject, dtInteger}},
      {STypeExternalAddrKeyword, {dtExternalAddress, dtInteger}},
      {STypeFuzzyKeyword, {dtFuzzy}},
      {STypeFactIdKeyword, {dtFactId, dtInteger}},
      {STypeFactKeyword, {dtFact}},
  };
  for (const Keyword& k : kKeywords) {
    if (k.word == word) {
      kinds = kinds | k.kinds;
      return true;
    }
  }
  return false;
}

// What an allowed-... word admits, and how a listed value is converted to it.
struct AllowedWord {
  std::string_view word;
  TValueConstraints kinds;
  Ref<IIEValue> (*convert)(const Ref<IIEValue>& value);
};

bool IsLexeme(const IIEValue& v) {
  return v.DType() == TIEType::dtAtom || v.DType() == TIEType::dtString;
}
bool IsNumber(const IIEValue& v) {
  return IENumericTypes.Contains(v.DType());
}

const AllowedWord* FindAllowedWord(std::string_view word) {
  using enum TValueConstraint;
  static const AllowedWord kWords[] = {
      {"allowed-values",
       {vcAtom, vcString, vcInteger, vcFloat},
       [](const Ref<IIEValue>& v) { return v; }},
      {"allowed-lexemes",
       {vcAtom, vcString},
       [](const Ref<IIEValue>& v) { return IsLexeme(*v) ? v : TIEValue::Atom(v->AsString()); }},
      {"allowed-symbols",
       {vcAtom},
       [](const Ref<IIEValue>& v) { return TIEValue::Atom(v->AsString()); }},
      {"allowed-strings",
       {vcString},
       [](const Ref<IIEValue>& v) { return TIEValue::String(v->AsString()); }},
      {"allowed-numbers",
       {vcInteger, vcFloat},
       [](const Ref<IIEValue>& v) { return IsNumber(*v) ? v : TIEValue::Integer(v->AsInteger()); }},
      {"allowed-integers",
       {vcInteger},
       [](const Ref<IIEValue>& v) { return TIEValue::Integer(v->AsInteger()); }},
      {"allowed-floats",
       {vcFloat},
       [](const Ref<IIEValue>& v) { return TIEValue::Float(v->AsFloat()); }},
  };
  for (const AllowedWord& w : kWords) {
    if (w.word == word) {
      return &w;
    }
  }
  return nullptr;
}

}  // namespace

// header := "(" keyword name [comment]
std::string TIEClipsParser::ParseHeader(std::string_view keyword, std::string_view missing_keyword,
                                        std::string_view where, std::string* comment) {
  Ref<IStreamToken> token = Next();
  if (!token->IsChar('(')) {
    ParseError(where, missing_keyword);
  }
  token = Next();
  if (!token->IsKind(TIEType::dtAtom) || token->Text() != keyword) {
    ParseError(where, missing_keyword);
  }
  token = Next();
  if (!token->IsKind(TIEType::dtAtom)) {
    ParseError(where, SMissingName);
  }
  std::string name = token->Text();
  if (comment != nullptr) {
    token = Next();
    if (token->IsKind(TIEType::dtString)) {
      *comment = token->Text();
    } else {
      PutBack(std::move(token));
    }
  }
  return name;
}

// --- templates --------------------------------------------------------------------------------

// template := "(" "deftemplate" name [comment] ["extends" name | "is-a" name] slot-def* ")"
Ref<IFactTemplate> TIEClipsParser::ParseFactTemplate() {
  constexpr std::string_view kWhere = "ParseFactTemplate";
  std::string comment;
  const std::string name = ParseHeader("deftemplate", SExpectedDefTemplate, kWhere, &comment);
  IFactTemplate* parent = nullptr;
  IIEDefinedType* is_a = nullptr;
  Ref<IStreamToken> token = Next();
  if (token->IsKind(TIEType::dtAtom) && token->Text() == "extends") {
    token = Next();
    if (!token->IsKind(TIEType::dtAtom)) {
      ParseError(kWhere, SMissingParentTemplateName);
    }
    parent = Engine().FindFactTemplate(token->Text());
    if (parent == nullptr) {
      ParseErrorF(kWhere, SUnknownFactTemplate, token->Text().c_str());
    }
    token = Next();
  } else if (token->IsKind(TIEType::dtAtom) && token->Text() == "is-a") {
    token = Next();
    if (!token->IsKind(TIEType::dtAtom)) {
      ParseError(kWhere, SMissingIsaTypeName);
    }
    is_a = FindDefinedType(token->Text());
    if (is_a == nullptr) {
      ParseErrorF(kWhere, SUnknownTypeName, token->Text().c_str());
    }
    token = Next();
  } else if (!token->IsChar('(') && !token->IsChar(')')) {
    ParseError(kWhere, SExpectedExtends);
  }
  Ref<TFactTemplate> fact_template = MakeRef<TFactTemplate>(&Engine(), name, comment, parent);
  if (is_a != nullptr) {
    IFactSlot* data = fact_template->AddMultiSlot(SDefaultSlotName, Ref<IIEValue>(&FCNilList()));
    data->SetExtendedTypeInfo(Ref<IIEDefinedType>(is_a));
  } else {
    // One layout for all the slots (a template that fails to parse is
    // dropped with its batch open).
    fact_template->BeginSlotBatch();
    while (token->IsChar('(')) {
      PutBack(std::move(token));
      ParseFactTemplateSlot(*fact_template);
      token = Next();
    }
    fact_template->EndSlotBatch();
  }
  if (!token->IsChar(')')) {
    ParseError(kWhere, SMissingCloseParens);
  }
  return fact_template;
}

// slot-def  := "(" ("slot" | "field" | "multislot") name qualifier* ")"
// qualifier := "(" ( "default" value* | "default-dynamic" call | "type" type-word+
//                  | ("range" | "cardinality") bound bound | "units" token
//                  | allowed-word value* ) ")"
void TIEClipsParser::ParseFactTemplateSlot(IFactTemplate& fact_template) {
  constexpr std::string_view kWhere = "ParseFactTemplateSlot";
  Expect('(', kWhere, SMissingOpenParens);
  Ref<IStreamToken> token = Next();
  const std::string& kind = token->Text();
  const bool is_atom = token->IsKind(TIEType::dtAtom);
  if (!is_atom || (kind != "slot" && kind != "field" && kind != "multislot")) {
    ParseErrorF(kWhere, SInvalidSlotType, kind.c_str());
  }
  const bool multi = kind == "multislot";
  token = Next();
  if (!token->IsKind(TIEType::dtAtom)) {
    ParseErrorF(kWhere, SBadSlotName, token->Text().c_str());
  }
  const std::string name = token->Text();

  const TIETypes multi_kinds = multi ? IEMultiSlotTypes : TIETypes{};
  TIETypes types = IESlotTypes | multi_kinds;
  TIETypes own_types = IESlotTypes;
  Ref<IIEDefinedType> named;
  Ref<TIEDefinedType> implicit;
  Ref<IIEValue> default_value;
  bool dynamic = false;
  auto implicit_type = [&]() -> TIEDefinedType& {
    if (!implicit) {
      implicit = MakeRef<TIEDefinedType>(&Engine());
    }
    return *implicit;
  };
  auto no_fuzzy = [&] {
    if (types.Contains(TIEType::dtFuzzy)) {
      ParseError(kWhere, SFuzzyDefinitionError);
    }
  };
  for (token = Next(); !token->IsChar(')'); token = Next()) {
    if (!token->IsChar('(')) {
      ParseError(kWhere, SMissingOpenParens);
    }
    token = Next();
    const std::string word = token->Text();
    if (!token->IsKind(TIEType::dtAtom)) {
      ParseErrorF(kWhere, SInvalidSlotQualifier, word.c_str());
    }
    if (word == "default") {
      default_value = ParseValue();
      dynamic = false;
    } else if (word == "default-dynamic") {
      if (!PeekChar('(')) {
        Next();
        ParseError(kWhere, SMissingOpenParens);
      }
      default_value = MakeRef<TIEValue>(ParseFunCall());
      dynamic = true;
    } else if (word == "type") {
      own_types = ParseSlotTypes(&named, "ParseSlotTypes");
      types = own_types | multi_kinds;
      if (named) {
        types = types | named->PrimitiveTypes();
      }
    } else if (word == "range" || word == "cardinality") {
      no_fuzzy();
      ParseRangeAndCardinality(implicit_type(), word, true, kWhere);
    } else if (word == "units") {
      token = Next();
      if (token->IsChar(')') || token->IsEnd()) {
        ParseError(kWhere, SExpectedValue);
      }
      implicit_type().SetUnits(token->Text());
    } else if (word.starts_with("allowed-")) {
      no_fuzzy();
      ParseAllowedEnumerations(implicit_type(), word, kWhere);
    } else {
      ParseErrorF(kWhere, SInvalidSlotQualifier, word.c_str());
    }
    Expect(')', kWhere, SMissingCloseParens);
  }
  if (implicit && !implicit->IsFuzzy() && types.Contains(TIEType::dtFuzzy)) {
    no_fuzzy();
  }
  // A multislot keeps its multislot kinds only through a type of its own, so a
  // named type on a multislot is wrapped in an implicit one.
  if (named && (implicit || multi)) {
    implicit_type().SetAncestor(named);
  }
  if (implicit) {
    implicit->SetPrimitiveTypes(types);
  }
  const IIEDefinedType* slot_type = implicit ? implicit.get() : named.get();

  if (!default_value) {
    // A slot of a defined type starts from a value its type admits.
    default_value = slot_type != nullptr ? slot_type->CreateValidDefault(multi)
                                         : Ref<IIEValue>(multi ? &FCNilList() : &FCNil());
  } else if (!dynamic) {
    if (multi && default_value->DType() != TIEType::dtList) {
      default_value = MakeRef<TIEValue>(
          Ref<IValueVector>(MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{default_value})));
    }
    if (StaticTypeChecks()) {
      default_value = CheckKinds(std::move(default_value), types, slot_type, name, kWhere);
    }
  }
  IFactSlot* slot = multi ? fact_template.AddMultiSlot(name, default_value)
                          : fact_template.AddSlot(name, default_value);
  slot->SetSlotType(types);
  if (slot_type != nullptr) {
    slot->SetExtendedTypeInfo(implicit ? Ref<IIEDefinedType>(implicit) : named);
  }
  slot->SetDefaultDynamic(dynamic);
}

// types := type-word+                 (the closing parenthesis is the caller's)
TIETypes TIEClipsParser::ParseSlotTypes(Ref<IIEDefinedType>* defined_type, std::string_view where) {
  TIETypes kinds;
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    std::string word = token->Text();
    if (token->IsKind(TIEType::dtVariable)) {
      word = "?" + word;
    } else if (!token->IsKind(TIEType::dtAtom)) {
      ParseErrorF(where, SInvalidSlotType, token->ToString().c_str());
    }
    if (word == STypeVariableKeyword) {
      kinds = IESlotTypes;
    } else if (!KeywordTypes(word, kinds)) {
      IIEDefinedType* type = FindDefinedType(word);
      if (type == nullptr) {
        ParseErrorF(where, SInvalidSlotType, word.c_str());
      }
      if (*defined_type) {
        ParseError(where, SNoMultiTypeInheritance);
      }
      *defined_type = Ref<IIEDefinedType>(type);
    }
  }
  PutBack(In().GetCurrentToken());
  TIETypes all = kinds;
  if (*defined_type) {
    all = all | (*defined_type)->PrimitiveTypes();
  }
  if (all.Contains(TIEType::dtFuzzy) && !(all - IEMultiSlotTypes - TIEType::dtFuzzy).Empty()) {
    ParseError(where, SCannotMixFuzzy);
  }
  return kinds;
}

// bounds := bound bound
// bound  := integer | float | variable | call           ("?VARIABLE": open)
TIEClipsParser::TBounds TIEClipsParser::ParseBounds(std::string_view what, std::string_view where) {
  TBounds bounds;
  for (Ref<IIEValue>* bound : {&bounds.low, &bounds.high}) {
    Ref<IStreamToken> token = Next();
    if (token->IsChar(')') || token->IsEnd()) {
      ParseError(where, SExpectedValue);
    }
    if (token->IsChar('(')) {
      PutBack(std::move(token));
      *bound = MakeRef<TIEValue>(ParseFunCall());
    } else if (token->IsKind(TIEType::dtInteger) || token->IsKind(TIEType::dtFloat)) {
      *bound = token->Value();
    } else if (token->IsKind(TIEType::dtVariable)) {
      if ("?" + token->Text() != STypeVariableKeyword) {
        *bound = token->Value();
      }
    } else {
      ParseErrorF(where, SExpectedIntVarFun, std::string(what).c_str());
    }
  }
  return bounds;
}

double TIEClipsParser::BoundValue(const Ref<IIEValue>& bound, double open, std::string_view what,
                                  std::string_view where) {
  if (!bound) {
    return open;
  }
  Ref<IIEValue> value = bound;
  if (!IENumericTypes.Contains(value->DType())) {
    try {
      value = value->Resolve(&Engine().RootContext());
    } catch (const EIEParseException&) {
      throw;
    } catch (const EIEException&) {
      value = nullptr;  // an unbound variable, a call that fails: no number
    }
  }
  if (!value || !IENumericTypes.Contains(value->DType())) {
    ParseErrorF(where, SExpectedIntVarFun, std::string(what).c_str());
  }
  return value->AsNumeric();
}

void TIEClipsParser::ParseRangeAndCardinality(TIEDefinedType& type, std::string_view word,
                                              bool cardinality_allowed, std::string_view where) {
  const bool range = word == "range";
  if (!range && !(word == "cardinality" && cardinality_allowed)) {
    ParseError(where, SMissingRange);
  }
  const TBounds bounds = ParseBounds(word, where);
  double low;
  double high;
  if (range) {
    low = BoundValue(bounds.low, TIEDefinedType::kInitialMinRange, word, where);
    high = BoundValue(bounds.high, TIEDefinedType::kInitialMaxRange, word, where);
  } else {
    // Counts: whole numbers from 0 up.
    low = std::trunc(BoundValue(bounds.low, TIEDefinedType::kInitialMinCardinality, word, where));
    high = std::trunc(BoundValue(bounds.high, TIEDefinedType::kInitialMaxCardinality, word, where));
    low = std::clamp(low, 0.0, double{TIEDefinedType::kInitialMaxCardinality});
    high = std::clamp(high, 0.0, double{TIEDefinedType::kInitialMaxCardinality});
  }
  if (!(low <= high)) {
    ParseErrorF(where, SInvalidLowHiLimits, low, high);
  }
  type.BeginUpdate();
  if (range) {
    type.SetMinRange(low);
    type.SetMaxRange(high);
    type.SetRangeLimited(true);
  } else {
    type.SetMinCardinality(static_cast<std::int32_t>(low));
    type.SetMaxCardinality(static_cast<std::int32_t>(high));
    type.SetCardinalityLimited(true);
  }
  type.EndUpdate();
}

// allowed := allowed-word (constant | call)*        (the closing parenthesis is the caller's)
void TIEClipsParser::ParseAllowedEnumerations(TIEDefinedType& type, std::string_view word,
                                              std::string_view where) {
  const AllowedWord* allowed = FindAllowedWord(word);
  if (allowed == nullptr) {
    ParseErrorF(where, SMissingAllowedEnumeration, std::string(word).c_str());
  }
  type.SetConstraints(type.Constraints() | allowed->kinds);
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    Ref<IIEValue> value;
    if (token->IsChar('(')) {
      PutBack(std::move(token));
      value = ParseNExecuteFunCall();
    } else if (token->IsKind(TIEType::dtAtom) || token->IsKind(TIEType::dtString) ||
               token->IsKind(TIEType::dtInteger) || token->IsKind(TIEType::dtFloat)) {
      value = token->Value();
    } else if (token->IsEnd()) {
      ParseError(where, SMissingCloseParens);
    } else {
      ParseErrorF(where, SBadArgument, token->Text().c_str());
    }
    if (!value) {
      ParseError(where, SExpectedValue);
    }
    AsParseError(where, [&] { type.AddConstraint(*allowed->convert(value)); });
  }
  PutBack(In().GetCurrentToken());
}

// --- facts and fact sets -----------------------------------------------------------------------

// fact-set := "(" "deffacts" name [comment] fact* ")"
std::unique_ptr<TFactSet> TIEClipsParser::ParseFactSet() {
  constexpr std::string_view kWhere = "ParseFactSet";
  std::string comment;
  const std::string name = ParseHeader("deffacts", SExpectedDeffacts, kWhere, &comment);
  auto fact_set = std::make_unique<TFactSet>(nullptr);
  fact_set->SetFactSetName(name);
  fact_set->SetComment(comment);
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    if (!token->IsChar('(')) {
      ParseError(kWhere, SMissingCloseParens);
    }
    PutBack(std::move(token));
    fact_set->AddFact(ParseFact());
  }
  return fact_set;
}

// fact := "(" name slots ")"
Ref<IFact> TIEClipsParser::ParseFact() {
  constexpr std::string_view kWhere = "ParseFact";
  const std::string name = ParseOpenAtom(kWhere);
  IFactTemplate* fact_template = Engine().FindFactTemplate(name);
  if (fact_template == nullptr) {
    if (UnknownTemplatesAreErrors()) {
      ParseErrorF(kWhere, SUnknownFactTemplate, name.c_str());
    }
    fact_template = &Engine().CreateFactTemplate(name);
  }
  Ref<IFact> fact = fact_template->NewFact();
  ParseFactSlot(*fact);
  Expect(')', kWhere, SMissingCloseParens);
  if (OnParseFact) {
    OnParseFact(*this, *fact);
  }
  return fact;
}

// slots := field*                           (an implied template: the fields of "__Data")
//        | ( "(" slot value* ")" )*         (a declared template)
void TIEClipsParser::ParseFactSlot(IFact& fact) {
  constexpr std::string_view kWhere = "ParseFactSlot";
  const IFactTemplate& fact_template = *fact.Template();
  if (fact_template.IsOrdered()) {
    Ref<IIEValue> fields = MakeRef<TIEValue>(ParseList());
    const IFactSlot& data = *fact_template.SlotAt(0);
    if (StaticTypeChecks() && data.ExtendedTypeInfo() != nullptr) {
      fields = CheckKinds(std::move(fields), data.SlotType(), data.ExtendedTypeInfo(), data.Name(),
                          kWhere);
    }
    fact.SetValue(SDefaultSlotName, std::move(fields));
    return;
  }
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')') && !token->IsEnd(); token = Next()) {
    if (!token->IsChar('(')) {
      ParseError(kWhere, SMissingOpenParens);
    }
    token = Next();
    const IFactSlot* slot =
        token->IsKind(TIEType::dtAtom) ? fact_template.FindSlot(token->Text()) : nullptr;
    if (slot == nullptr) {
      ParseErrorF(kWhere, SBadSlotName, token->Text().c_str());
    }
    fact.SetValue(slot->Name(), ParseValue(*slot));
    Expect(')', kWhere, SMissingCloseParens);
  }
  PutBack(In().GetCurrentToken());
}

namespace {

// True for what a facts file may hold as it is: constants and lists of them.
bool IsData(const IIEValue& value) {
  switch (value.DType()) {
    case TIEType::dtFunCall:
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
      return false;
    case TIEType::dtList:
      return std::ranges::all_of(value.AsList()->Values(), [](const Ref<IIEValue>& item) {
        return item == nullptr || IsData(*item);
      });
    default:
      return true;
  }
}

// The list a create$ call of constants stands for, or null for any other value.
Ref<IIEValue> ListLiteral(const IIEValue& value) {
  if (value.DType() != TIEType::dtFunCall || value.AsFunCall()->Name() != "create$") {
    return {};
  }
  Ref<IValueVector> list = MakeRef<TValueVector>();
  for (const Ref<IIEValue>& item : value.AsFunCall()->Arguments()) {
    if (item == nullptr || item->DType() == TIEType::dtList || !IsData(*item)) {
      return {};
    }
    list->Add(item->Clone());
  }
  return MakeRef<TIEValue>(std::move(list));
}

}  // namespace

void TIEClipsParser::ReportLoadProgress(std::int64_t facts, bool asserting) {
  if (facts % kFactsLoadProgressStep == 0 && Engine().OnLoadProgress) {
    Engine().OnLoadProgress(Engine(), facts, asserting);
  }
}

// facts := fact* end
int TIEClipsParser::LoadFacts() {
  constexpr std::string_view kWhere = "LoadFacts";
  std::vector<Ref<IFact>> facts;
  try {
    for (Ref<IStreamToken> token = Next(); !token->IsEnd(); token = Next()) {
      PutBack(std::move(token));
      Ref<IFact> fact = ParseFact();
      const IFactTemplate& fact_template = *fact->Template();
      for (int i = 0; i < fact_template.SlotCount(); ++i) {
        IIEValue* value = fact->ValueAt(i);
        const IIEValue* default_value = fact_template.SlotAt(i)->SlotDefault();
        if (value == nullptr || IsData(*value) ||
            (default_value != nullptr && value->Equals(default_value))) {
          continue;  // data, or the template's own default, computed as for any fact
        }
        Ref<IIEValue> list = ListLiteral(*value);
        if (!list) {
          std::string text = value->ToString();
          text.erase(text.find_last_not_of(' ') + 1);
          ParseErrorF(kWhere, "A facts file holds data only, not %s", text.c_str());
        }
        fact->SetValueAt(i, std::move(list));
      }
      Engine().RootContext().Resolve(*fact);
      facts.push_back(std::move(fact));
      ReportLoadProgress(static_cast<std::int64_t>(facts.size()), false);
    }
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& error) {
    if (SourceName().empty()) {
      throw;
    }
    RethrowAt(SourceName(), CurrentLine(), error);
  }
  std::int64_t asserted = 0;
  for (Ref<IFact>& fact : facts) {
    Engine().Assert(std::move(fact));
    ReportLoadProgress(++asserted, true);
  }
  return static_cast<int>(facts.size());
}

// --- functions and globals
// ------------------------------------------------------------------------

// function := "(" "deffunction" name [comment] "(" parameter* ")" [comment] action* ")"
// action   := call | constant | variable
TParsedFunction TIEClipsParser::ParseFunction() {
  constexpr std::string_view kWhere = "ParseFunction";
  TParsedFunction function;
  function.name = ParseHeader("deffunction", SExpectedDefFunction, kWhere, &function.comment);
  Expect('(', kWhere, SMissingOpenParens);
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    if (!token->IsKind(TIEType::dtVariable) && !token->IsKind(TIEType::dtMultiVariable)) {
      ParseError(kWhere, SMissingCloseParens);
    }
    function.parameters.push_back(token->Value());
  }
  Ref<IStreamToken> token = Next();
  if (token->IsKind(TIEType::dtString)) {
    function.comment = token->Text();
  } else {
    PutBack(std::move(token));
  }
  for (token = Next(); !token->IsChar(')'); token = Next()) {
    if (token->IsChar('(')) {
      PutBack(std::move(token));
      function.actions.push_back(MakeRef<TIEValue>(ParseFunCall()));
    } else if (token->IsKind(TIEType::dtAtom) || token->IsKind(TIEType::dtString) ||
               token->IsKind(TIEType::dtInteger) || token->IsKind(TIEType::dtFloat) ||
               token->IsKind(TIEType::dtVariable) || token->IsKind(TIEType::dtMultiVariable)) {
      function.actions.push_back(token->Value());
    } else {
      ParseErrorF(kWhere, SUnexpectedCharacter, token->Text().c_str());
    }
  }
  return function;
}

// globals := "(" "defglobal" global* ")"
void TIEClipsParser::ParseGlobalVariables() {
  constexpr std::string_view kWhere = "ParseGlobalVariables";
  if (!Next()->IsChar('(')) {
    ParseError(kWhere, SExpectedDefGlobal);
  }
  Ref<IStreamToken> token = Next();
  if (!token->IsKind(TIEType::dtAtom) || token->Text() != "defglobal") {
    ParseError(kWhere, SExpectedDefGlobal);
  }
  for (token = Next(); !token->IsChar(')'); token = Next()) {
    PutBack(std::move(token));
    std::string name;
    Ref<IIEValue> value;
    ParseVariable(name, value);
    Engine().GlobalVariables().Put(name, std::move(value));
  }
}

// --- defined types
// ---------------------------------------------------------------------------------

IIEDefinedType* TIEClipsParser::FindDefinedType(std::string_view name) const {
  return Engine().DefinedTypes().Get(name);
}

// deftype := "(" "deftype" name [comment] "extends" "(" "type" type-word+ ")" clause* ")"
// clause  := "(" ( ("range" | "cardinality") bound bound | "units" token | allowed ) ")"
Ref<TIEDefinedType> TIEClipsParser::ParseDefinedType() {
  constexpr std::string_view kWhere = "ParseDefinedType";
  std::string comment;
  const std::string name = ParseHeader("deftype", SExpectedDefType, kWhere, &comment);
  Ref<TIEDefinedType> type = MakeRef<TIEDefinedType>(name, &Engine());
  type->SetComment(comment);
  Ref<IStreamToken> token = Next();
  if (!token->IsKind(TIEType::dtAtom) || token->Text() != "extends") {
    ParseErrorF(kWhere, SExpectedKeyword, "extends");
  }
  Expect('(', kWhere, SMissingOpenParens);
  token = Next();
  if (!token->IsKind(TIEType::dtAtom) || token->Text() != "type") {
    ParseErrorF(kWhere, SExpectedKeyword, "type");
  }
  Ref<IIEDefinedType> ancestor;
  const TIETypes own = ParseSlotTypes(&ancestor, kWhere);
  Expect(')', kWhere, SMissingCloseParens);
  const TIETypes kinds = ancestor ? own | ancestor->PrimitiveTypes() : own;
  if ((kinds & IESlotTypesWithFuzzy).Empty()) {
    ParseError(kWhere, SEmptyBaseTypes);
  }
  AsParseError(kWhere, [&] {
    type->SetBaseTypes(kinds);
    type->SetAncestor(ancestor);
  });
  if (type->IsFuzzy()) {
    ParseFuzzyVariable(*type);
  } else {
    for (token = Next(); !token->IsChar(')'); token = Next()) {
      if (!token->IsChar('(')) {
        ParseError(kWhere, SMissingOpenParens);
      }
      token = Next();
      const std::string word = token->Text();
      if (word == "range" || word == "cardinality") {
        ParseRangeAndCardinality(*type, word, true, kWhere);
      } else if (word == "units") {
        type->SetUnits(Next()->Text());
      } else {
        ParseAllowedEnumerations(*type, word, kWhere);
      }
      Expect(')', kWhere, SMissingCloseParens);
    }
  }
  if (OnParseDefinedType) {
    OnParseDefinedType(*this, *type);
  }
  return type;
}

// fuzzy-variable := ( "(" ( "range" bound bound | "units" token | "values" term* ) ")" )* ")"
// term           := "(" "term" name value ")"
//
// Without a range the universe spans the terms' points (0 to 1 when there
// are none); a variable declared without terms gets the default ones when
// the engine's FuzzyAutoTerms says so.
void TIEClipsParser::ParseFuzzyVariable(TIEDefinedType& type) {
  constexpr std::string_view kWhere = "ParseFuzzyVariable";
  constexpr std::string_view kSetWhere = "ParseFuzzySet";
  TIEFuzzyVariable& variable = type.EditFuzzyVariable();
  variable.SetEqualsThreshold(Engine().FuzzyEqualsThreshold());
  std::optional<std::pair<double, double>> range;
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    if (!token->IsChar('(')) {
      ParseError(kWhere, SMissingOpenParens);
    }
    const std::string word = Next()->Text();
    if (word == "range") {
      const TBounds bounds = ParseBounds(word, kWhere);
      const double open = std::numeric_limits<double>::quiet_NaN();  // a universe has ends
      range.emplace(BoundValue(bounds.low, open, word, kWhere),
                    BoundValue(bounds.high, open, word, kWhere));
      if (!(range->first <= range->second)) {
        ParseErrorF(kWhere, SInvalidLowHiLimits, range->first, range->second);
      }
    } else if (word == "units") {
      type.SetUnits(Next()->Text());
    } else if (word == "values") {
      while (!PeekChar(')')) {
        Ref<IStreamToken> open = Next();
        Ref<IStreamToken> keyword = Next();
        if (!open->IsChar('(') || !keyword->IsKind(TIEType::dtAtom) || keyword->Text() != "term") {
          ParseError(kSetWhere, SExpectedFuzzySet);
        }
        std::string term = Next()->Text();
        Ref<IIEValue> value = ParseValue();
        if (!value) {
          ParseError(kSetWhere, SExpectedValue);
        }
        Expect(')', kSetWhere, SMissingCloseParens);
        // Points, a shape, or an expression of the terms declared so far.
        Ref<TIEFuzzySet> set = AsParseError(kSetWhere, [&] {
          return Engine().EvalFuzzyExpression(&variable, *value, &Engine().RootContext());
        });
        variable.AddTerm(term, static_cast<const TMembershipSet&>(*set), set->Expression());
      }
    } else {
      ParseErrorF(kWhere, SExpectedKeyword, "range, units, or values");
    }
    Expect(')', kWhere, SMissingCloseParens);
  }
  double from = 0;
  double to = 1;
  if (range) {
    std::tie(from, to) = *range;
  } else if (variable.TermCount() > 0) {
    from = std::numeric_limits<double>::infinity();
    to = -from;
    for (const TLinguisticVariable::TTerm& term : variable.Terms()) {
      if (!term.set.Empty()) {
        from = std::min(from, term.set.MinX());
        to = std::max(to, term.set.MaxX());
      }
    }
    if (from > to) {
      from = 0;
      to = 1;
    }
  }
  variable.SetUniverse(from, to, type.Units());
  variable.SetRangeDeclared(range.has_value());
  for (const TLinguisticVariable::TTerm& term : variable.Terms()) {
    if (!variable.Covers(term.set)) {
      ParseErrorF(kSetWhere, SFuzzyTermOutsideUniverse, term.name.c_str(),
                  FuzzyNumberText(from).c_str(), FuzzyNumberText(to).c_str());
    }
  }
  if (variable.TermCount() == 0 && Engine().FuzzyAutoTerms()) {
    variable.AddDefaultTerms();
  }
}

}  // namespace zephro
