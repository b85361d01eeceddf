// Facts as they are saved (save-facts, save, the engine's SaveFacts): the
// text load-facts reads back as the same facts.
//
// A fact's printed form is not always that: an atom made by sym-cat may hold
// blanks, parentheses or a semicolon, or look like a number; "%.4f" rounds a
// float; a single slot may hold a list, which prints as several fields. So
// every value is written, then read back with the language's scanner, and it
// must come back as one token of the same kind and value; a value that does
// not makes the save fail before anything is written. Floats are written with
// "%.4f" when that is exact, else with the fewest digits that are. A list in a
// single slot is written as a create$ call of its items, which load-facts
// takes as the list (it runs no other call). A fuzzy value is written as the
// expression it was read from, or as its points.

#include <string>
#include <string_view>

#include "zephro/language/clips_parser.h"
#include "zephro/language/clips_stream.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/text_stream.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/printing.h"
#include "zephro/values/stream_token.h"
#include "zephro/values/value.h"


namespace zephro {
namespace {

// True when `text` reads back as exactly one token whose value equals `value`.
bool ReadsBackAs(const std::string& text, const IIEValue& value) {
  try {
    TIEClipsStream scanner(text);
    Ref<IStreamToken> token = scanner.BuildNextToken();
    if (token->IsEnd() || !scanner.BuildNextToken()->IsEnd()) {
      return false;
    }
    Ref<IIEValue> read = token->Value();
    return read && read->Equals(&value);
  } catch (const EBaseException&) {
    return false;  // not even a token
  }
}

// A fuzzy value as it was written, else its points, each number exact.
std::string FuzzyText(const IIEValue& value) {
  const TIEFuzzySet* set = FuzzySetOf(value);
  if (set == nullptr || !set->Expression().empty()) {
    return value.ToString();
  }
  std::string text = "(";
  for (const TFuzzyPoint& p : set->Points()) {
    text += "(" + ExactFloatText(p.x) + " " + ExactFloatText(p.y) + ") ";
  }
  return text + ")";
}

// `text` cut to its first kMessageText bytes (on a character boundary),
// "..." marking the cut: a message names a fact of a million fields, or a
// string of a megabyte, without printing it whole.
std::string ForMessage(std::string text) {
  constexpr std::size_t kMessageText = 200;
  if (text.size() <= kMessageText) {
    return text;
  }
  std::size_t cut = kMessageText;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;  // not inside a UTF-8 sequence
  }
  text.resize(cut);
  return text + "...";
}

// The text of one field of `fact`, checked.
std::string FieldText(const IFact& fact, const IIEValue& value) {
  if (value.DType() == TIEType::dtFuzzy) {
    return FuzzyText(value);  // read back by the slot's fuzzy variable
  }
  std::string text =
      value.DType() == TIEType::dtFloat ? ExactFloatText(value.AsFloat()) : value.ToString();
  if (text.empty() && value.DType() == TIEType::dtAtom) {
    text = "nil";  // the empty atom, which prints as nothing
  }
  if (!ReadsBackAs(text, value)) {
    RaisePlatformError("Cannot save fact f-%d %s: its value %s would not read back as written",
                       fact.GetID(), ForMessage(fact.ToString()).c_str(),
                       ForMessage(text).c_str());
  }
  return text;
}

// The fields of `list`, each followed by a blank, as a list prints.
std::string FieldsText(const IFact& fact, const IIEValue& list) {
  std::string text;
  for (const Ref<IIEValue>& item : list.AsList()->Values()) {
    if (item != nullptr) {
      text += FieldText(fact, *item);
      text += ' ';
    }
  }
  return text;
}

}  // namespace

std::string SavedFactText(const IFact& fact) {
  const IFactTemplate* fact_template = fact.Template();
  if (fact_template == nullptr) {
    return "()";
  }
  std::string out = "(" + fact_template->TemplateName();
  for (int i = 0; i < fact_template->SlotCount(); ++i) {
    const IIEValue* value = fact.ValueAt(i);
    if (value == nullptr) {
      continue;
    }
    std::string text;
    if (value->DType() != TIEType::dtList) {
      text = FieldText(fact, *value);
    } else if (fact_template->IsOrdered() || fact_template->SlotAt(i)->IsMultiSlot()) {
      text = FieldsText(fact, *value);
    } else {
      text = "(create$ " + FieldsText(fact, *value) + ")";
    }
    if (text.empty()) {
      continue;
    }
    if (fact_template->IsOrdered()) {
      out += " " + text;
    } else {
      out += " (" + fact_template->SlotNames()[static_cast<std::size_t>(i)] + " " + text + ")";
    }
  }
  out += ')';
  return out;
}

}  // namespace zephro
