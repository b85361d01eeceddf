#include "rules/folded_list.h"

#include <string>
#include <typeinfo>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"

namespace zephro {

Ref<IValueVector> TFoldedList::Fold(const Ref<IValueVector>& list, std::int32_t at,
                                    std::int32_t length) {
  const TFoldedList* folded = Of(*list);
  if (folded != nullptr && folded->whole_) {
    return Fold(Ref<IValueVector>(folded->whole_.get()), at, length);  // it is a plain list now
  }
  // Each fold nests the source's lists one level deeper: where that could
  // pass the limit, the copy decides.
  if (list->Depth() >= kMaxNesting || at < 0 || length < 0 || at + length > list->ValueCount()) {
    return nullptr;
  }
  if (folded == nullptr) {
    return Ref<IValueVector>(new TFoldedList(list, {TFold{at, at, length}}));
  }
  // A later segment of a list folded before: it starts past the segments
  // folded so far, each of which stands for its length in the source.
  std::int32_t shift = 0;
  for (const TFold& f : folded->folds_) {
    if (f.at >= at) {
      return nullptr;
    }
    shift += f.length - 1;
  }
  std::vector<TFold> folds = folded->folds_;
  folds.push_back(TFold{at, at + shift, length});
  return Ref<IValueVector>(new TFoldedList(folded->source_, std::move(folds)));
}

const TFoldedList* TFoldedList::Of(const IValueVector& list) noexcept {
  return typeid(list) == typeid(TFoldedList) ? static_cast<const TFoldedList*>(&list) : nullptr;
}

TFoldedList::TFoldedList(Ref<IValueVector> source, std::vector<TFold> folds)
    : source_(std::move(source)),
      items_(source_->Values()),
      folds_(std::move(folds)),
      segments_(folds_.size()),
      count_(source_->ValueCount()),
      depth_(source_->Depth() + 1) {
  for (const TFold& f : folds_) {
    count_ -= f.length - 1;
  }
}

IIEValue* TFoldedList::Segment(std::size_t fold) const {
  Ref<IIEValue>& made = segments_[fold];
  if (!made) {
    const TFold& f = folds_[fold];
    const auto from = items_.begin() + f.start;
    made = MakeRef<TIEValue>(Ref<IValueVector>(
        MakeRef<TValueVector>(std::vector<Ref<IIEValue>>(from, from + f.length))));
  }
  return made.get();
}

IIEValue* TFoldedList::Get(int index) const {
  if (whole_) {
    return whole_->Get(index);
  }
  if (index < 0 || index >= count_) {
    RaiseIE(SBadArgument, ("list index out of bounds (" + std::to_string(index) + ")").c_str());
  }
  std::int32_t shift = 0;
  for (std::size_t k = 0; k < folds_.size(); ++k) {
    const TFold& f = folds_[k];
    if (index < f.at) {
      break;
    }
    if (index == f.at) {
      return Segment(k);
    }
    shift += f.length - 1;
  }
  return items_[static_cast<std::size_t>(index + shift)].get();
}

TValueVector& TFoldedList::Whole() const {
  if (!whole_) {
    std::vector<Ref<IIEValue>> values;
    values.reserve(static_cast<std::size_t>(count_));
    for (int i = 0; i < count_; ++i) {
      values.emplace_back(Get(i));
    }
    auto whole = MakeRef<TValueVector>(std::move(values));
    whole->SetTag(tag_);
    whole_ = std::move(whole);
    segments_.clear();
  }
  return *whole_;
}

std::span<const Ref<IIEValue>> TFoldedList::Values() const noexcept { return Whole().Values(); }

void TFoldedList::Put(int index, Ref<IIEValue> value) { Whole().Put(index, std::move(value)); }

int TFoldedList::Add(Ref<IIEValue> value) {
  const int at = Whole().Add(std::move(value));
  count_ = whole_->ValueCount();
  depth_ = whole_->Depth();
  return at;
}

void TFoldedList::Insert(int index, Ref<IIEValue> value) {
  Whole().Insert(index, std::move(value));
  count_ = whole_->ValueCount();
  depth_ = whole_->Depth();
}

void TFoldedList::Delete(int index) {
  Whole().Delete(index);
  count_ = whole_->ValueCount();
}

void TFoldedList::Clear() {
  Whole().Clear();
  count_ = 0;
}

int TFoldedList::IndexOf(const IIEValue* value) const { return Whole().IndexOf(value); }

int TFoldedList::Remove(const IIEValue* value) {
  const int at = Whole().Remove(value);
  count_ = whole_->ValueCount();
  return at;
}

IIEValue* TFoldedList::First() const { return count_ > 0 ? Get(0) : Whole().First(); }

IIEValue* TFoldedList::Last() const { return count_ > 0 ? Get(count_ - 1) : Whole().Last(); }

void TFoldedList::Append(const IValueVector& other) {
  Whole().Append(other);
  count_ = whole_->ValueCount();
  depth_ = whole_->Depth();
}

void TFoldedList::Assign(const IValueVector& other) {
  Whole().Assign(other);
  count_ = whole_->ValueCount();
  depth_ = whole_->Depth();
  tag_ = whole_->Tag();
}

Ref<IValueVector> TFoldedList::Clone() const { return Whole().Clone(); }

bool TFoldedList::Equals(const IValueVector* other) const { return Whole().Equals(other); }

std::int32_t TFoldedList::GetHashCode() const { return Whole().GetHashCode(); }

std::string TFoldedList::ToString() const { return Whole().ToString(); }

std::int32_t TFoldedList::Tag() const noexcept { return whole_ ? whole_->Tag() : tag_; }

void TFoldedList::SetTag(std::int32_t tag) {
  tag_ = tag;
  if (whole_) {
    whole_->SetTag(tag);
  }
}

}  // namespace zephro
