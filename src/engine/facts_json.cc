// Facts to JSON and back (see the header for the forms). Reading is in two
// steps: every fact of the document is built and checked into a TPendingFact,
// then, when all of them are, they are asserted in order.
//
// The JSON text itself is read and written by nlohmann-json. Its parser runs
// through the SAX handler TDocumentReader below, which builds the document
// (members in document order), refuses repeated member names and nesting
// deeper than kMaxNesting, keeps where each value starts (for the messages
// about values that have no engine form), and words the parser's errors.

#include "zephro/engine/facts_json.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact.h"
#include "zephro/platform/text_stream.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

namespace {

// Objects keep their members in the order written: the template's slot order
// on writing, the document's on reading.
using TJson = nlohmann::ordered_json;

// --- writing ----------------------------------------------------------------------------------

// An object of one member: {"atom": ...} or {"fact": ...}.
TJson Tagged(const char* tag, TJson value) {
  TJson object = TJson::object();
  object[tag] = std::move(value);
  return object;
}

TJson ValueJson(const IIEValue* value) {
  if (value == nullptr || IsNilValue(*value)) {
    return nullptr;
  }
  switch (value->DType()) {
    case TIEType::dtInteger:
      return value->AsInteger();
    case TIEType::dtFloat:
      // nlohmann-json writes a double in a form that reads back as the same
      // double, adding ".0" when it would look like an integer.
      if (std::isfinite(value->AsFloat())) {
        return value->AsFloat();
      }
      break;
    case TIEType::dtString:
      return value->AsString();
    case TIEType::dtAtom:
      return Tagged("atom", value->AsString());
    case TIEType::dtFactId:
      return Tagged("fact", value->AsInteger());
    case TIEType::dtFact:
      if (value->AsFact() != nullptr) {
        return Tagged("fact", value->AsFact()->GetID());
      }
      break;
    case TIEType::dtList: {
      TJson items = TJson::array();
      if (value->AsList() != nullptr) {
        for (const Ref<IIEValue>& item : value->AsList()->Values()) {
          items.push_back(ValueJson(item.get()));
        }
      }
      return items;
    }
    default:
      break;
  }
  RaiseIE(SJsonNoForm, std::string(IETypeName(value->DType())).c_str());
}

TJson FactJson(const IFact& fact) {
  const IFactTemplate* tmpl = fact.Template();
  if (tmpl == nullptr) {
    RaiseIE(SNoTemplate);
  }
  TJson json = TJson::object();
  json["template"] = tmpl->TemplateName();
  json["id"] = fact.GetID();
  if (tmpl->IsOrdered()) {
    json["values"] = ValueJson(fact.ValueAt(0));
    return json;
  }
  TJson slots = TJson::object();
  for (int i = 0; i < tmpl->SlotCount(); ++i) {
    slots[tmpl->SlotNames()[static_cast<std::size_t>(i)]] = ValueJson(fact.ValueAt(i));
  }
  json["slots"] = std::move(slots);
  return json;
}

// `json` on one line with a blank after each ',' and ':' that separates
// values. Bytes of a string that are not UTF-8 are written as U+FFFD.
void WriteJson(std::string& out, const TJson& json) {
  const std::string compact = json.dump(-1, ' ', false, TJson::error_handler_t::replace);
  bool in_string = false;
  for (std::size_t i = 0; i < compact.size(); ++i) {
    const char c = compact[i];
    out += c;
    if (in_string) {
      if (c == '\\') {
        out += compact[++i];  // the escaped byte: a dump never ends inside a string
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == ',' || c == ':') {
      out += ' ';
    }
  }
}

// --- reading the text -------------------------------------------------------------------------

// A document and the offset where each of its values starts, in document
// order (a container before its items).
struct TDocument {
  TJson root;
  std::vector<std::size_t> starts;

  std::size_t OffsetOf(const TJson& value) const {
    std::size_t index = 0;
    return Find(root, value, index) ? starts[index] : 0;
  }

 private:
  // Whether `value` is `node` or within it, counting in `index` the values
  // that come before it.
  static bool Find(const TJson& node, const TJson& value, std::size_t& index) {
    if (&node == &value) {
      return true;
    }
    ++index;
    if (node.is_structured()) {
      for (const TJson& item : node) {
        if (Find(item, value, index)) {
          return true;
        }
      }
    }
    return false;
  }
};

// The bytes of the text for the parser, counting in `read` how many it took.
class TCountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TCountingIterator(const char* at, std::size_t* read) : at_(at), read_(read) {}

  reference operator*() const { return *at_; }
  TCountingIterator& operator++() {
    ++at_;
    ++*read_;
    return *this;
  }
  TCountingIterator operator++(int) {
    TCountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TCountingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  std::size_t* read_;
};

bool IsNumberByte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The parser's failure in our words. Its message reads "... syntax error
// while parsing <context> - <detail>", where the detail is either
// "unexpected <token>; expected <token>" or the scanner's complaint.
const char* ParseFault(const TJson::exception& error) {
  if (error.id == 406) {
    return "a number out of range";
  }
  const std::string_view message = error.what();
  const std::size_t syntax = message.find("syntax error");
  const std::size_t dash = message.find(" - ", syntax);
  if (syntax == std::string_view::npos || dash == std::string_view::npos) {
    return "not JSON";
  }
  const std::string_view detail = message.substr(dash + 3);
  const auto expects = [&](std::string_view token) {
    return detail.ends_with(std::string("; expected ") + std::string(token));
  };
  if (expects("end of input")) {
    return "unexpected text after the value";
  }
  if (detail.starts_with("unexpected ")) {
    if (expects("'}'")) {
      return "',' or '}' is expected";
    }
    if (expects("']'")) {
      return "',' or ']' is expected";
    }
    if (expects("':'")) {
      return "':' is expected after a member name";
    }
    if (expects("string literal")) {
      return "a member name (a string) is expected";
    }
    if (detail.starts_with("unexpected end of input")) {
      return "a value is missing";
    }
    return "not the start of a value";
  }
  struct TWording {
    const char* scanner;  // the start of the scanner's complaint
    const char* ours;
  };
  static constexpr TWording kWordings[] = {
      {"invalid string: ill-formed UTF-8", "a string is not valid UTF-8"},
      {"invalid string: control character", "a control character must be escaped in a string"},
      {"invalid string: forbidden character after backslash", "unknown escape in a string"},
      {"invalid string: missing closing quote", "the text ends inside a string"},
      {"invalid string: '\\u'", "\\u needs four hexadecimal digits"},
      {"invalid string: surrogate U+D800", "a high surrogate must be followed by a low one"},
      {"invalid string: surrogate U+DC00", "a low surrogate without a high one"},
      {"invalid number; expected digit after '.'", "a digit is expected after the decimal point"},
      {"invalid number; expected digit after '-'", "a digit is expected"},
      {"invalid number", "a digit is expected in the exponent"},
      {"invalid literal", "not a value"},
  };
  for (const TWording& wording : kWordings) {
    if (detail.starts_with(wording.scanner)) {
      return wording.ours;
    }
  }
  return "not the start of a value";
}

// Builds the document from the parser's events (the SAX interface of
// nlohmann-json), with the offset of every value. The parser gives no
// offsets itself, only the bytes it has taken (`read_`), so each value's
// start is found back from there: a bracket was the last byte taken; a
// string or literal ends at the last byte taken; a number ends at the byte
// before, which the parser took to see the number's end (unless the text
// ended).
class TDocumentReader {
 public:
  explicit TDocumentReader(std::string_view text) : text_(text) {}

  TDocument Read() && {
    TJson::sax_parse(TCountingIterator(text_.data(), &read_),
                     TCountingIterator(text_.data() + text_.size(), &read_), this);
    return std::move(document_);
  }

  bool null() { return Add(nullptr, read_ - 4); }
  bool boolean(bool value) { return Add(value, read_ - (value ? 4 : 5)); }
  bool number_integer(std::int64_t value) { return Add(value, NumberStart()); }
  bool number_unsigned(std::uint64_t value) {
    // Integers are 64-bit signed: a larger one is read as a float.
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return Add(static_cast<double>(value), NumberStart());
    }
    return Add(static_cast<std::int64_t>(value), NumberStart());
  }
  bool number_float(double value, const std::string& /*text*/) { return Add(value, NumberStart()); }
  bool string(std::string& value) { return Add(std::move(value), StringStart()); }
  bool binary(TJson::binary_t& /*value*/) { return false; }  // not in JSON text
  bool start_object(std::size_t /*size*/) { return Open(TJson::object()); }
  bool key(std::string& name) {
    key_ = std::move(name);
    key_start_ = StringStart();
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t /*size*/) { return Open(TJson::array()); }
  bool end_array() { return Close(); }
  [[noreturn]] bool parse_error(std::size_t position, const std::string& /*token*/,
                                const TJson::exception& error) {
    // `position` counts the bytes taken, the faulty one included; a number
    // out of range is named by its start.
    Fail(error.id == 406 ? NumberStart() : (position > 0 ? position - 1 : 0), ParseFault(error));
  }

 private:
  [[noreturn]] static void Fail(std::size_t offset, const char* what) {
    RaiseIE(SJsonSyntax, static_cast<int>(offset), what);
  }

  // Places `value`, which starts at `start`, in the open container or as the
  // document; returns where it now is.
  TJson* Place(TJson value, std::size_t start) {
    document_.starts.push_back(start);
    if (open_.empty()) {
      document_.root = std::move(value);
      return &document_.root;
    }
    TJson& container = *open_.back();
    if (container.is_array()) {
      container.push_back(std::move(value));
      return &container.back();
    }
    auto [member, added] =
        container.get_ref<TJson::object_t&>().emplace(std::move(key_), std::move(value));
    if (!added) {
      Fail(key_start_, "a member name is repeated");
    }
    return &member->second;
  }

  bool Add(TJson value, std::size_t start) {
    Place(std::move(value), start);
    return true;
  }

  bool Open(TJson container) {
    if (open_.size() >= static_cast<std::size_t>(kMaxNesting)) {
      Fail(read_ - 1, "nested too deeply");
    }
    open_.push_back(Place(std::move(container), read_ - 1));
    return true;
  }

  bool Close() {
    open_.pop_back();
    return true;
  }

  std::size_t NumberStart() const {
    std::size_t at = read_;
    if (at > 0 && !IsNumberByte(text_[at - 1])) {
      --at;
    }
    while (at > 0 && IsNumberByte(text_[at - 1])) {
      --at;
    }
    return at;
  }

  // The opening quote of the string whose closing quote was the last byte
  // taken: the nearest quote before it not escaped by a backslash.
  std::size_t StringStart() const {
    std::size_t at = read_ - 1;
    while (at > 0) {
      at = text_.rfind('"', at - 1);
      if (at == std::string_view::npos) {
        return 0;
      }
      std::size_t backslashes = 0;
      while (backslashes < at && text_[at - 1 - backslashes] == '\\') {
        ++backslashes;
      }
      if (backslashes % 2 == 0) {
        return at;
      }
    }
    return 0;
  }

  std::string_view text_;
  std::size_t read_ = 0;  // bytes the parser has taken
  TDocument document_;
  std::vector<TJson*> open_;  // the containers being read, innermost last
  std::string key_;           // the member name of the next value of an object
  std::size_t key_start_ = 0;
};

TDocument ReadDocument(std::string_view text) {
  return TDocumentReader(text).Read();
}

// --- reading facts ----------------------------------------------------------------------------

[[noreturn]] void NoValue(const std::string& what, const TDocument& document, const TJson& node) {
  RaiseIE(SJsonNoValue, what.c_str(), static_cast<int>(document.OffsetOf(node)));
}

// The member `name` of an object, or null.
const TJson* Member(const TJson& object, const char* name) {
  const auto member = object.find(name);
  return member == object.end() ? nullptr : &*member;
}

Ref<IIEValue> ReadValue(const TDocument& document, const TJson& node) {
  switch (node.type()) {
    case TJson::value_t::null:
      return Ref<IIEValue>(&FCNil());
    case TJson::value_t::boolean:
      return BoolValue(node.get<bool>());
    case TJson::value_t::number_integer:
    case TJson::value_t::number_unsigned: {
      const auto integer = node.get<std::int64_t>();
      if (integer < std::numeric_limits<std::int32_t>::min() ||
          integer > std::numeric_limits<std::int32_t>::max()) {
        NoValue("the integer " + std::to_string(integer), document, node);
      }
      return TIEValue::Integer(static_cast<std::int32_t>(integer));
    }
    case TJson::value_t::number_float:
      return TIEValue::Float(node.get<double>());
    case TJson::value_t::string:
      return TIEValue::String(node.get<std::string>());
    case TJson::value_t::array: {
      Ref<IValueVector> list = MakeValueVector();
      for (const TJson& item : node) {
        list->Add(ReadValue(document, item));
      }
      return MakeRef<TIEValue>(std::move(list));
    }
    default:
      break;
  }
  if (node.is_object() && node.size() == 1) {
    const auto& [name, inner] = *node.get_ref<const TJson::object_t&>().begin();
    if (name == "atom" && inner.is_string()) {
      return TIEValue::Atom(inner.get<std::string>());
    }
    if (name == "fact" && inner.is_number_integer()) {
      const auto id = inner.get<std::int64_t>();
      if (id >= 0 && id <= std::numeric_limits<std::int32_t>::max()) {
        return MakeRef<TIEValue>(static_cast<std::int32_t>(id), TIEType::dtFactId);
      }
    }
  }
  NoValue("this object", document, node);
}

// A fact built and checked, waiting for the whole document: a fact of a
// template with named slots, or the template name and fields of an ordered
// fact (whose template may not exist yet).
struct TPendingFact {
  Ref<IFact> fact;
  std::string ordered_template;
  Ref<IIEValue> fields;
};

TPendingFact BuildFact(TInferenceEngine& engine, const TDocument& document, const TJson& node) {
  if (!node.is_object()) {
    RaiseIE(SJsonNotFact);
  }
  const TJson* name = Member(node, "template");
  const TJson* slots = Member(node, "slots");
  const TJson* values = Member(node, "values");
  if (name == nullptr || !name->is_string() || name->get_ref<const std::string&>().empty() ||
      (slots == nullptr) == (values == nullptr)) {
    RaiseIE(SJsonNotFact);
  }
  for (const auto& [member, value] : node.items()) {
    if (member != "template" && member != "id" && member != "slots" && member != "values") {
      RaiseIE(SJsonUnknownMember, member.c_str());
    }
  }
  const std::string& template_name = name->get_ref<const std::string&>();
  IFactTemplate* tmpl = engine.FindFactTemplate(template_name);
  TPendingFact pending;
  if (values != nullptr) {
    if (!values->is_array()) {
      RaiseIE(SJsonNotFact);
    }
    if (tmpl != nullptr && !tmpl->IsOrdered()) {
      RaiseIE(SJsonSlotsFact, template_name.c_str());
    }
    pending.ordered_template = template_name;
    pending.fields = ReadValue(document, *values);
    return pending;
  }
  if (!slots->is_object()) {
    RaiseIE(SJsonNotFact);
  }
  if (tmpl == nullptr) {
    RaiseIE(SUnknownFactTemplate, template_name.c_str());
  }
  if (tmpl->IsOrdered()) {
    RaiseIE(SJsonOrderedFact, template_name.c_str());
  }
  Ref<TFact> fact = TFact::Make(Ref<IFactTemplate>(tmpl));
  for (const auto& [slot_name, json] : slots->items()) {
    const IFactSlot* slot = tmpl->FindSlot(slot_name);
    if (slot == nullptr) {
      RaiseIE(SNoSuchSlot, slot_name.c_str());
    }
    fact->SetValueChecked(slot_name, ReadValue(document, json));
  }
  pending.fact = std::move(fact);
  return pending;
}

std::int32_t AssertPending(TInferenceEngine& engine, TPendingFact& pending) {
  if (!pending.fact) {
    Ref<TFact> fact =
        TFact::Make(Ref<IFactTemplate>(&engine.CreateFactTemplate(pending.ordered_template)));
    fact->SetValue(SDefaultSlotName, std::move(pending.fields));
    pending.fact = std::move(fact);
  }
  return engine.Assert(std::move(pending.fact));
}

}  // namespace

