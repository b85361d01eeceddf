#pragma once

// The registry of classes by name, and the one-line definition of a class and of each
// of its published properties.
//
// In the .cc of a class declared with ZEPHRO_DECLARE_CLASS (object.h), inside the
// class's namespace:
//
//   ZEPHRO_DEFINE_CLASS(TGauge)
//       .Property("Level", &TGauge::Level, &TGauge::SetLevel)         // integer
//       .Property("Caption", &TGauge::Caption, nullptr)               // read-only
//       .Property("Style", &TGauge::Style, &TGauge::SetStyle, kStyleNames)
//       .Event("OnChange", &TGauge::OnChange);
//
// The definition creates the class description when the program starts, files it
// under the class name and adds the properties in the order written. A property's
// kind follows the type its getter returns: bool (an enumeration "False", "True"),
// char (a string of exactly one character), other integers of up to 64 bits,
// floating point, std::string or std::string_view, a scoped enum or an EnumSet (both
// with their element names, by ordinal), or a pointer to a TObject descendant. A
// getter is a const member function, a data member pointer or a callable taking
// `const T&`; a setter is a member function taking that type, a data member pointer,
// a callable taking `T&` and the value, or nullptr for a read-only property. An
// event is a data member holding a handler (std::function).
//
// A property with no member of its own to point at is published with callables:
//
//   ZEPHRO_DEFINE_CLASS(TTank)
//       .Property("Litres", [](const TTank& t) { return t.Millilitres() / 1000.0; },
//                 [](TTank& t, double litres) { t.Fill(litres * 1000); });
//
// Classes whose .cc is never linked into the program are not registered: a static
// library drops object files nothing refers to.
//
// Ownership: descriptions live for the life of the process.
// Thread safety: registering and finding classes is guarded by a lock; descriptions
// are complete once static initialisation is over.

#include <concepts>
#include <cstdint>
#include <functional>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "zephro/platform/enum_set.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/object.h"

