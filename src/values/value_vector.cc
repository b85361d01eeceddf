#include "zephro/values/value_vector.h"

#include <algorithm>

#include "values/value_internal.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"

namespace zephro {
namespace {

// Two elements at one position match when both are null or strictly Equals.
bool ElementsMatch(const IIEValue* a, const IIEValue* b) {
  if (b == nullptr) {
    return a == nullptr;
  }
  return a != nullptr && a->Equals(b);
}

Ref<IIEValue> CloneOrNull(const IIEValue* v) { return v != nullptr ? v->Clone() : nullptr; }

}  // namespace

Ref<IValueVector> MakeValueVector() { return MakeRef<TValueVector>(); }

TValueVector::TValueVector(std::vector<Ref<IIEValue>> values)
    : IValueVector(TOwnMark<TValueVector>::Set()), values_(std::move(values)) {
  for (const Ref<IIEValue>& v : values_) {
    depth_ = DepthWith(v.get());
  }
}

int TValueVector::DepthWith(const IIEValue* value) const {
  if (value == nullptr || value->DType() != TIEType::dtList) {
    return depth_;
  }
  const IValueVector* list = value->AsList();
  if (list == nullptr) {
    return depth_;
  }
  const int depth = list->Depth() + 1;
  if (depth > kMaxNesting) {
    RaiseIE(SListTooDeep, kMaxNesting);
  }
  return std::max(depth_, depth);
}

void TValueVector::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    RaiseIE(SBadArgument, ("list index out of bounds (" + std::to_string(index) + ")").c_str());
  }
}

IIEValue* TValueVector::Get(int index) const {
  CheckIndex(index, ValueCount());
  return values_[static_cast<std::size_t>(index)].get();
}

void TValueVector::Put(int index, Ref<IIEValue> value) {
  CheckIndex(index, ValueCount());
  depth_ = DepthWith(value.get());
  values_[static_cast<std::size_t>(index)] = std::move(value);
}

int TValueVector::Add(Ref<IIEValue> value) {
  const int depth = DepthWith(value.get());
  values_.push_back(std::move(value));
  depth_ = depth;
  return ValueCount() - 1;
}

void TValueVector::Insert(int index, Ref<IIEValue> value) {
  CheckIndex(index, ValueCount() + 1);
  const int depth = DepthWith(value.get());
  values_.insert(values_.begin() + index, std::move(value));
  depth_ = depth;
}

void TValueVector::Delete(int index) {
  CheckIndex(index, ValueCount());
  values_.erase(values_.begin() + index);
}

int TValueVector::IndexOf(const IIEValue* value) const {
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (values_[i].get() == value) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TValueVector::Remove(const IIEValue* value) {
  int i = IndexOf(value);
  if (i >= 0) {
    values_.erase(values_.begin() + i);
  }
  return i;
}

IIEValue* TValueVector::First() const { return values_.empty() ? nullptr : values_.front().get(); }
IIEValue* TValueVector::Last() const { return values_.empty() ? nullptr : values_.back().get(); }

void TValueVector::Append(const IValueVector& other) {
  // Copy the handles first: `other` may be this vector.
  std::span<const Ref<IIEValue>> src = other.Values();
  int depth = depth_;
  for (const Ref<IIEValue>& v : src) {
    depth = std::max(depth, DepthWith(v.get()));
  }
  std::vector<Ref<IIEValue>> copy(src.begin(), src.end());
  values_.insert(values_.end(), std::make_move_iterator(copy.begin()),
                 std::make_move_iterator(copy.end()));
  depth_ = depth;
}

void TValueVector::Assign(const IValueVector& other) {
  if (&other == this) {
    return;
  }
  std::vector<Ref<IIEValue>> fresh;
  fresh.reserve(static_cast<std::size_t>(other.ValueCount()));
  for (const Ref<IIEValue>& v : other.Values()) {
    fresh.push_back(CloneOrNull(v.get()));
  }
  values_ = std::move(fresh);
  tag_ = other.Tag();
  depth_ = other.Depth();
}

Ref<IValueVector> TValueVector::Clone() const {
  Ref<TValueVector> copy = MakeRef<TValueVector>();
  copy->Assign(*this);
  return copy;
}

bool TValueVector::Equals(const IValueVector* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->ValueCount() != ValueCount()) {
    return false;
  }
  std::span<const Ref<IIEValue>> theirs = other->Values();
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (!ElementsMatch(values_[i].get(), theirs[i].get())) {
      return false;
    }
  }
  return true;
}

