#pragma once

// TIEDefinedType: a named set of admissible values, declared with `deftype`
// or made on the fly for a template slot's inline qualifiers.
//
//   (deftype colour "paint" extends (type SYMBOL) (allowed-symbols red green))
//   (deftype percent extends (type INTEGER FLOAT) (range 0 100) (units "%"))
//   (deftype small extends (type percent) (range 0 10))
//   (slot age (type INTEGER) (range 0 150))     ; an implicit type, "implicit"
//
// A type admits a value when the value's kind is one of its base kinds (or
// is known only later: a variable, a call), when an allowed-value list of the
// value's kind is in force and holds the value, when a limited range holds a
// number, and when a limited cardinality holds a multifield's length (whose
// elements are then checked one by one).
//
// Inheritance: a type that extends another checks what it declares itself
// and, for each check it leaves open (the range, the cardinality, each
// allowed-value list), its nearest ancestor's. So `small` above admits 0..10
// and `percent` 0..100; a child that lists FLOAT beside an INTEGER ancestor
// widens the kinds, since the base kinds are the union of both.
//
// Allowed values keep declaration order; membership is by equal text (atoms,
// strings, letter case counts) or equal value (numbers), a linear scan for a
// few values and a hash lookup once a list is longer than kHashedFrom.
//
// Changes fire OnChange, once per outermost BeginUpdate/EndUpdate pair.
//
// A FUZZY type has a fuzzy variable (universe, units, terms, see
// fuzzy_value.h): its own once declared, else its ancestor's. Its values
// are fuzzy sets of that variable (or of none, such as a shape's) lying in
// its universe; words, numbers and singletons pass too, as what the engine
// turns into such sets.
//
// Ownership: reference counted. The engine's defined-type collection holds
// named types, slots hold implicit ones, and a child holds its ancestor.
// Thread safety: the count is atomic; nothing else is guarded.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "zephro/platform/enum_set.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/types.h"

namespace zephro {

using TValueConstraints = EnumSet<TValueConstraint>;

// Hashes a float so that 0.0 and -0.0, which compare equal, meet.
struct THashFloat {
  std::size_t operator()(double d) const noexcept { return std::hash<double>()(d + 0.0); }
};

// Hashes texts so that a set of strings can be searched with a string_view.
struct THashText {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>()(text);
  }
};

// Allowed values of one kind, in declaration order, with a hash index built
// once the list is long enough for it to pay.
template <typename T, typename Hash = std::hash<T>>
class TAllowedValues {
 public:
  static constexpr std::size_t kHashedFrom = 8;

  const std::vector<T>& Items() const noexcept { return items_; }
  std::size_t Count() const noexcept { return items_.size(); }
  template <typename K>
  bool Contains(const K& item) const {
    if (!index_.empty()) {
      return index_.find(item) != index_.end();
    }
    for (const T& held : items_) {
      if (held == item) {
        return true;
      }
    }
    return false;
  }
  template <typename K>
  void Add(const K& item) {
    items_.emplace_back(item);
    if (!index_.empty()) {
      index_.insert(items_.back());
    } else if (items_.size() >= kHashedFrom) {
      Reindex();
    }
  }
  template <typename K>
  bool Remove(const K& item) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i] == item) {
        Delete(i);
        return true;
      }
    }
    return false;
  }
  void Delete(std::size_t index);
  void Clear() noexcept;
  bool operator==(const TAllowedValues& other) const { return items_ == other.items_; }

 private:
  void Reindex();
  std::vector<T> items_;
  std::unordered_set<T, Hash, std::equal_to<>> index_;  // empty below kHashedFrom
};

class TIEDefinedType final : public IIEDefinedType {
 public:
  using TChangeEvent = std::function<void(TIEDefinedType& sender)>;

  static constexpr double kInitialMaxRange = 2147483647.0;
  static constexpr double kInitialMinRange = -2147483648.0;
  static constexpr std::int32_t kInitialMaxCardinality = std::numeric_limits<std::int32_t>::max();
  static constexpr std::int32_t kInitialMinCardinality = 0;

  // An implicit type (named "implicit") of no kinds, owned by `reasoner`
  // (null for a free-standing type).
  explicit TIEDefinedType(IFactEnvironment* reasoner = nullptr);
  // A named type.
  TIEDefinedType(std::string_view name, IFactEnvironment* reasoner = nullptr);

