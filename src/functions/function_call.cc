#include "zephro/functions/function_call.h"

#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_set>

#include "zephro/functions/call_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/text.h"
#include "zephro/values/value.h"

#include "functions/index_error.h"
#include "platform/block_recycler.h"

namespace zephro {
namespace {

[[noreturn]] void RaiseNotType(const char* wanted, const std::string& value, TIEType kind) {
  RaiseIE(SNotCorrectType, wanted, value.c_str(), std::string(IETypeName(kind)).c_str());
}

// Rounds to the nearest integer, ties to the even one, whatever rounding mode
// the host has set for the floating-point unit.
double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double fraction = x - floor;
  if (fraction < 0.5) {
    return floor;
  }
  if (fraction > 0.5) {
    return floor + 1.0;
  }
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// The names calls use, one copy of each: a program names few functions over
// and over, and a call then holds a pointer instead of a string. Names stay
// for the life of the process. A thread remembers the names it looked up last
// (by hash of the text), so that making a call seldom takes the lock.
class TCallNames {
 public:
  static const std::string* Find(std::string_view name) {
    if (name.empty()) {
      static const std::string empty;
      return &empty;
    }
    constexpr std::size_t kRecent = 256;
    thread_local std::array<const std::string*, kRecent> recent{};
    const std::string*& slot =
        recent[static_cast<std::uint32_t>(CalculateHash(name)) & (kRecent - 1)];
    if (slot == nullptr || *slot != name) {
      slot = Table().Insert(name);
    }
    return slot;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>()(s);
    }
  };

  const std::string* Insert(std::string_view name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto found = names_.find(name);
    if (found == names_.end()) {
      found = names_.emplace(name).first;
    }
    return &*found;  // the nodes of the set never move
  }

  static TCallNames& Table() {
    static TCallNames* const table = new TCallNames;  // never destroyed: calls may outlive statics
    return *table;
  }

  std::mutex mutex_;
  std::unordered_set<std::string, Hash, std::equal_to<>> names_;
};

}  // namespace

TFunctionCall::TFunctionCall()
    : IFunCall(TOwnMark<TFunctionCall>::Set()), name_(TCallNames::Find({})) {}

TFunctionCall::TFunctionCall(IReasoner* reasoner, std::string_view name)
    : IFunCall(TOwnMark<TFunctionCall>::Set()), reasoner_(reasoner), name_(TCallNames::Find(name)) {}

void TFunctionCall::SetName(std::string_view name) { name_ = TCallNames::Find(name); }

void TFunctionCall::TArgumentArray::InitLocal() noexcept {
  for (Ref<IIEValue>& slot : store_.local) {
    new (&slot) Ref<IIEValue>();
  }
  capacity_ = kLocal;
}

void TFunctionCall::TArgumentArray::Release() noexcept {
  if (IsLocal()) {
    for (Ref<IIEValue>& slot : store_.local) {
      slot.~Ref<IIEValue>();
    }
  } else {
    delete[] store_.heap;
  }
}

void TFunctionCall::TArgumentArray::push_back(Ref<IIEValue> value) {
  if (size_ == capacity_) {
    const std::uint32_t capacity = capacity_ * 2;
    auto* grown = new Ref<IIEValue>[capacity];
    std::move(data(), data() + size_, grown);
    Release();
    store_.heap = grown;
    capacity_ = capacity;
  }
  data()[size_++] = std::move(value);
}

void TFunctionCall::TArgumentArray::erase(std::size_t index) noexcept {
  Ref<IIEValue>* items = data();
  std::move(items + index + 1, items + size_, items + index);
  items[--size_] = nullptr;
}

void TFunctionCall::TArgumentArray::clear() noexcept {
  Release();
  InitLocal();
  size_ = 0;
}

void TFunctionCall::TArgumentArray::assign(std::span<Ref<IIEValue>> values) {
  clear();
  for (Ref<IIEValue>& value : values) {
    push_back(std::move(value));
  }
}