std::int32_t TValueVector::GetHashCode() const {
  std::uint32_t h = 0;
  for (const Ref<IIEValue>& v : values_) {
    if (v) {
      h += static_cast<std::uint32_t>(v->GetHashCode());
    }
  }
  return static_cast<std::int32_t>(h);
}

std::string TValueVector::ToString() const {
  std::string out;
  for (const Ref<IIEValue>& v : values_) {
    if (v) {
      out += v->ToString();
    }
    out += ' ';
  }
  return out;
}

// --- TSingletonsVector ------------------------------------------------------------

int TSingletonsVector::Add(Ref<IIEValue> x, Ref<IIEValue> y) {
  ys_.Add(std::move(y));
  return xs_.Add(std::move(x));
}

void TSingletonsVector::Insert(int index, Ref<IIEValue> x, Ref<IIEValue> y) {
  xs_.Insert(index, std::move(x));
  ys_.Insert(index, std::move(y));
}

void TSingletonsVector::Delete(int index) {
  xs_.Delete(index);
  ys_.Delete(index);
}

void TSingletonsVector::Clear() {
  xs_.Clear();
  ys_.Clear();
}

void TSingletonsVector::Append(const ISingletonsVector& other) {
  const int n = other.Count();  // fixed first: `other` may be this vector
  for (int i = 0; i < n; ++i) {
    Add(Ref<IIEValue>(other.XValue(i)), Ref<IIEValue>(other.YValue(i)));
  }
}

void TSingletonsVector::Assign(const ISingletonsVector& other) {
  if (&other == this) {
    return;
  }
  Clear();
  for (int i = 0; i < other.Count(); ++i) {
    Add(CloneOrNull(other.XValue(i)), CloneOrNull(other.YValue(i)));
  }
  parser_ = other.Parser();
  tag_ = other.Tag();
}

Ref<ISingletonsVector> TSingletonsVector::Clone() const {
  Ref<TSingletonsVector> copy = MakeRef<TSingletonsVector>(parser_);
  copy->Assign(*this);
  return copy;
}

bool TSingletonsVector::Equals(const ISingletonsVector* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->Count() != Count()) {
    return false;
  }
  for (int i = 0; i < Count(); ++i) {
    if (!ElementsMatch(XValue(i), other->XValue(i)) ||
        !ElementsMatch(YValue(i), other->YValue(i))) {
      return false;
    }
  }
  return true;
}

std::int32_t TSingletonsVector::GetHashCode() const {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(xs_.GetHashCode()) +
                                   static_cast<std::uint32_t>(ys_.GetHashCode()));
}

std::string TSingletonsVector::ToString() const {
  if (parser_ != nullptr) {
    return parser_->SingletonsToString(*this);
  }
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    const IIEValue* x = XValue(i);
    const IIEValue* y = YValue(i);
    out += '(';
    out += x != nullptr ? x->ToString() : std::string();
    out += ' ';
    out += y != nullptr ? y->ToString() : std::string();
    out += ") ";
  }
  return out;
}

// --- TValueHashTable ----------------------------------------------------------------

IIEValue* TValueHashTable::Get(const std::string& key) const {
  auto it = items_.find(key);
  return it != items_.end() ? it->second.get() : nullptr;
}

Ref<IIEValue> TValueHashTable::Put(const std::string& key, Ref<IIEValue> value) {
  Ref<IIEValue>& slot = items_[key];
  Ref<IIEValue> previous = std::move(slot);
  slot = std::move(value);
  return previous;
}

Ref<IIEValue> TValueHashTable::Remove(const std::string& key) {
  auto it = items_.find(key);
  if (it == items_.end()) {
    return nullptr;
  }
  Ref<IIEValue> removed = std::move(it->second);
  items_.erase(it);
  return removed;
}

bool TValueHashTable::ContainsKey(const std::string& key, Ref<IIEValue>* value) const {
  auto it = items_.find(key);
  if (value != nullptr) {
    *value = it != items_.end() ? it->second : nullptr;
  }
  return it != items_.end();
}

void TValueHashTable::Assign(const TValueHashTable& source) {
  if (&source == this) {
    return;
  }
  std::map<std::string, Ref<IIEValue>, std::less<>> fresh;
  for (const auto& [key, value] : source.items_) {
    fresh.emplace(key, CloneOrNull(value.get()));
  }
  items_ = std::move(fresh);
}

std::string TValueHashTable::ToString() const {
  std::string out;
  for (const auto& [key, value] : items_) {
    out += key;
    out += " = ";
    out += value ? value->ToString() : std::string();
    out += '\n';
  }
  return out;
}

}  // namespace zephro
