#pragma once

// The root of the engine's object model: TObject, and the run-time description of its
// classes (TClassInfo) with their published properties (TPropertyInfo), which can be
// listed, read and written by name.
//
// A class takes part by naming itself: ZEPHRO_DECLARE_CLASS(TFoo, TParent) at the top
// of its body and ZEPHRO_DEFINE_CLASS(TFoo) in its .cc (class_registry.h), which also
// lists its published properties. A class without the pair reports the class
// description of its nearest declared ancestor.
//
// Ownership: class and property descriptions are created while the program starts and
// are never destroyed, so pointers and references to them never dangle. A TObject owns
// nothing of its own but a reference to its liveness block, made only when a weak
// handle is taken (weak_object.h); it is neither copyable nor movable (TPersistent
// copies with Assign).
//
// Thread safety: descriptions are filled during static initialisation and only read
// afterwards, from any thread. Getting or setting a property is as safe as calling the
// property's getter or setter.

#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <variant>
#include <vector>

namespace zephro {

class TClassInfo;
class TComponent;
class TLiveness;

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  // Ends the object's liveness (weak_object.h) if nothing ended it before.
  virtual ~TObject();

  // The description of TObject itself.
  static const TClassInfo& StaticClass();
  // The description of the object's own (most derived declared) class.
  virtual const TClassInfo& ClassType() const { return StaticClass(); }
  const std::string& ClassName() const;
  // True when the object's class is `ancestor` or descends from it.
  bool InheritsFrom(const TClassInfo& ancestor) const;

  // The block that weak handles to the object share (weak_object.h), made on the
  // first request. Once the object's liveness has ended the block reads null.
  TLiveness& Liveness() const;

 protected:
  // Tells every weak handle that the object is gone: from now on they read null.
  // Runs at most once; ~TObject calls it, and classes whose freeing begins before
  // their destructors run (TComponent) call it earlier.
  void EndLiveness() noexcept;

 private:
  static TLiveness& EndedLiveness() noexcept;

  // One reference held; null until a handle is first taken. The only state a
  // TObject has, so that objects nobody takes a handle to pay one pointer.
  mutable TLiveness* liveness_ = nullptr;
};

// In the body of every class of the model, before any member; opens a public section.
// Declares the class's description, its ClassType() override and `Inherited`, the
// direct parent class.
#define ZEPHRO_DECLARE_CLASS(Class, Parent)                \
 public:                                                   \
  using Inherited = Parent;                                \
  static const ::zephro::TClassInfo& StaticClass();        \
  const ::zephro::TClassInfo& ClassType() const override { \
    return StaticClass();                                  \
  }

// What a published property holds. Values cross the property interface as
// TPropertyValue:
//   kInteger      std::int64_t
//   kFloat        double (an integer is accepted when setting)
//   kString       std::string
//   kEnumeration  std::string, the name of the value; setting also accepts the ordinal
//                 as std::int64_t. A bool is the enumeration "False", "True".
//   kSet          std::string, the member names in ordinal order, separated by commas
//                 inside square brackets ("[a,c]"); setting accepts the same text, with
//                 or without brackets, or the member bits as std::int64_t.
//   kClass        TObject* (not owned; may be null; std::monostate also sets null)
//   kMethod       an event handler; it has no value (see TPropertyInfo::SwapHandlers)
enum class TPropertyKind : std::uint8_t {
  kInteger,
  kFloat,
  kString,
  kEnumeration,
  kSet,
  kClass,
  kMethod,
};
inline constexpr const char* kPropertyKindNames[] = {
    "Integer", "Float", "String", "Enumeration", "Set", "Class", "Method",
};
static_assert(std::size(kPropertyKindNames) ==
              static_cast<std::size_t>(TPropertyKind::kMethod) + 1);
inline const char* PropertyKindName(TPropertyKind kind) {
  return kPropertyKindNames[static_cast<std::size_t>(kind)];
}

using TPropertyValue = std::variant<std::monostate, std::int64_t, double, std::string, TObject*>;

// One published property of a class: a name, a kind and typed access to the object.
// Created by a class definition (class_registry.h); owned by its class description.
class TPropertyInfo {
 public:
  // Raw accessors work on the property's natural value: enumerations as their ordinal
  // and sets as their member bits (std::int64_t); all other kinds as TPropertyValue
  // lists them. The object passed in always inherits from the declaring class.
  using TRawGetter = std::function<TPropertyValue(const TObject& object)>;
  using TRawSetter =
      std::function<void(const TPropertyInfo& self, TObject& object, const TPropertyValue& raw)>;
  using TSwapper = std::function<void(TObject& a, TObject& b)>;

  struct TParts {
    std::string name{};
    TPropertyKind kind = TPropertyKind::kInteger;
    const TClassInfo* declaring_class = nullptr;
    // Enumeration values or set members, by ordinal.
    std::vector<std::string> element_names{};
    // kClass: the class a referenced object must inherit from.
    const TClassInfo* property_class = nullptr;
    TRawGetter get{};
    TRawSetter set{};  // empty: read-only
    TSwapper swap{};   // kMethod only
    // kMethod only: the type of the handler, where an object holds it and how
    // two handlers of that type are exchanged, so that events of different
    // classes with handlers of one type can exchange them.
    const std::type_info* handler_type = nullptr;
    std::function<void*(TObject& object)> handler_address{};
    void (*swap_at)(void* a, void* b) = nullptr;
  };
  explicit TPropertyInfo(TParts parts);

