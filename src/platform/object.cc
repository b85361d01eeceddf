#include "zephro/platform/object.h"

#include <algorithm>
#include <limits>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/weak_object.h"

#include "platform/ascii.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TObject);

// The block of every object whose liveness ended before a handle was taken: one
// shared, never freed, always reading null, so that ending costs no allocation.
TLiveness& TObject::EndedLiveness() noexcept {
  static TLiveness* const ended = [] {
    auto* block = new TLiveness(nullptr);
    block->MakeImmortal();
    return block;
  }();
  return *ended;
}

TObject::~TObject() {
  EndLiveness();
  liveness_->Release();
}

TLiveness& TObject::Liveness() const {
  if (liveness_ == nullptr) {
    liveness_ = new TLiveness(const_cast<TObject*>(this));
    liveness_->AddRef();
  }
  return *liveness_;
}

void TObject::EndLiveness() noexcept {
  if (liveness_ == nullptr) {
    liveness_ = &EndedLiveness();
  } else {
    liveness_->object_ = nullptr;
  }
}

const std::string& TObject::ClassName() const {
  return ClassType().ClassName();
}

bool TObject::InheritsFrom(const TClassInfo& ancestor) const {
  return ClassType().InheritsFrom(ancestor);
}

void RaiseCastError(const TClassInfo& actual, const TClassInfo& wanted) {
  RaisePlatformError("Cannot cast a %s to a %s", actual.ClassName().c_str(),
                     wanted.ClassName().c_str());
}

void RaisePropertyTypeError(TPropertyKind kind) {
  RaisePlatformError("Invalid property type: %s", PropertyKindName(kind));
}

// TClassInfo

TClassInfo::TClassInfo(std::string name, const TClassInfo* parent, TClassFactory factory)
    : name_(std::move(name)), parent_(parent), factory_(factory) {}

bool TClassInfo::InheritsFrom(const TClassInfo& ancestor) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent_) {
    if (c == &ancestor) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<TObject> TClassInfo::CreateInstance() const {
  if (factory_ == nullptr) {
    RaisePlatformError("Cannot create an instance of %s", name_.c_str());
  }
  return std::unique_ptr<TObject>(factory_(nullptr));
}

TComponent& TClassInfo::CreateComponent(TComponent& owner) const {
  return CreateComponent(&owner);
}

TComponent& TClassInfo::CreateComponent(TComponent* owner) const {
  if (!InheritsFrom(TComponent::StaticClass())) {
    RaisePlatformError("%s is not a component class", name_.c_str());
  }
  if (factory_ == nullptr) {
    RaisePlatformError("Cannot create an instance of %s", name_.c_str());
  }
  // The new component belongs to `owner` from its constructor on.
  return *static_cast<TComponent*>(factory_(owner));
}

const TPropertyInfo* TClassInfo::FindDeclared(std::string_view name) const {
  for (const TPropertyInfo& property : declared_) {
    if (SameText(property.Name(), name)) {
      return &property;
    }
  }
  return nullptr;
}

const TPropertyInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent_) {
    if (const TPropertyInfo* property = c->FindDeclared(name)) {
      return property;
    }
  }
  return nullptr;
}

std::vector<const TPropertyInfo*> TClassInfo::Properties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c != nullptr; c = c->parent_) {
    chain.push_back(c);
  }
  std::vector<const TPropertyInfo*> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const TPropertyInfo& property : (*it)->declared_) {
      auto same = std::find_if(result.begin(), result.end(), [&](const TPropertyInfo* p) {
        return SameText(p->Name(), property.Name());
      });
      if (same != result.end()) {
        *same = &property;
      } else {
        result.push_back(&property);
      }
    }
  }
  return result;
}

const TPropertyInfo& TClassInfo::AddProperty(TPropertyInfo::TParts parts) {
  return declared_.emplace_back(std::move(parts));
}

// TPropertyInfo

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

TPropertyInfo::TPropertyInfo(TParts parts) : parts_(std::move(parts)) {}

void TPropertyInfo::CheckObject(const TObject& object) const {
  if (!object.InheritsFrom(DeclaringClass())) {
    RaiseCastError(object.ClassType(), DeclaringClass());
  }
}

void TPropertyInfo::RaiseInvalidValue() const {
  RaisePlatformError("Invalid value for property %s", Name().c_str());
}

std::string TPropertyInfo::ElementName(std::int64_t ordinal) const {
  if (ordinal >= 0 && ordinal < static_cast<std::int64_t>(ElementNames().size())) {
    return ElementNames()[static_cast<std::size_t>(ordinal)];
  }
  return std::to_string(ordinal);
}

std::int64_t TPropertyInfo::OrdinalOf(const TPropertyValue& value) const {
  const auto count = static_cast<std::int64_t>(ElementNames().size());
  if (const auto* ordinal = std::get_if<std::int64_t>(&value)) {
    if (*ordinal < 0 || *ordinal >= count) {
      RaisePlatformError("Value %lld is out of range for property %s",
                         static_cast<long long>(*ordinal), Name().c_str());
    }
    return *ordinal;
  }
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) {
    RaiseInvalidValue();
  }
  const std::string_view name = Trim(*text);
  for (std::int64_t i = 0; i < count; ++i) {
    if (SameText(ElementNames()[static_cast<std::size_t>(i)], name)) {
      return i;
    }
  }
  RaisePlatformError("Property %s has no element %s", Name().c_str(), text->c_str());
}

