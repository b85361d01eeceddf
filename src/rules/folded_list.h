#pragma once

// TFoldedList: a multislot as a pattern's multifield variables see it, with
// each segment they take folded into one element, described instead of
// copied.
//
// Matching (data $? ?v $?) against a fact of n fields tries n ways of
// splitting it. Copying the fields for each would make that n * n work; a
// folded list holds the source list and where its folds are, so making one
// costs the same whatever n is. An element is read through the folds (a
// segment is made into a list of its own the first time it is read), and
// anything else a list can do first makes the whole folded list once and
// then works on it, so a folded list behaves as the copy would.
//
// The source list must not change while folded lists read it; the facts of
// working memory that matching splits do not.

#include <cstdint>
#include <span>
#include <vector>

#include "zephro/values/interfaces.h"
#include "zephro/values/value_vector.h"

namespace zephro {

class TFoldedList final : public IValueVector {
 public:
  // One segment: elements [start, start + length) of the source, which are
  // element `at` of the folded list.
  struct TFold {
    std::int32_t at;
    std::int32_t start;
    std::int32_t length;
  };

  // `list` with `length` elements from position `at` folded into one, or
  // null when that cannot be described (a fold before one already made, or
  // lists nested too deep to fold further): then the caller copies. `list`
  // may itself be a folded list.
  static Ref<IValueVector> Fold(const Ref<IValueVector>& list, std::int32_t at,
                                std::int32_t length);
  // `list` as a folded list when it is one.
  static const TFoldedList* Of(const IValueVector& list) noexcept;

  int ValueCount() const noexcept override { return count_; }
  IIEValue* Get(int index) const override;
  std::span<const Ref<IIEValue>> Values() const noexcept override;
  void Put(int index, Ref<IIEValue> value) override;
  int Add(Ref<IIEValue> value) override;
  void Insert(int index, Ref<IIEValue> value) override;
  void Delete(int index) override;
  void Clear() override;
  int IndexOf(const IIEValue* value) const override;
  int Remove(const IIEValue* value) override;
  IIEValue* First() const override;
  IIEValue* Last() const override;
  void Append(const IValueVector& other) override;
  void Assign(const IValueVector& other) override;
  Ref<IValueVector> Clone() const override;
  bool Equals(const IValueVector* other) const override;
  std::int32_t GetHashCode() const override;
  std::string ToString() const override;
  std::int32_t Tag() const noexcept override;
  void SetTag(std::int32_t tag) override;
  int Depth() const noexcept override { return depth_; }

 private:
  TFoldedList(Ref<IValueVector> source, std::vector<TFold> folds);
  // The folded list made whole, once; from then on it is the list.
  TValueVector& Whole() const;
  IIEValue* Segment(std::size_t fold) const;

  Ref<IValueVector> source_;
  std::span<const Ref<IIEValue>> items_;  // the source's elements
  std::vector<TFold> folds_;              // in order of `at`
  mutable std::vector<Ref<IIEValue>> segments_;  // by fold, made when read
  mutable Ref<TValueVector> whole_;
  std::int32_t count_ = 0;
  std::int32_t tag_ = 0;
  int depth_ = 1;
};

}  // namespace zephro
