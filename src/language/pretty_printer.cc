// The pretty printer: constructs back to the text they were parsed from.
//
// Each construct has one function that builds its text from the construct's
// public interface. Nested constructs (a template's slots) are printed by
// their own function and indented with IndentLines, so a construct's text
// never depends on where it is nested.

#include "zephro/language/pretty_printer.h"

#include "zephro/language/parsed_constructs.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// The type keyword that stands for `kind` in a type qualifier, or null for
// kinds that are written no other way than through the slot's nature (the
// multislot kinds) or are admitted anyway (variables, calls).
const char* TypeKeyword(TIEType kind) {
  switch (kind) {
    case TIEType::dtAtom:
      return STypeSymbolKeyword;
    case TIEType::dtString:
      return STypeStringKeyword;
    case TIEType::dtInteger:
      return STypeIntegerKeyword;
    case TIEType::dtFactId:
      return STypeFactIdKeyword;
    case TIEType::dtFloat:
      return STypeFloatKeyword;
    case TIEType::dtFact:
      return STypeFactKeyword;
    case TIEType::dtDescriptor:
      return STypeDescriptorKeyword;
    case TIEType::dtObject:
      return STypeObjectKeyword;
    case TIEType::dtClass:
      return STypeClassKeyword;
    case TIEType::dtExternalAddress:
      return STypeExternalAddrKeyword;
    case TIEType::dtFuzzy:
      return STypeFuzzyKeyword;
    case TIEType::dtNone:
    case TIEType::dtVariable:
    case TIEType::dtFunCall:
    case TIEType::dtList:
    case TIEType::dtSingletons:
    case TIEType::dtMultiVariable:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      return nullptr;
  }
  return nullptr;
}

std::string Quoted(std::string_view text) {
  return TIEValue::String(text)->ToString();
}

// A default that a slot gets anyway when none is written.
bool IsEmptyDefault(const IIEValue& value) {
  return value.DType() == TIEType::dtNone || value.Equals(&FCNil()) || value.Equals(&FCNilList());
}

// The type qualifier of `slot` with its trailing blank, or "" when the slot
// admits every single-field kind.
std::string TypeQualifier(const IFactSlot& slot) {
  const IIEDefinedType* type = slot.ExtendedTypeInfo();
  if (const auto* parsed = dynamic_cast<const TParsedDefinedType*>(type);
      parsed != nullptr && parsed->Implicit()) {
    // A slot's own type: its type words (the named type it refines first) and
    // its clauses.
    std::string words = parsed->Ancestor() != nullptr ? parsed->Ancestor()->TypeName() : "";
    const TIETypes own = parsed->OwnTypes() - IEMultiSlotTypes;
    if (!own.Includes(IESlotTypes) && !own.Empty()) {
      words += (words.empty() ? "" : " ") + TypesToString(own);
    }
    return (words.empty() ? std::string() : "(type " + words + ") ") +
           PrettyPrintTypeClauses(*parsed);
  }
  if (type != nullptr && type->TypeName() != SImplicitDefinedType) {
    return "(type " + type->TypeName() + ") ";
  }
  const TIETypes kinds = slot.SlotType() - IEMultiSlotTypes;
  if (kinds.Includes(IESlotTypes)) {
    return std::string();
  }
  std::string keywords = TypesToString(kinds);
  return keywords.empty() ? std::string() : "(type " + keywords + ") ";
}

// The defined type an ordered template is declared "is-a", or null.
const IIEDefinedType* IsAType(const IFactTemplate& fact_template) {
  if (!fact_template.IsOrdered()) {
    return nullptr;
  }
  const IIEDefinedType* type = fact_template.SlotAt(0)->ExtendedTypeInfo();
  return type != nullptr && type->TypeName() != SImplicitDefinedType ? type : nullptr;
}

}  // namespace

std::string IndentLines(std::string_view text) {
  // A line break inside a string constant belongs to the string: indenting it
  // would change the string each time the construct is printed and loaded.
  // Strings are printed with their quotes and backslashes escaped, and so are
  // the bytes of an atom that would end it.
  static_assert(kPrintLineBreak == "\n");
  std::string out;
  out.reserve(text.size());
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out += c;
    if (in_string) {
      if (c == '\\' && i + 1 < text.size()) {
        out += text[++i];
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      out += text[++i];  // an atom's escaped byte, a quote say, starts no string
    } else if (c == '"') {
      in_string = true;
    } else if (c == '\n') {
      out += kPrintIndent;
    }
  }
  return out;
}