void* TFunctionCall::operator new(std::size_t size) {
  return TBlockRecycler<TFunctionCall, sizeof(TFunctionCall)>::Allocate(size);
}

void TFunctionCall::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TFunctionCall, sizeof(TFunctionCall)>::Free(block, size);
}

IIEValue* TFunctionCall::Argument(int index) const {
  if (index < 0 || index >= ArgumentCount()) {
    RaiseIndexError("argument", index);
  }
  return arguments_[static_cast<std::size_t>(index)].get();
}

void TFunctionCall::SetArgument(int index, Ref<IIEValue> value) {
  Argument(index);  // checks the index
  if (!value) {
    RaiseIE(SBadArgument, "nil");
  }
  arguments_[static_cast<std::size_t>(index)] = std::move(value);
}

void TFunctionCall::Delete(int index) {
  Argument(index);  // checks the index
  arguments_.erase(static_cast<std::size_t>(index));
}

int TFunctionCall::Append(Ref<IIEValue> value) {
  if (!value) {
    RaiseIE(SBadArgument, "nil");
  }
  arguments_.push_back(std::move(value));
  return ArgumentCount() - 1;
}

int TFunctionCall::AddArgument(Ref<IIEValue> value) {
  return Append(std::move(value));
}

int TFunctionCall::AddArgument(std::string_view text, TIEType kind) {
  if (!IEStringTypes.Contains(kind)) {
    RaiseNotType("String", std::string(text), kind);
  }
  return Append(MakeRef<TIEValue>(text, kind));
}

int TFunctionCall::AddArgument(std::int32_t value, TIEType kind) {
  if (kind == TIEType::dtInteger) {
    return Append(TIEValue::Integer(value));
  }
  if (kind == TIEType::dtFloat) {
    return Append(TIEValue::Float(value));
  }
  RaiseNotType("Integer", std::to_string(value), kind);
}

int TFunctionCall::AddArgument(double value, TIEType kind) {
  if (kind == TIEType::dtFloat) {
    return Append(TIEValue::Float(value));
  }
  if (kind == TIEType::dtInteger) {
    const double rounded = RoundHalfEven(value);
    // Both comparisons are false for NaN as well.
    if (rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max()) {
      return Append(TIEValue::Integer(static_cast<std::int32_t>(rounded)));
    }
  }
  RaiseNotType("Float", FormatFloat(value), kind);
}

int TFunctionCall::AddArgument(Ref<IFunCall> call) {
  return Append(MakeRef<TIEValue>(std::move(call)));
}

int TFunctionCall::AddArgument(Ref<IFact> fact) {
  return Append(MakeRef<TIEValue>(std::move(fact)));
}

int TFunctionCall::AddArgument(Ref<IValueVector> list) {
  return Append(MakeRef<TIEValue>(std::move(list)));
}

void TFunctionCall::SetUserFunction(IUserFunction* function) {
  if (function == function_.get()) {
    return;
  }
  function_ = function;
  SetName(function != nullptr ? std::string_view(function->FunctionName()) : std::string_view());
  bound_version_ = reasoner_ != nullptr ? reasoner_->FunctionTableVersion() : 0;
}

void TFunctionCall::RaiseUnbound() const {
  RaiseIE(SNoSuchFunction, name_->c_str());
}

// The fast path is one comparison of the table version; the lookup runs on the
// first execution and after the engine's table changed. A function found under
// the name while another is bound means the name was filed again: the call keeps
// its function. Nothing found means the bound function was removed (or renamed):
// the call forgets it, so that it can bind whatever is filed under the name
// later.
IUserFunction& TFunctionCall::BoundFunction(bool resolve) {
  if (function_ && (reasoner_ == nullptr || reasoner_->FunctionTableVersion() == bound_version_)) {
    return *function_;
  }
  if (reasoner_ == nullptr || (!function_ && !resolve)) {
    RaiseUnbound();
  }
  IUserFunction* filed = reasoner_->ContainsUserFunction(*name_);
  if (filed == nullptr) {
    function_ = nullptr;
    RaiseUnbound();
  }
  if (!function_) {
    function_ = filed;
  }
  bound_version_ = reasoner_->FunctionTableVersion();
  return *function_;
}

