// Facts to JSON and back (see the header for the forms). Reading is in two
// steps: every fact of the document is built and checked into a TPendingFact,
// then, when all of them are, they are asserted in order.

#include "zephro/engine/facts_json.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
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
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "engine/json_text.h"

namespace zephro {

namespace {

using TKind = TJsonNode::TKind;

// --- writing ----------------------------------------------------------------------------------

bool IsNil(const IIEValue& value) {
  return &value == &FCNil() || (value.DType() == TIEType::dtAtom && value.AsString() == "nil");
}

void WriteFactReference(std::string& out, std::int32_t id) {
  out += "{\"fact\": ";
  out += std::to_string(id);
  out += '}';
}

void WriteValue(std::string& out, const IIEValue* value) {
  if (value == nullptr || IsNil(*value)) {
    out += "null";
    return;
  }
  switch (value->DType()) {
    case TIEType::dtInteger:
      out += std::to_string(value->AsInteger());
      return;
    case TIEType::dtFloat:
      if (std::isfinite(value->AsFloat())) {
        WriteJsonFloat(out, value->AsFloat());
        return;
      }
      break;
    case TIEType::dtString:
      WriteJsonString(out, value->AsString());
      return;
    case TIEType::dtAtom:
      out += "{\"atom\": ";
      WriteJsonString(out, value->AsString());
      out += '}';
      return;
    case TIEType::dtFactId:
      WriteFactReference(out, value->AsInteger());
      return;
    case TIEType::dtFact:
      if (value->AsFact() != nullptr) {
        WriteFactReference(out, value->AsFact()->GetID());
        return;
      }
      break;
    case TIEType::dtList: {
      out += '[';
      const char* separator = "";
      if (value->AsList() != nullptr) {
        for (const Ref<IIEValue>& item : value->AsList()->Values()) {
          out += separator;
          WriteValue(out, item.get());
          separator = ", ";
        }
      }
      out += ']';
      return;
    }
    default:
      break;
  }
  RaiseIE(SJsonNoForm, std::string(IETypeName(value->DType())).c_str());
}

void WriteFact(std::string& out, const IFact& fact) {
  const IFactTemplate* tmpl = fact.Template();
  if (tmpl == nullptr) {
    RaiseIE(SNoTemplate);
  }
  out += "{\"template\": ";
  WriteJsonString(out, tmpl->TemplateName());
  out += ", \"id\": ";
  out += std::to_string(fact.GetID());
  if (tmpl->IsOrdered()) {
    out += ", \"values\": ";
    WriteValue(out, fact.ValueAt(0));
  } else {
    out += ", \"slots\": {";
    for (int i = 0; i < tmpl->SlotCount(); ++i) {
      out += i == 0 ? "" : ", ";
      WriteJsonString(out, tmpl->SlotNames()[static_cast<std::size_t>(i)]);
      out += ": ";
      WriteValue(out, fact.ValueAt(i));
    }
    out += '}';
  }
  out += '}';
}

// --- reading ----------------------------------------------------------------------------------

[[noreturn]] void NoValue(const std::string& what, const TJsonNode& node) {
  RaiseIE(SJsonNoValue, what.c_str(), static_cast<int>(node.offset));
}

Ref<IIEValue> ReadValue(const TJsonNode& node) {
  switch (node.kind) {
    case TKind::kNull:
      return Ref<IIEValue>(&FCNil());
    case TKind::kBool:
      return BoolValue(node.boolean);
    case TKind::kInteger:
      if (node.integer < std::numeric_limits<std::int32_t>::min() ||
          node.integer > std::numeric_limits<std::int32_t>::max()) {
        NoValue("the integer " + std::to_string(node.integer), node);
      }
      return TIEValue::Integer(static_cast<std::int32_t>(node.integer));
    case TKind::kFloat:
      return TIEValue::Float(node.real);
    case TKind::kString:
      return TIEValue::String(node.text);
    case TKind::kArray: {
      Ref<IValueVector> list = MakeValueVector();
      for (const TJsonNode& item : node.items) {
        list->Add(ReadValue(item));
      }
      return MakeRef<TIEValue>(std::move(list));
    }
    case TKind::kObject:
      break;
  }
  if (node.members.size() == 1) {
    const auto& [name, inner] = node.members.front();
    if (name == "atom" && inner.kind == TKind::kString) {
      return TIEValue::Atom(inner.text);
    }
    if (name == "fact" && inner.kind == TKind::kInteger && inner.integer >= 0 &&
        inner.integer <= std::numeric_limits<std::int32_t>::max()) {
      return MakeRef<TIEValue>(static_cast<std::int32_t>(inner.integer), TIEType::dtFactId);
    }
  }
  NoValue("this object", node);
}

// A fact built and checked, waiting for the whole document: a fact of a
// template with named slots, or the template name and fields of an ordered
// fact (whose template may not exist yet).
struct TPendingFact {
  Ref<IFact> fact;
  std::string ordered_template;
  Ref<IIEValue> fields;
};

TPendingFact BuildFact(TInferenceEngine& engine, const TJsonNode& node) {
  const TJsonNode* name = node.Member("template");
  const TJsonNode* slots = node.Member("slots");
  const TJsonNode* values = node.Member("values");
  if (node.kind != TKind::kObject || name == nullptr || name->kind != TKind::kString ||
      name->text.empty() || (slots == nullptr) == (values == nullptr)) {
    RaiseIE(SJsonNotFact);
  }
  for (const auto& [member, value] : node.members) {
    if (member != "template" && member != "id" && member != "slots" && member != "values") {
      RaiseIE(SJsonUnknownMember, member.c_str());
    }
  }
  IFactTemplate* tmpl = engine.FindFactTemplate(name->text);
  TPendingFact pending;
  if (values != nullptr) {
    if (values->kind != TKind::kArray) {
      RaiseIE(SJsonNotFact);
    }
    if (tmpl != nullptr && !tmpl->IsOrdered()) {
      RaiseIE(SJsonSlotsFact, name->text.c_str());
    }
    pending.ordered_template = name->text;
    pending.fields = ReadValue(*values);
    return pending;
  }
  if (slots->kind != TKind::kObject) {
    RaiseIE(SJsonNotFact);
  }
  if (tmpl == nullptr) {
    RaiseIE(SUnknownFactTemplate, name->text.c_str());
  }
  if (tmpl->IsOrdered()) {
    RaiseIE(SJsonOrderedFact, name->text.c_str());
  }
  Ref<TFact> fact = TFact::Make(Ref<IFactTemplate>(tmpl));
  for (const auto& [slot_name, json] : slots->members) {
    const IFactSlot* slot = tmpl->FindSlot(slot_name);
    if (slot == nullptr) {
      RaiseIE(SNoSuchSlot, slot_name.c_str());
    }
    Ref<IIEValue> value = ReadValue(json);
    if (!slot->IsValid(value.get())) {
      RaiseIEPlain(slot->GetInvalidValueString(*value));
    }
    fact->SetValue(slot_name, std::move(value));
  }
  pending.fact = std::move(fact);
  return pending;
}

std::int32_t AssertPending(TInferenceEngine& engine, TPendingFact& pending) {
  if (!pending.fact) {
    Ref<TFact> fact = TFact::Make(Ref<IFactTemplate>(&engine.CreateFactTemplate(
        pending.ordered_template)));
    fact->SetValue(SDefaultSlotName, std::move(pending.fields));
    pending.fact = std::move(fact);
  }
  return engine.Assert(std::move(pending.fact));
}

}  // namespace

std::string FactToJson(const IFact& fact) {
  std::string out;
  WriteFact(out, fact);
  return out;
}

std::int32_t FactFromJson(TInferenceEngine& engine, std::string_view json) {
  TPendingFact pending = BuildFact(engine, ReadJson(json));
  return AssertPending(engine, pending);
}

std::string FactsToJson(const TInferenceEngine& engine) {
  std::string out = "[";
  const char* separator = "\n";
  engine.ForEachFact([&](IFact& fact) {
    out += separator;
    WriteFact(out, fact);
    separator = ",\n";
  });
  out += "\n]\n";
  return out;
}

int LoadFactsJson(TInferenceEngine& engine, std::string_view json) {
  const TJsonNode document = ReadJson(json);
  if (document.kind != TKind::kArray) {
    RaiseIE(SJsonNotFactList);
  }
  std::vector<TPendingFact> pending;
  pending.reserve(document.items.size());
  for (std::size_t i = 0; i < document.items.size(); ++i) {
    try {
      pending.push_back(BuildFact(engine, document.items[i]));
    } catch (const EIEException& e) {
      RaiseIE(SJsonFactAt, static_cast<int>(i), e.what());
    }
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