std::string PrettyPrintDeffunction(std::string_view name, std::span<const Ref<IIEValue>> parameters,
                                   std::string_view comment,
                                   std::span<const Ref<IIEValue>> actions) {
  std::string out = "(deffunction " + std::string(name) + " (";
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    out += (i > 0 ? " " : "") + parameters[i]->ToString();
  }
  out += ")";
  out += kPrintLineBreak;
  if (!comment.empty()) {
    out += std::string(kPrintIndent) + TIEValue::String(comment)->ToString();
    out += kPrintLineBreak;
  }
  for (const Ref<IIEValue>& action : actions) {
    out += std::string(kPrintIndent) + IndentLines(action->ToString());
    out += kPrintLineBreak;
  }
  return out + ")";
}

std::string TypesToString(TIETypes types) {
  std::string out;
  types.ForEach([&](TIEType kind) {
    if (const char* keyword = TypeKeyword(kind)) {
      if (!out.empty()) {
        out += ' ';
      }
      out += keyword;
    }
  });
  return out;
}

// --- facts and templates ---------------------------------------------------------------

// fact := "(" name ( " " fields | ( " (" slot " " value ")" )* ) ")"
std::string PrettyPrintFact(const IFact& fact) {
  const IFactTemplate* fact_template = fact.Template();
  if (fact_template == nullptr) {
    return "()";
  }
  std::string out = "(" + fact_template->TemplateName();
  if (fact_template->IsOrdered()) {
    std::string fields = fact.ValueAt(0)->ToString();
    if (!fields.empty()) {
      out += ' ';
      out += fields;
    }
  } else {
    std::span<const std::string> names = fact_template->SlotNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string text = fact.ValueAt(static_cast<int>(i))->ToString();
      if (!text.empty()) {
        out += " (" + names[i] + " " + text + ")";
      }
    }
  }
  out += ')';
  return out;
}

// deftemplate := "(deftemplate " name [" " comment] [" extends " parent]
//                ( " is-a " type | ( line-break indent slot )* ) ")"
std::string PrettyPrintTemplate(const IFactTemplate& fact_template) {
  std::string out = "(deftemplate " + fact_template.TemplateName();
  if (!fact_template.Comment().empty()) {
    out += ' ';
    out += Quoted(fact_template.Comment());
  }
  if (const IFactTemplate* parent = fact_template.Parent()) {
    out += " extends " + parent->TemplateName();
  }
  if (const IIEDefinedType* type = IsAType(fact_template)) {
    out += " is-a " + type->TypeName();
  } else {
    out += kPrintLineBreak;
    for (int i = 0; i < fact_template.SlotCount(); ++i) {
      if (i > 0) {
        out += kPrintLineBreak;
      }
      out += kPrintIndent;
      out += IndentLines(PrettyPrintSlot(*fact_template.SlotAt(i)));
    }
  }
  out += ')';
  return out;
}

// slot := "(" ("slot" | "multislot") " " name " " [type " "]
//         ["(default " value ") " | "(default-dynamic " call ") "] ")"
std::string PrettyPrintSlot(const IFactSlot& slot) {
  std::string out = slot.IsMultiSlot() ? "(multislot " : "(slot ";
  out += slot.Name();
  out += ' ';
  out += TypeQualifier(slot);
  if (const IIEValue* value = slot.SlotDefault(); value != nullptr && !IsEmptyDefault(*value)) {
    out += slot.DefaultDynamic() ? "(default-dynamic " : "(default ";
    out += value->ToString();
    out += ") ";
  }
  out += ')';
  return out;
}

// --- singletons -------------------------------------------------------------------------------

// singletons := "(" ( "(" x " " y ") " )* ")"
std::string PrettyPrintSingletons(const ISingletonsVector& singletons) {
  if (singletons.Count() == 0) {
    return std::string();
  }
  std::string out = "(";
  for (int i = 0; i < singletons.Count(); ++i) {
    const IIEValue* x = singletons.XValue(i);
    const IIEValue* y = singletons.YValue(i);
    out += "(" + (x != nullptr ? x->ToString() : std::string()) + " " +
           (y != nullptr ? y->ToString() : std::string()) + ") ";
  }
  return out + ")";
}

const ISingletonsParser& SingletonsPrinter() {
  class TSingletonsPrinter final : public ISingletonsParser {
   public:
    std::string SingletonsToString(const ISingletonsVector& singletons) const override {
      return PrettyPrintSingletons(singletons);
    }
  };
  static const TSingletonsPrinter* const printer = new TSingletonsPrinter();  // never destroyed
  return *printer;
}

}  // namespace zephro