Ref<IIEValue> TFunctionCall::Execute(TIEContext& context) {
  return BoundFunction(true).Call(*this, context);
}

void TFunctionCall::SimpleExecute(TIEContext& context) {
  BoundFunction(false).Call(*this, context);
}

bool TFunctionCall::Holds(TIEContext& context) {
  return BoundFunction(true).Holds(*this, context);
}

bool IFunCall::Holds(TIEContext& context) {
  return !Execute(context)->Equals(&FCFalse());
}

bool TFunctionCall::Equals(const IFunCall* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->Name() != *name_ || other->ArgumentCount() != ArgumentCount()) {
    return false;
  }
  std::span<const Ref<IIEValue>> theirs = other->Arguments();
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    if (!arguments_[i]->Equals(theirs[i].get())) {
      return false;
    }
  }
  return true;
}

std::int32_t TFunctionCall::GetHashCode() const {
  // Unsigned arithmetic wraps without undefined behaviour.
  auto hash = static_cast<std::uint32_t>(CalculateHash(*name_));
  for (const Ref<IIEValue>& argument : arguments_) {
    hash += static_cast<std::uint32_t>(argument->GetHashCode());
  }
  return static_cast<std::int32_t>(hash);
}

std::string TFunctionCall::ToString() const {
  return reasoner_ != nullptr ? reasoner_->PrettyPrint(*this) : PrettyPrintFunCall(*this);
}

Ref<IFunCall> TFunctionCall::Clone() const {
  Ref<TFunctionCall> copy = MakeRef<TFunctionCall>(reasoner_, *name_);
  copy->Assign(*this);
  return copy;
}

#if defined(__GNUC__) && defined(__x86_64__)
static_assert(sizeof(TFunctionCall) <= 88, "a call outgrew 88 bytes");
#endif

const std::string& TFunctionCall::Comment() const noexcept {
  static const std::string none;
  return notes_ ? notes_->comment : none;
}

TFunctionCall::Notes& TFunctionCall::EnsureNotes() {
  if (!notes_) {
    notes_ = std::make_unique<Notes>();
  }
  return *notes_;
}

void TFunctionCall::TrimNotes() noexcept {
  if (notes_ && notes_->comment.empty() && notes_->tag == 0) {
    notes_.reset();
  }
}

void TFunctionCall::SetComment(std::string_view comment) {
  if (!comment.empty() || notes_) {
    EnsureNotes().comment.assign(comment);
    TrimNotes();
  }
}

void TFunctionCall::SetTag(std::int32_t tag) {
  if (tag != 0 || notes_) {
    EnsureNotes().tag = tag;
    TrimNotes();
  }
}

void TFunctionCall::Assign(const IFunCall& source) {
  if (&source == this) {
    return;
  }
  function_ = nullptr;
  name_ = TCallNames::Find(source.Name());
  SetComment(source.Comment());
  SetTag(source.Tag());
  std::span<const Ref<IIEValue>> theirs = source.Arguments();
  std::vector<Ref<IIEValue>> copies;
  copies.reserve(theirs.size());
  for (const Ref<IIEValue>& argument : theirs) {
    copies.push_back(argument->Clone());
  }
  arguments_.assign(copies);
}

Ref<IFunCall> MakeFunCall(IReasoner& reasoner, std::string_view name) {
  Ref<TFunctionCall> call = MakeRef<TFunctionCall>(&reasoner, name);
  if (IUserFunction* function = reasoner.ContainsUserFunction(name)) {
    call->SetUserFunction(function);
  }
  return call;
}

}  // namespace zephro