std::string FactToJson(const IFact& fact) {
  std::string out;
  WriteJson(out, FactJson(fact));
  return out;
}

std::int32_t FactFromJson(TInferenceEngine& engine, std::string_view json) {
  const TDocument document = ReadDocument(json);
  TPendingFact pending = BuildFact(engine, document, document.root);
  return AssertPending(engine, pending);
}

std::string FactsToJson(const TInferenceEngine& engine) {
  std::string out = "[";
  const char* separator = "\n";
  engine.ForEachFact([&](IFact& fact) {
    out += separator;
    WriteJson(out, FactJson(fact));
    separator = ",\n";
  });
  out += "\n]\n";
  return out;
}

int LoadFactsJson(TInferenceEngine& engine, std::string_view json) {
  const TDocument document = ReadDocument(json);
  if (!document.root.is_array()) {
    RaiseIE(SJsonNotFactList);
  }
  std::vector<TPendingFact> pending;
  pending.reserve(document.root.size());
  int index = 0;
  for (const TJson& fact : document.root) {
    try {
      pending.push_back(BuildFact(engine, document, fact));
    } catch (const EIEException& e) {
      RaiseIE(SJsonFactAt, index, e.what());
    }
    ++index;
  }
  int asserted = 0;
  for (TPendingFact& fact : pending) {
    if (AssertPending(engine, fact) >= 0) {
      ++asserted;
    }
  }
  return asserted;
}

void SaveFactsJsonFile(const TInferenceEngine& engine, const std::string& path) {
  ReplaceFile(path, FactsToJson(engine));
}

int LoadFactsJsonFile(TInferenceEngine& engine, const std::string& path) {
  CheckFileName(path);
  std::ifstream file = OpenFileForReading(path);
  std::ostringstream text;
  text << file.rdbuf();
  return LoadFactsJson(engine, text.view());
}

}  // namespace zephro
