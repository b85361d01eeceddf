// Facts, templates and slots back to the text they were parsed from.
//
// Each construct has one function that builds its text from the construct's
// public interface. Nested constructs (a template's slots) are printed by
// their own function and indented with IndentLines, so a construct's text
// never depends on where it is nested.

#include "zephro/facts/fact_printer.h"

#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

std::string Quoted(std::string_view text) {
  return TIEValue::String(text)->ToString();
}

// A default that a slot gets anyway when none is written.
bool IsEmptyDefault(const IIEValue& value) {
  return value.DType() == TIEType::dtNone || value.Equals(&FCNil()) || value.Equals(&FCNilList());
}

// A default a slot of a defined type gets anyway: what its type derives.
bool IsDerivedDefault(const IFactSlot& slot, const IIEValue& value) {
  const IIEDefinedType* type = slot.ExtendedTypeInfo();
  if (type == nullptr || slot.DefaultDynamic()) {
    return false;
  }
  Ref<IIEValue> derived = type->CreateValidDefault(slot.IsMultiSlot());
  return derived && value.DType() == derived->DType() && value.Equals(derived.get());
}

// The type qualifier of `slot` with its trailing blank, or "" when the slot
// admits every single-field kind.
std::string TypeQualifier(const IFactSlot& slot) {
  const IIEDefinedType* type = slot.ExtendedTypeInfo();
  if (type != nullptr && type->TypeName() == SImplicitDefinedType) {
    return type->OwnTypeText();  // a slot's own type, written out in full
  }
  if (type != nullptr) {
    return "(type " + WordText(type->TypeName()) + ") ";
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
    out += " is-a " + WordText(type->TypeName());
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
  if (const IIEValue* value = slot.SlotDefault(); value != nullptr && !IsEmptyDefault(*value) &&
                                                   !IsDerivedDefault(slot, *value)) {
    out += slot.DefaultDynamic() ? "(default-dynamic " : "(default ";
    out += value->ToString();
    out += ") ";
  }
  out += ')';
  return out;
}

}  // namespace zephro