namespace zephro {

// Creates the description of a class, files it under `name` (compared
// case-insensitively) and returns it. A second class under a name already filed keeps
// its description but cannot be found by name (debug builds stop on it).
TClassInfo& RegisterClass(std::string name, const TClassInfo* parent, TClassFactory factory);

// The class filed under `name` (case-insensitive), or nullptr.
const TClassInfo* FindClass(std::string_view name);

// As FindClass; raises EBaseException when no class is filed under `name`.
const TClassInfo& RequireClass(std::string_view name);

namespace class_detail {

template <class>
inline constexpr bool kAlwaysFalse = false;

template <class R>
struct IsEnumSet : std::false_type {};
template <class E>
struct IsEnumSet<EnumSet<E>> : std::true_type {};

template <class R>
inline constexpr bool kIsText =
    std::is_same_v<R, std::string> || std::is_same_v<R, std::string_view>;

template <class R>
inline constexpr bool kIsObjectPointer =
    std::conjunction_v<std::is_pointer<R>, std::is_base_of<TObject, std::remove_pointer_t<R>>>;

template <class R>
constexpr TPropertyKind KindOf() {
  if constexpr (std::is_same_v<R, bool> || std::is_enum_v<R>) {
    return TPropertyKind::kEnumeration;
  } else if constexpr (std::is_same_v<R, char>) {
    return TPropertyKind::kString;  // a text of one character
  } else if constexpr (std::is_integral_v<R>) {
    return TPropertyKind::kInteger;
  } else if constexpr (std::is_floating_point_v<R>) {
    return TPropertyKind::kFloat;
  } else if constexpr (kIsText<R>) {
    return TPropertyKind::kString;
  } else if constexpr (IsEnumSet<R>::value) {
    return TPropertyKind::kSet;
  } else if constexpr (kIsObjectPointer<R>) {
    static_assert(!std::is_const_v<std::remove_pointer_t<R>>,
                  "a class property refers to a non-const object");
    return TPropertyKind::kClass;
  } else {
    static_assert(kAlwaysFalse<R>, "this type cannot be published");
  }
}

// The property's natural value as TPropertyInfo's raw accessors carry it.
template <class R>
TPropertyValue ToRaw(const R& value) {
  if constexpr (std::is_same_v<R, bool>) {
    return std::int64_t{value ? 1 : 0};
  } else if constexpr (std::is_enum_v<R>) {
    return static_cast<std::int64_t>(static_cast<std::underlying_type_t<R>>(value));
  } else if constexpr (std::is_same_v<R, char>) {
    return std::string(1, value);
  } else if constexpr (std::is_integral_v<R>) {
    return static_cast<std::int64_t>(value);
  } else if constexpr (std::is_floating_point_v<R>) {
    return static_cast<double>(value);
  } else if constexpr (kIsText<R>) {
    return std::string(value);
  } else if constexpr (IsEnumSet<R>::value) {
    return static_cast<std::int64_t>(value.Bits());
  } else {
    return static_cast<TObject*>(value);
  }
}

// The value to hand the setter; `raw` is already in the form ToRaw produces.
template <class R>
auto FromRaw(const TPropertyInfo& property, const TPropertyValue& raw) {
  if constexpr (std::is_same_v<R, bool>) {
    return std::get<std::int64_t>(raw) != 0;
  } else if constexpr (std::is_enum_v<R>) {
    return static_cast<R>(static_cast<std::underlying_type_t<R>>(std::get<std::int64_t>(raw)));
  } else if constexpr (std::is_same_v<R, char>) {
    const std::string& text = std::get<std::string>(raw);
    if (text.size() != 1) {
      RaisePlatformError("Property %s holds one character, not \"%s\"", property.Name().c_str(),
                         text.c_str());
    }
    return text[0];
  } else if constexpr (std::is_integral_v<R>) {
    const std::int64_t value = std::get<std::int64_t>(raw);
    if (!std::in_range<R>(value)) {
      RaisePlatformError("Value %lld is out of range for property %s",
                         static_cast<long long>(value), property.Name().c_str());
    }
    return static_cast<R>(value);
  } else if constexpr (std::is_floating_point_v<R>) {
    return static_cast<R>(std::get<double>(raw));
  } else if constexpr (kIsText<R>) {
    return std::get<std::string>(raw);
  } else if constexpr (IsEnumSet<R>::value) {
    return R::FromBits(static_cast<std::uint64_t>(std::get<std::int64_t>(raw)));
  } else {
    using Pointee = std::remove_pointer_t<R>;
    TObject* object = std::get<TObject*>(raw);
    Pointee* result = dynamic_cast<Pointee*>(object);
    if (object != nullptr && result == nullptr) {
      RaiseCastError(object->ClassType(), Pointee::StaticClass());
    }
    return result;
  }
}

template <class T>
constexpr TClassFactory FactoryFor() {
  if constexpr (std::is_abstract_v<T>) {
    return nullptr;
  } else if constexpr (std::is_base_of_v<TComponent, T>) {
    if constexpr (std::is_constructible_v<T, TComponent*>) {
      // The owner's component list holds the new component from its constructor on.
      return [](TComponent* owner) -> TObject* { return new T(owner); };
    } else {
      return nullptr;
    }
  } else if constexpr (std::is_default_constructible_v<T>) {
    // The caller of the factory owns the new object.
    return [](TComponent*) -> TObject* { return new T(); };
  } else {
    return nullptr;
  }
}

}  // namespace class_detail

// Creates and files the description of T (used by ZEPHRO_DEFINE_CLASS).
template <class T>
TClassInfo& DefineClass(std::string name) {
  const TClassInfo* parent = nullptr;
  if constexpr (requires { typename T::Inherited; }) {
    static_assert(std::is_base_of_v<typename T::Inherited, T>, "Inherited is not a base");
    parent = &T::Inherited::StaticClass();
  }
  return RegisterClass(std::move(name), parent, class_detail::FactoryFor<T>());
}

// Adds published properties to the description of T; see the top of this file.
template <class T>
class TClassDefinition {
 public:
  explicit TClassDefinition(TClassInfo& info) : info_(info) {}
  operator const TClassInfo&() const { return info_; }  // NOLINT: implicit by design