std::string TPropertyInfo::SetText(std::uint64_t bits) const {
  std::string text = "[";
  for (std::size_t i = 0; i < ElementNames().size(); ++i) {
    if ((bits & (std::uint64_t{1} << i)) != 0) {
      if (text.size() > 1) {
        text += ',';
      }
      text += ElementNames()[i];
    }
  }
  text += ']';
  return text;
}

std::uint64_t TPropertyInfo::SetBitsOf(const TPropertyValue& value) const {
  const std::size_t count = ElementNames().size();
  const std::uint64_t all =
      count >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << count) - 1;
  if (const auto* bits = std::get_if<std::int64_t>(&value)) {
    const auto result = static_cast<std::uint64_t>(*bits);
    if ((result & ~all) != 0) {
      RaiseInvalidValue();
    }
    return result;
  }
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) {
    RaiseInvalidValue();
  }
  std::string_view rest = Trim(*text);
  if (rest.size() >= 2 && rest.front() == '[' && rest.back() == ']') {
    rest = rest.substr(1, rest.size() - 2);
  }
  std::uint64_t result = 0;
  while (!Trim(rest).empty()) {
    const std::size_t comma = rest.find(',');
    const std::string name(Trim(rest.substr(0, comma)));
    result |= std::uint64_t{1} << OrdinalOf(name);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return result;
}

TPropertyValue TPropertyInfo::Normalize(const TPropertyValue& value) const {
  switch (Kind()) {
    case TPropertyKind::kInteger:
      if (!std::holds_alternative<std::int64_t>(value)) {
        RaiseInvalidValue();
      }
      return value;
    case TPropertyKind::kFloat:
      if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return static_cast<double>(*integer);
      }
      if (!std::holds_alternative<double>(value)) {
        RaiseInvalidValue();
      }
      return value;
    case TPropertyKind::kString:
      if (!std::holds_alternative<std::string>(value)) {
        RaiseInvalidValue();
      }
      return value;
    case TPropertyKind::kEnumeration:
      return OrdinalOf(value);
    case TPropertyKind::kSet:
      return static_cast<std::int64_t>(SetBitsOf(value));
    case TPropertyKind::kClass: {
      if (std::holds_alternative<std::monostate>(value)) {
        return static_cast<TObject*>(nullptr);
      }
      const auto* object = std::get_if<TObject*>(&value);
      if (object == nullptr) {
        RaiseInvalidValue();
      }
      if (*object != nullptr && PropertyClass() != nullptr &&
          !(*object)->InheritsFrom(*PropertyClass())) {
        RaiseCastError((*object)->ClassType(), *PropertyClass());
      }
      return value;
    }
    case TPropertyKind::kMethod:
      break;
  }
  RaisePlatformError("Property %s of kind %s has no value", Name().c_str(),
                     PropertyKindName(Kind()));
}

TPropertyValue TPropertyInfo::Get(const TObject& object) const {
  CheckObject(object);
  if (Kind() == TPropertyKind::kMethod) {
    RaisePlatformError("Property %s of kind %s has no value", Name().c_str(),
                       PropertyKindName(Kind()));
  }
  TPropertyValue raw = parts_.get(object);
  if (Kind() == TPropertyKind::kEnumeration) {
    return ElementName(std::get<std::int64_t>(raw));
  }
  if (Kind() == TPropertyKind::kSet) {
    return SetText(static_cast<std::uint64_t>(std::get<std::int64_t>(raw)));
  }
  return raw;
}

void TPropertyInfo::Set(TObject& object, const TPropertyValue& value) const {
  CheckObject(object);
  const TPropertyValue raw = Normalize(value);
  if (IsReadOnly()) {
    RaisePlatformError("Property %s is read-only", Name().c_str());
  }
  parts_.set(*this, object, raw);
}

void TPropertyInfo::SwapHandlers(TObject& a, TObject& b) const {
  if (Kind() != TPropertyKind::kMethod) {
    RaisePlatformError("Property %s is not an event", Name().c_str());
  }
  CheckObject(a);
  CheckObject(b);
  parts_.swap(a, b);
}

bool TPropertyInfo::SameHandlerType(const TPropertyInfo& other) const {
  return Kind() == TPropertyKind::kMethod && other.Kind() == TPropertyKind::kMethod &&
         parts_.handler_type != nullptr && other.parts_.handler_type != nullptr &&
         *parts_.handler_type == *other.parts_.handler_type;
}

void TPropertyInfo::SwapHandlers(TObject& a, const TPropertyInfo& other, TObject& b) const {
  for (const TPropertyInfo* event : {this, &other}) {
    if (event->Kind() != TPropertyKind::kMethod) {
      RaisePlatformError("Property %s is not an event", event->Name().c_str());
    }
  }
  if (!SameHandlerType(other)) {
    RaisePlatformError("Events %s and %s cannot exchange handlers", Name().c_str(),
                       other.Name().c_str());
  }
  CheckObject(a);
  other.CheckObject(b);
  parts_.swap_at(parts_.handler_address(a), other.parts_.handler_address(b));
}

// By name

namespace {

const TPropertyInfo& PropertyOf(const TObject& object, std::string_view name) {
  if (const TPropertyInfo* property = object.ClassType().FindProperty(name)) {
    return *property;
  }
  const std::string text(name);
  RaisePlatformError("Class %s has no published property %s", object.ClassName().c_str(),
                     text.c_str());
}

}  // namespace

TPropertyValue GetPropValue(const TObject& object, std::string_view name) {
  return PropertyOf(object, name).Get(object);
}

void SetPropValue(TObject& object, std::string_view name, const TPropertyValue& value) {
  PropertyOf(object, name).Set(object, value);
}

}  // namespace zephro