  // --- identity --------------------------------------------------------------
  const std::string& TypeName() const noexcept override { return name_; }
  void SetName(std::string_view name);
  const std::string& Comment() const noexcept { return comment_; }
  void SetComment(std::string_view comment);
  const std::string& Units() const noexcept { return units_; }
  void SetUnits(std::string_view units);
  std::int32_t Tag() const noexcept { return tag_; }
  void SetTag(std::int32_t tag) noexcept { tag_ = tag; }
  // The engine that owns the type; null once it has been removed from it.
  IFactEnvironment* Reasoner() const noexcept { return reasoner_; }
  void SetReasoner(IFactEnvironment* reasoner) noexcept { reasoner_ = reasoner; }
  bool Implicit() const noexcept override { return implicit_; }
  void SetImplicit(bool implicit);

  // --- kinds and ancestry ----------------------------------------------------
  TIETypes BaseTypes() const noexcept { return base_types_; }
  // Keeps the kinds a slot may hold (and FUZZY); FUZZY with any other of them
  // raises "Cannot mix fuzzy type with other primitive types".
  void SetBaseTypes(TIETypes types);
  TIETypes PrimitiveTypes() const override { return base_types_; }
  // A slot telling its kinds: a slot's own type (named "implicit") takes
  // them; a named type, shared by every slot that names it, keeps its own.
  void SetPrimitiveTypes(TIETypes types) override;
  IIEDefinedType* Ancestor() const noexcept override { return ancestor_.get(); }
  // Raises "Type inheritance loop detected, ..." when `parent` descends from
  // this type; otherwise sets it, and the type is no longer Implicit. (A
  // slot's type that refines a named one keeps the name "implicit", which is
  // what makes the slot print it inline.)
  void SetAncestor(Ref<IIEDefinedType> parent);

  // --- range and cardinality -------------------------------------------------
  double MinRange() const noexcept { return min_range_; }
  double MaxRange() const noexcept { return max_range_; }
  void SetMinRange(double value);
  void SetMaxRange(double value);
  bool RangeLimited() const noexcept { return range_limited_; }
  void SetRangeLimited(bool limited);
  std::int32_t MinCardinality() const noexcept { return min_cardinality_; }
  std::int32_t MaxCardinality() const noexcept { return max_cardinality_; }
  void SetMinCardinality(std::int32_t value);
  void SetMaxCardinality(std::int32_t value);
  bool CardinalityLimited() const noexcept { return cardinality_limited_; }
  void SetCardinalityLimited(bool limited);

  // --- allowed values --------------------------------------------------------
  // The allowed-value lists in force.
  TValueConstraints Constraints() const noexcept { return constraints_; }
  void SetConstraints(TValueConstraints kinds);
  // The list a value goes to: its own kind's, or the floats' for an integer
  // when only floats are in force. Raises "Defined Type %s cannot contain %s
  // constraint types" for a value that is no atom, string or number.
  TValueConstraint GetValueConstraint(const IIEValue& value) const;
  // Appends `value` to the list GetValueConstraint names.
  void AddConstraint(const IIEValue& value);
  // Takes `value` out of its list; false when it was not there.
  bool RemoveConstraint(const IIEValue& value);
  // Deletes the item at `index` of the `kind` list; raises "Defined Type %s
  // does not have %s constraints" for an index outside it.
  void DeleteConstraint(int index, TValueConstraint kind);
  void ClearConstraint(TValueConstraint kind);
  void ClearConstraints(TValueConstraints kinds);
  void ClearConstraints();
  int GetConstraintAtomsCount() const noexcept { return static_cast<int>(atoms_.Count()); }
  const std::string& GetConstraintAtom(int i) const { return atoms_.Items().at(Index(i)); }
  int GetConstraintStringsCount() const noexcept { return static_cast<int>(strings_.Count()); }
  const std::string& GetConstraintString(int i) const { return strings_.Items().at(Index(i)); }
  int GetConstraintIntegersCount() const noexcept { return static_cast<int>(integers_.Count()); }
  std::int32_t GetConstraintInteger(int i) const { return integers_.Items().at(Index(i)); }
  int GetConstraintFloatsCount() const noexcept { return static_cast<int>(floats_.Count()); }
  double GetConstraintFloat(int i) const { return floats_.Items().at(Index(i)); }
  // True when `value` is in the list of its constraint kind (named in
  // *kind); false for a value of no list.
  bool IsConstraint(const IIEValue& value, TValueConstraint* kind = nullptr) const;