  const std::string& Name() const { return parts_.name; }
  TPropertyKind Kind() const { return parts_.kind; }
  const TClassInfo& DeclaringClass() const { return *parts_.declaring_class; }
  const std::vector<std::string>& ElementNames() const { return parts_.element_names; }
  const TClassInfo* PropertyClass() const { return parts_.property_class; }
  bool IsReadOnly() const { return !parts_.set; }

  // Reads the property of `object` in the form TPropertyValue describes. Raises
  // EBaseException for a method property or an object of another class.
  TPropertyValue Get(const TObject& object) const;
  // Writes the property. Raises EBaseException when the property is read-only or a
  // method, the value has the wrong form, names no element, is out of the range of the
  // property's type or (kClass) references an object of the wrong class.
  void Set(TObject& object, const TPropertyValue& value) const;
  // kMethod: exchanges the handlers of two objects that both inherit the declaring
  // class. Raises EBaseException otherwise.
  void SwapHandlers(TObject& a, TObject& b) const;
  // kMethod: true when `other` is an event whose handlers have the type of this
  // one's, whatever class declares it.
  bool SameHandlerType(const TPropertyInfo& other) const;
  // kMethod: exchanges the handler of `a` for event `other`'s handler of `b`;
  // `a` inherits this event's declaring class, `b` other's. Raises
  // EBaseException when either is no event, an object is of the wrong class or
  // the handler types differ.
  void SwapHandlers(TObject& a, const TPropertyInfo& other, TObject& b) const;

 private:
  void CheckObject(const TObject& object) const;
  TPropertyValue Normalize(const TPropertyValue& value) const;
  std::int64_t OrdinalOf(const TPropertyValue& value) const;
  std::uint64_t SetBitsOf(const TPropertyValue& value) const;
  std::string ElementName(std::int64_t ordinal) const;
  std::string SetText(std::uint64_t bits) const;
  [[noreturn]] void RaiseInvalidValue() const;

  TParts parts_;
};

// Makes a new instance for a class: given an owner for component classes (which the
// new component then belongs to), ignored otherwise. Null for abstract classes and
// classes without a suitable constructor.
using TClassFactory = TObject* (*)(TComponent* owner);

// The description of one class: its name, its parent, how to make an instance and its
// published properties. Created and kept by the class registry (class_registry.h).
class TClassInfo {
 public:
  TClassInfo(std::string name, const TClassInfo* parent, TClassFactory factory);
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  const std::string& ClassName() const { return name_; }
  // The parent class, or nullptr for TObject.
  const TClassInfo* ClassParent() const { return parent_; }
  // True when this class is `ancestor` or descends from it.
  bool InheritsFrom(const TClassInfo& ancestor) const;

  bool CanCreate() const { return factory_ != nullptr; }
  // A new instance owned by the caller (a component class gets no owner). Raises
  // EBaseException when the class cannot make instances.
  std::unique_ptr<TObject> CreateInstance() const;
  // A new component owned by `owner`; the reference stays valid until the component
  // or its owner is freed. Raises EBaseException when this is not a component class or
  // it cannot make instances.
  TComponent& CreateComponent(TComponent& owner) const;
  // As above with an owner that may be null: the new component then belongs to the
  // caller, who frees it.
  TComponent& CreateComponent(TComponent* owner) const;

  // The published property called `name` (case-insensitive), declared by this class
  // or an ancestor, the nearest first; nullptr when there is none.
  const TPropertyInfo* FindProperty(std::string_view name) const;
  // Every published property in declaration order, the ancestors' first. A property
  // redeclared by a descendant takes the place of the ancestor's.
  std::vector<const TPropertyInfo*> Properties() const;

  // Adds a property declared by this class; for class definitions while the program
  // starts.
  const TPropertyInfo& AddProperty(TPropertyInfo::TParts parts);

 private:
  const TPropertyInfo* FindDeclared(std::string_view name) const;

  std::string name_;
  const TClassInfo* parent_;  // not owned
  TClassFactory factory_;
  std::deque<TPropertyInfo> declared_;  // a deque keeps the addresses stable
};

// Reads the published property `name` of `object` (see TPropertyInfo::Get). Raises
// EBaseException when the object's class has no such property.
TPropertyValue GetPropValue(const TObject& object, std::string_view name);
// Writes the published property `name` of `object` (see TPropertyInfo::Set). Raises
// EBaseException when the object's class has no such property.
void SetPropValue(TObject& object, std::string_view name, const TPropertyValue& value);

// Raises the error of an object of class `actual` used where a `wanted` is required.
[[noreturn]] void RaiseCastError(const TClassInfo& actual, const TClassInfo& wanted);

// Raises the error of a property whose kind an operation cannot handle:
// "Invalid property type: <kind name>".
[[noreturn]] void RaisePropertyTypeError(TPropertyKind kind);

// A verified cast: nullptr stays nullptr; an object that is not a T raises
// EBaseException naming both classes.
template <class T>
T* CastObject(TObject* object) {
  if (object == nullptr) {
    return nullptr;
  }
  if (T* result = dynamic_cast<T*>(object)) {
    return result;
  }
  RaiseCastError(object->ClassType(), T::StaticClass());
}

}  // namespace zephro