  template <class Getter, class Setter = std::nullptr_t>
  TClassDefinition& Property(std::string name, Getter getter, Setter setter = nullptr) {
    using R = ValueType<Getter>;
    static_assert(!std::is_enum_v<R> && !class_detail::IsEnumSet<R>::value,
                  "enumeration and set properties are published with their element names");
    std::vector<std::string> names;
    if constexpr (std::is_same_v<R, bool>) {
      names = {"False", "True"};
    }
    return Add<R>(std::move(name), std::move(getter), std::move(setter), std::move(names));
  }

  // An enumeration or set property; `names` lists the elements by ordinal.
  template <class Getter, class Setter, std::ranges::input_range Names>
  TClassDefinition& Property(std::string name, Getter getter, Setter setter, const Names& names) {
    using R = ValueType<Getter>;
    static_assert(std::is_enum_v<R> || class_detail::IsEnumSet<R>::value,
                  "only enumeration and set properties take element names");
    std::vector<std::string> elements;
    for (const auto& element : names) {
      elements.emplace_back(std::string_view(element));
    }
    return Add<R>(std::move(name), std::move(getter), std::move(setter), std::move(elements));
  }

  // An event: a data member of T holding a handler.
  template <class Handler>
  TClassDefinition& Event(std::string name, Handler T::*member) {
    static_assert(std::is_member_object_pointer_v<Handler T::*>, "an event is a data member");
    info_.AddProperty({
        .name = std::move(name),
        .kind = TPropertyKind::kMethod,
        .declaring_class = &info_,
        .swap =
            [member](TObject& a, TObject& b) {
              using std::swap;
              swap(static_cast<T&>(a).*member, static_cast<T&>(b).*member);
            },
        .handler_type = &typeid(Handler),
        .handler_address = [member](TObject& object) -> void* {
          return &(static_cast<T&>(object).*member);
        },
        .swap_at =
            [](void* a, void* b) {
              using std::swap;
              swap(*static_cast<Handler*>(a), *static_cast<Handler*>(b));
            },
    });
    return *this;
  }

 private:
  template <class Getter>
  using ValueType = std::remove_cvref_t<std::invoke_result_t<const Getter&, const T&>>;

  template <class R, class Getter, class Setter>
  TClassDefinition& Add(std::string name, Getter getter, Setter setter,
                        std::vector<std::string> element_names) {
    constexpr TPropertyKind kind = class_detail::KindOf<R>();
    TPropertyInfo::TParts parts{
        .name = std::move(name),
        .kind = kind,
        .declaring_class = &info_,
        .element_names = std::move(element_names),
        .get =
            [getter](const TObject& object) {
              return class_detail::ToRaw<R>(std::invoke(getter, static_cast<const T&>(object)));
            },
    };
    if constexpr (kind == TPropertyKind::kClass) {
      parts.property_class = &std::remove_pointer_t<R>::StaticClass();
    }
    if constexpr (!std::is_null_pointer_v<Setter>) {
      parts.set = [setter](const TPropertyInfo& self, TObject& object, const TPropertyValue& raw) {
        T& target = static_cast<T&>(object);
        if constexpr (std::is_member_object_pointer_v<Setter>) {
          std::invoke(setter, target) = class_detail::FromRaw<R>(self, raw);
        } else {
          std::invoke(setter, target, class_detail::FromRaw<R>(self, raw));
        }
      };
    }
    info_.AddProperty(std::move(parts));
    return *this;
  }

  TClassInfo& info_;
};

}  // namespace zephro

// Defines the description of `Class` (declared with ZEPHRO_DECLARE_CLASS) and files it
// when the program starts; chain .Property(...) and .Event(...) after it. Write it in
// the .cc of the class, inside the class's namespace, with the unqualified class name.
#define ZEPHRO_DEFINE_CLASS(Class)                                            \
  static ::zephro::TClassInfo& zephro_class_info_##Class() {                  \
    static ::zephro::TClassInfo& info = ::zephro::DefineClass<Class>(#Class); \
    return info;                                                              \
  }                                                                           \
  const ::zephro::TClassInfo& Class::StaticClass() {                          \
    return zephro_class_info_##Class();                                       \
  }                                                                           \
  [[maybe_unused]] static const ::zephro::TClassInfo& zephro_class_##Class =  \
      ::zephro::TClassDefinition<Class>(zephro_class_info_##Class())