  // --- checking --------------------------------------------------------------
  bool IsValid(const IIEValue* value) const override;
  // "Value "<text>" is not valid, <reason>", or "" for a valid value.
  std::string GetInvalidValueString(const IIEValue& value) const override;
  // The value's text as the explanations quote it.
  static std::string GetValueToString(const IIEValue& value);
  Ref<IIEValue> CreateValidDefault(bool multislot) const override;

  // --- fuzzy ------------------------------------------------------------------
  bool IsFuzzy() const noexcept { return base_types_.Contains(TIEType::dtFuzzy); }
  // The variable of a FUZZY type: its own, else its nearest ancestor's;
  // null for other types and for a fuzzy type that declares none.
  TIEFuzzyVariable* FuzzyVariable() const noexcept;
  // This type's own variable, made (named after the type) when missing.
  TIEFuzzyVariable& EditFuzzyVariable();
  // This type's own variable, or null.
  TIEFuzzyVariable* OwnFuzzyVariable() const noexcept { return fuzzy_variable_.get(); }

  // --- comparison, copies, text -----------------------------------------------
  // Same kinds, bounds, flags, ancestor and allowed values (names, comments
  // and units aside).
  bool Equals(const TIEDefinedType& other) const;
  bool ConstraintsEqual(const TIEDefinedType& other) const;
  // Copies every field but the reasoner and the change handler.
  void Assign(const TIEDefinedType& source);
  void AssignTo(TIEDefinedType& target) const { target.Assign(*this); }
  Ref<TIEDefinedType> Clone() const;
  // The type in deftype syntax (see type_printer.h).
  std::string ToString() const override;
  std::string OwnTypeText() const override;

  // --- notification -----------------------------------------------------------
  TChangeEvent OnChange;
  void BeginUpdate() noexcept { ++updating_; }
  void EndUpdate();

 private:
  ~TIEDefinedType() override = default;

  struct TEffective;
  TEffective Resolve() const;
  bool ValidSingle(const IIEValue& value, const TEffective& effective, std::string* reason) const;
  bool Check(const IIEValue& value, std::string* reason) const;
  void Changed();
  // Sets `field` and tells OnChange when the value differs.
  template <class T, class V>
  void Update(T& field, const V& value);
  // The allowed-value list a value of `kind` is looked up in, given the lists
  // `in_force` (an integer goes to the floats when only they are listed);
  // false for a kind that has no list.
  static bool ListFor(TIEType kind, TValueConstraints in_force, TValueConstraint* list);
  // Calls `visit` with the list of `kind` of `self` (const or not).
  template <class Self, class F>
  static decltype(auto) WithList(Self& self, TValueConstraint kind, F&& visit);
  static std::size_t Index(int i) { return static_cast<std::size_t>(i); }

  TIETypes base_types_;
  std::string name_;
  double max_range_ = kInitialMaxRange;
  double min_range_ = kInitialMinRange;
  std::int32_t max_cardinality_ = kInitialMaxCardinality;
  std::int32_t min_cardinality_ = kInitialMinCardinality;
  Ref<TIEFuzzyVariable> fuzzy_variable_;
  TValueConstraints constraints_;
  TAllowedValues<std::string, THashText> atoms_;
  TAllowedValues<std::string, THashText> strings_;
  TAllowedValues<std::int32_t> integers_;
  TAllowedValues<double, THashFloat> floats_;
  IFactEnvironment* reasoner_ = nullptr;  // not owned
  bool range_limited_ = false;
  bool cardinality_limited_ = false;
  bool implicit_ = true;
  Ref<IIEDefinedType> ancestor_;
  std::string comment_;
  std::string units_;
  std::int32_t tag_ = 0;
  int updating_ = 0;
  bool changed_ = false;
};

// The items of the `kind` list of `type`, each followed by one blank: atoms
// bare, strings quoted, integers in decimal, floats "%.4f".
std::string ConstraintToString(const TIEDefinedType& type, TValueConstraint kind);
// `text` followed by the allowed-value clauses in force, each starting with
// `indent` and ending with `line_break`.
std::string GetAllowedString(const TIEDefinedType& type, std::string text, std::string_view indent,
                             std::string_view line_break);

}  // namespace zephro
