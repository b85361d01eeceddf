// Values compared, hashed and printed: Equals and EqualsStar, GetHashCode
// (values equal by Equals hash alike) and ToString.

#include "zephro/values/value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <typeinfo>

#include "platform/block_recycler.h"
#include "values/value_internal.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {
namespace {

void AppendQuoted(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
}

// The decimal digits of `value`, as std::to_string writes them, in `buf`.
std::string_view DecimalInto(char (&buf)[16], std::int32_t value) {
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string_view(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace

// --- equality, hashing, printing ----------------------------------------------------

bool TIEValue::Equals(const IIEValue* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr) {
    return false;
  }
  if (other->DType() == dtype_ || dtype_ == TIEType::dtFuzzy) {
    switch (dtype_) {
      case TIEType::dtNone:
        return true;
      case TIEType::dtAtom:
      case TIEType::dtString:
      case TIEType::dtVariable:
      case TIEType::dtMultiVariable:
      case TIEType::dtSlot:
      case TIEType::dtMultiSlot:
        if (const TIEValue* o = AsTIEValue(other)) {
          return text_ == o->text_;
        }
        return Text() == other->Text();
      case TIEType::dtInteger:
      case TIEType::dtFactId:
      case TIEType::dtDescriptor:
        return other->AsInteger() == payload_.integer;
      case TIEType::dtFloat:
        return other->AsFloat() == payload_.real;
      case TIEType::dtFunCall: {
        const IFunCall* a = AsFunCall();
        const IFunCall* b = other->AsFunCall();
        return a == b || (a != nullptr && a->Equals(b));
      }
      case TIEType::dtFact: {
        const IFact* a = AsFact();
        const IFact* b = other->AsFact();
        return a == b || (a != nullptr && a->Equals(b));
      }
      case TIEType::dtList: {
        const IValueVector* a = AsList();
        const IValueVector* b = other->AsList();
        return a == b || (a != nullptr && a->Equals(b));
      }
      case TIEType::dtSingletons: {
        const ISingletonsVector* a = AsSingletons();
        const ISingletonsVector* b = other->AsSingletons();
        return a == b || (a != nullptr && a->Equals(b));
      }
      case TIEType::dtFuzzy:
        return payload_.counted != nullptr ? AsFuzzy()->Equals(*other) : false;
      case TIEType::dtObject:
        if (const TIEValue* o = AsTIEValue(other)) {
          // By identity, which outlives the object (see value.h).
          return o->payload_.liveness == payload_.liveness;
        }
        return other->AsObject() == ObjectOrNull();
      case TIEType::dtClass:
        return other->AsClass() == payload_.cls;
      case TIEType::dtExternalAddress:
        return other->AsExternalAddress() == payload_.address;
    }
    return false;
  }
  if (other->DType() == TIEType::dtFuzzy) {
    return other->Equals(this);
  }
  return false;
}

bool TIEValue::EqualsStar(const IIEValue* other) const {
  if (other == nullptr) {
    return false;
  }
  if (dtype_ == TIEType::dtFunCall && other->DType() != TIEType::dtFunCall) {
    return false;
  }
  if (dtype_ != TIEType::dtFuzzy && other->DType() == TIEType::dtFuzzy) {
    return other->EqualsStar(this);
  }
  switch (dtype_) {
    case TIEType::dtAtom:
    case TIEType::dtString:
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      if (IEStringTypes.Contains(other->DType())) {
        return Text() == other->Text();
      }
      return Text() == other->AsString();
    case TIEType::dtInteger:
    case TIEType::dtFactId:
    case TIEType::dtDescriptor:
      return other->AsInteger() == payload_.integer;
    case TIEType::dtFloat:
      return other->AsFloat() == payload_.real;
    case TIEType::dtFuzzy:
      return payload_.counted != nullptr ? AsFuzzy()->EqualsStar(*other) : false;
    case TIEType::dtNone:
    case TIEType::dtFunCall:
    case TIEType::dtFact:
    case TIEType::dtList:
    case TIEType::dtSingletons:
    case TIEType::dtObject:
    case TIEType::dtClass:
    case TIEType::dtExternalAddress:
      return Equals(other);
  }
  return false;
}

std::int32_t TIEValue::GetHashCode() const {
  switch (dtype_) {
    case TIEType::dtAtom:
    case TIEType::dtString:
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      return text_.Hash();
    case TIEType::dtFuzzy:
      return CalculateHash(AsString());
    case TIEType::dtInteger:
    case TIEType::dtFactId:
    case TIEType::dtDescriptor:
      return payload_.integer;
    case TIEType::dtFloat:
      return TruncateToInt32(payload_.real);
    case TIEType::dtExternalAddress:
      return AsInteger();
    case TIEType::dtFunCall:
      return payload_.counted != nullptr ? AsFunCall()->GetHashCode() : 0;
    case TIEType::dtFact:
      return payload_.counted != nullptr ? AsFact()->GetHashCode() : 0;
    case TIEType::dtList:
      return payload_.counted != nullptr ? AsList()->GetHashCode() : 0;
    case TIEType::dtSingletons:
      return payload_.counted != nullptr ? AsSingletons()->GetHashCode() : 0;
    case TIEType::dtObject:
    case TIEType::dtClass:
      // The reference itself as a number; for an object, its liveness block,
      // which keeps its identity after the object is freed.
      return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(payload_.address));
    case TIEType::dtNone:
      return 0;
  }
  return 0;
}

std::string TIEValue::ToString() const {
  switch (dtype_) {
    case TIEType::dtNone:
      return std::string();
    case TIEType::dtAtom:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      return text_.Str();
    case TIEType::dtString: {
      std::string out;
      AppendQuoted(out, text_.View());
      return out;
    }
    case TIEType::dtVariable:
      return "?" + text_.Str();
    case TIEType::dtMultiVariable:
      return "$?" + text_.Str();
    case TIEType::dtInteger:
      return std::to_string(payload_.integer);
    case TIEType::dtFactId:
      return "<Fact-" + std::to_string(payload_.integer) + ">";
    case TIEType::dtFloat:
      return FormatFloat(payload_.real);
    case TIEType::dtFunCall:
      return payload_.counted != nullptr ? AsFunCall()->ToString() : std::string();
    case TIEType::dtFact:
      return payload_.counted != nullptr ? AsFact()->ToString() : std::string();
    case TIEType::dtList:
      return payload_.counted != nullptr ? AsList()->ToString() : std::string();
    case TIEType::dtSingletons:
      return payload_.counted != nullptr ? AsSingletons()->ToString() : std::string();
    case TIEType::dtFuzzy:
      return payload_.counted != nullptr ? AsFuzzy()->ToString() : std::string();
    case TIEType::dtObject:
      return ObjectText(ObjectOrNull());
    case TIEType::dtClass:
      return ClassText(payload_.cls);
    case TIEType::dtExternalAddress:
      return "<External-Address: " +
             std::to_string(reinterpret_cast<std::uintptr_t>(payload_.address)) + ">";
    case TIEType::dtDescriptor:
      return "<UNKNOWN>";
  }
  return "<UNKNOWN>";
}

bool TIEValue::HashPrinted(std::uint32_t& h) const {
  char digits[16];
  switch (dtype_) {
    case TIEType::dtNone:
      return true;
    case TIEType::dtAtom:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      h = ContinueHash(h, text_.View());
      return true;
    case TIEType::dtString: {
      // As AppendQuoted writes it.
      h = ContinueHash(h, "\"");
      for (const char c : text_.View()) {
        if (c == '\\' || c == '"') {
          h = ContinueHash(h, "\\");
        }
        h = ContinueHash(h, std::string_view(&c, 1));
      }
      h = ContinueHash(h, "\"");
      return true;
    }
    case TIEType::dtVariable:
      h = ContinueHash(ContinueHash(h, "?"), text_.View());
      return true;
    case TIEType::dtMultiVariable:
      h = ContinueHash(ContinueHash(h, "$?"), text_.View());
      return true;
    case TIEType::dtInteger:
      h = ContinueHash(h, DecimalInto(digits, payload_.integer));
      return true;
    case TIEType::dtFactId:
      h = ContinueHash(ContinueHash(ContinueHash(h, "<Fact-"), DecimalInto(digits, payload_.integer)),
                       ">");
      return true;
    case TIEType::dtFloat: {
      char buf[400];
      h = ContinueHash(h, FormatFloatInto(buf, payload_.real));
      return true;
    }
    case TIEType::dtDescriptor:
      h = ContinueHash(h, "<UNKNOWN>");
      return true;
    default:
      return false;
  }
}

}  // namespace zephro
