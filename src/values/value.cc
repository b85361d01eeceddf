// Construction, setters, getters and conversions, copying and resolution of
// TIEValue. Equality, hashing and printing live in value_compare.cc, the code
// that touches platform objects (owned objects, classes) in value_object.cc.

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

// --- blocks ---------------------------------------------------------------

void* TIEValue::operator new(std::size_t size) {
  return TBlockRecycler<TIEValue, sizeof(TIEValue)>::Allocate(size);
}

void TIEValue::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TIEValue, sizeof(TIEValue)>::Free(block, size);
}
namespace {

// Reads `s` whole as a decimal integer; false when it is not one or does not
// fit 32 bits.
bool ParseInt32(std::string_view s, std::int32_t& out) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
  }
  if (s.empty()) {
    return false;
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// Reads `s` whole as a floating-point number (C syntax, no locale).
bool ParseDouble(std::string_view s, double& out) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
  }
  if (s.empty()) {
    return false;
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

std::int32_t RoundToInt32(double d) { return TruncateToInt32(std::nearbyint(d)); }

}  // namespace

namespace {

}  // namespace

std::string FormatFloat(double value) {
  char buf[400];
  return std::string(FormatFloatInto(buf, value));
}

// --- construction -----------------------------------------------------------

TIEValue::TIEValue(std::string_view text, TIEType kind) : TIEValue(TText::Shared(text), kind) {}

TIEValue::TIEValue(TText text, TIEType kind) : IIEValue(TOwnMark<TIEValue>::Set()) {
  if (!IEStringTypes.Contains(kind)) {
    RaiseIEPlain(SInvalidValueType);
  }
  text_ = std::move(text);
  dtype_ = kind;
}

TIEValue::TIEValue(std::int32_t value, TIEType kind) : IIEValue(TOwnMark<TIEValue>::Set()) {
  if (!IEIntegerTypes.Contains(kind)) {
    RaiseIEPlain(SInvalidValueType);
  }
  payload_.integer = value;
  dtype_ = kind;
}

TIEValue::TIEValue(double value) noexcept
    : IIEValue(TOwnMark<TIEValue>::Set()), dtype_(TIEType::dtFloat) { payload_.real = value; }

#define ZEPHRO_COUNTED_CTOR(Interface, Kind)                        \
  TIEValue::TIEValue(Ref<Interface> object) noexcept                \
      : IIEValue(TOwnMark<TIEValue>::Set()) {                       \
    if (object) {                                                   \
      payload_.counted = static_cast<RefCounted*>(object.Detach()); \
    }                                                               \
    dtype_ = TIEType::Kind;                                         \
  }
ZEPHRO_COUNTED_CTOR(IValueVector, dtList)
ZEPHRO_COUNTED_CTOR(IFact, dtFact)
ZEPHRO_COUNTED_CTOR(IFunCall, dtFunCall)
ZEPHRO_COUNTED_CTOR(ISingletonsVector, dtSingletons)
ZEPHRO_COUNTED_CTOR(IMembershipSet, dtFuzzy)
#undef ZEPHRO_COUNTED_CTOR

TIEValue::TIEValue(TObject* object, bool owned) : IIEValue(TOwnMark<TIEValue>::Set()) {
  dtype_ = TIEType::dtObject;
  payload_.liveness = nullptr;
  if (owned) {
    TakeOwnedObject(object);
  } else {
    payload_.liveness = HoldLiveness(object);
  }
}

TIEValue::TIEValue(const TClassInfo* cls) noexcept
    : IIEValue(TOwnMark<TIEValue>::Set()), dtype_(TIEType::dtClass) {
  payload_.cls = cls;
}

TIEValue::TIEValue(const IIEValue& source) : IIEValue(TOwnMark<TIEValue>::Set()) { Assign(source); }

TIEValue::~TIEValue() { Changing(TIEType::dtNone); }

TIEValue::Extras& TIEValue::EnsureExtras() {
  if (!extras_) {
    extras_ = std::make_unique<Extras>();
  }
  return *extras_;
}

#if defined(__GNUC__) && defined(__x86_64__)
// Values are the most numerous objects of a loaded program: 40 bytes fit the
// allocator's 48-byte blocks, where 41 would take 64.
static_assert(sizeof(TIEValue) <= 40, "a value outgrew 40 bytes");
#endif

void TIEValue::SetTag(std::int32_t tag) {
  if (tag != 0 || extras_) {
    EnsureExtras().tag = tag;
  }
}

const TIEValueChangeEvent& TIEValue::OnChange() const {
  static const TIEValueChangeEvent kNone;
  return extras_ ? extras_->on_change : kNone;
}

void TIEValue::SetOnChange(TIEValueChangeEvent handler) {
  if (handler || extras_) {
    EnsureExtras().on_change = std::move(handler);
  }
}

const TText& TIEValue::SharedText() const noexcept {
  static const TText kEmpty;
  return IsTextKind() ? text_ : kEmpty;
}

// --- the setter protocol ------------------------------------------------------

bool TIEValue::HoldsCounted() const noexcept {
  switch (dtype_) {
    case TIEType::dtFunCall:
    case TIEType::dtFact:
    case TIEType::dtList:
    case TIEType::dtSingletons:
    case TIEType::dtFuzzy:
      return true;
    case TIEType::dtNone:
    case TIEType::dtAtom:
    case TIEType::dtString:
    case TIEType::dtInteger:
    case TIEType::dtVariable:
    case TIEType::dtFactId:
    case TIEType::dtFloat:
    case TIEType::dtDescriptor:
    case TIEType::dtObject:
    case TIEType::dtClass:
    case TIEType::dtExternalAddress:
    case TIEType::dtMultiVariable:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      return false;
  }
  return false;
}

void TIEValue::Changing(TIEType /*new_kind*/) noexcept {
  if (dtype_ == TIEType::dtObject) {
    ReleaseObject();
    dtype_ = TIEType::dtNone;
  } else if (HoldsCounted()) {
    if (RefCounted* c = std::exchange(payload_.counted, nullptr)) {
      c->Release();
    }
    dtype_ = TIEType::dtNone;
  }
}

void TIEValue::Changed() {
  if (extras_ && extras_->on_change) {
    extras_->on_change(*this);
  }
}

void TIEValue::SetText(std::string_view text, TIEType kind) {
  TText t = TText::Shared(text);  // may throw: build it before anything changes
  Changing(kind);
  text_ = std::move(t);
  dtype_ = kind;
  Changed();
}

void TIEValue::SetInt(std::int32_t value, TIEType kind) {
  Changing(kind);
  payload_.integer = value;
  dtype_ = kind;
  Changed();
}

void TIEValue::SetCounted(RefCounted* object, TIEType kind) {
  Changing(kind);
  payload_.counted = object;
  dtype_ = kind;
  Changed();
}

void TIEValue::SetAsFloat(double value) {
  Changing(TIEType::dtFloat);
  payload_.real = value;
  dtype_ = TIEType::dtFloat;
  Changed();
}

void TIEValue::SetAsExternalAddress(void* address) {
  Changing(TIEType::dtExternalAddress);
  payload_.address = address;
  dtype_ = TIEType::dtExternalAddress;
  Changed();
}

void TIEValue::SetAsObject(TObject* object) {
  TLiveness* held = HoldLiveness(object);  // may throw: build it before anything changes
  Changing(TIEType::dtObject);
  payload_.liveness = held;
  dtype_ = TIEType::dtObject;
  Changed();
}

void TIEValue::SetAsOwnedObject(TObject* object) {
  Changing(TIEType::dtObject);
  dtype_ = TIEType::dtObject;
  payload_.liveness = nullptr;
  TakeOwnedObject(object);
  Changed();
}

void TIEValue::SetAsClass(const TClassInfo* cls) {
  Changing(TIEType::dtClass);
  payload_.cls = cls;
  dtype_ = TIEType::dtClass;
  Changed();
}

void TIEValue::SetAsFact(Ref<IFact> fact) {
  SetCounted(fact ? static_cast<RefCounted*>(fact.Detach()) : nullptr, TIEType::dtFact);
}
void TIEValue::SetAsFunCall(Ref<IFunCall> call) {
  SetCounted(call ? static_cast<RefCounted*>(call.Detach()) : nullptr, TIEType::dtFunCall);
}
void TIEValue::SetAsList(Ref<IValueVector> list) {
  SetCounted(list ? static_cast<RefCounted*>(list.Detach()) : nullptr, TIEType::dtList);
}
void TIEValue::SetAsSingletons(Ref<ISingletonsVector> singletons) {
  SetCounted(singletons ? static_cast<RefCounted*>(singletons.Detach()) : nullptr,
             TIEType::dtSingletons);
}
void TIEValue::SetAsFuzzy(Ref<IMembershipSet> fuzzy) {
  SetCounted(fuzzy ? static_cast<RefCounted*>(fuzzy.Detach()) : nullptr, TIEType::dtFuzzy);
}

void TIEValue::Reset() {
  Changing(TIEType::dtNone);
  payload_.counted = nullptr;
  text_ = TText();
  dtype_ = TIEType::dtNone;
}

// --- getters --------------------------------------------------------------------

void TIEValue::RaiseNotType(const char* wanted) const {
  RaiseIE(SNotCorrectType, wanted, ToString().c_str(), std::string(IETypeName(dtype_)).c_str());
}

std::string TIEValue::AsString() const {
  if (IsTextKind()) {
    return text_.Str();
  }
  switch (dtype_) {
    case TIEType::dtInteger:
      return std::to_string(payload_.integer);
    case TIEType::dtFloat:
      return FormatFloat(payload_.real);
    case TIEType::dtFuzzy:
      return payload_.counted != nullptr ? AsFuzzy()->ToString() : std::string();
    default:
      RaiseNotType("string");
  }
}

std::int32_t TIEValue::AsInteger() const {
  switch (dtype_) {
    case TIEType::dtInteger:
    case TIEType::dtFactId:
    case TIEType::dtDescriptor:
      return payload_.integer;
    case TIEType::dtExternalAddress:
      // The address as a number: its low 32 bits.
      return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(payload_.address));
    case TIEType::dtFloat:
      return TruncateToInt32(payload_.real);
    case TIEType::dtAtom:
    case TIEType::dtString: {
      std::int32_t i = 0;
      if (ParseInt32(text_.View(), i)) {
        return i;
      }
      double d = 0;
      if (ParseDouble(text_.View(), d)) {
        return TruncateToInt32(d);
      }
      RaiseNotType("integer");
    }
    case TIEType::dtFuzzy:
      if (payload_.counted != nullptr) {
        return RoundToInt32(AsFuzzy()->CrispValue());
      }
      RaiseNotType("integer");
    default:
      RaiseNotType("integer");
  }
}

double TIEValue::AsFloat() const {
  switch (dtype_) {
    case TIEType::dtInteger:
    case TIEType::dtFactId:
    case TIEType::dtDescriptor:
      return payload_.integer;
    case TIEType::dtFloat:
      return payload_.real;
    case TIEType::dtAtom:
    case TIEType::dtString: {
      if (this == &FCNil()) {
        return 0.0;
      }
      double d = 0;
      if (ParseDouble(text_.View(), d)) {
        return d;
      }
      RaiseNotType("numeric");
    }
    case TIEType::dtFuzzy:
      if (payload_.counted != nullptr) {
        return AsFuzzy()->CrispValue();
      }
      RaiseNotType("numeric");
    default:
      RaiseNotType("numeric");
  }
}

std::int32_t TIEValue::AsFactId() const {
  switch (dtype_) {
    case TIEType::dtInteger:
    case TIEType::dtFactId:
      return payload_.integer;
    case TIEType::dtFloat:
      return TruncateToInt32(payload_.real);
    default:
      RaiseNotType("fact id");
  }
}

std::int32_t TIEValue::AsDescriptor() const {
  if (dtype_ != TIEType::dtDescriptor) {
    RaiseNotType("descriptor");
  }
  return payload_.integer;
}

void* TIEValue::AsExternalAddress() const {
  if (dtype_ == TIEType::dtExternalAddress) {
    return payload_.address;
  }
  if (dtype_ == TIEType::dtObject) {
    return ObjectOrNull();
  }
  RaiseNotType("External Address");
}

TObject* TIEValue::AsObject() const {
  if (dtype_ != TIEType::dtObject) {
    RaiseNotType("object");
  }
  return ObjectOrNull();
}

const TClassInfo* TIEValue::AsClass() const {
  if (dtype_ != TIEType::dtClass) {
    RaiseNotType("class");
  }
  return payload_.cls;
}

#define ZEPHRO_COUNTED_GETTER(Method, Interface, Kind, Word) \
  Interface* TIEValue::Method() const {                     \
    if (dtype_ != TIEType::Kind) {                          \
      RaiseNotType(Word);                                   \
    }                                                       \
    return static_cast<Interface*>(payload_.counted);       \
  }
ZEPHRO_COUNTED_GETTER(AsFact, IFact, dtFact, "fact")
ZEPHRO_COUNTED_GETTER(AsFunCall, IFunCall, dtFunCall, "function call")
ZEPHRO_COUNTED_GETTER(AsList, IValueVector, dtList, "list")
ZEPHRO_COUNTED_GETTER(AsSingletons, ISingletonsVector, dtSingletons, "singletons")
ZEPHRO_COUNTED_GETTER(AsFuzzy, IMembershipSet, dtFuzzy, "fuzzy value")
#undef ZEPHRO_COUNTED_GETTER

// --- copying --------------------------------------------------------------------

void TIEValue::Assign(const IIEValue& source) {
  if (&source == this) {
    return;
  }
  if (const TIEValue* s = AsTIEValue(&source)) {
    if (s->owns_object_) {
      TObject* copy = CopyOwnedObject(s->ObjectOrNull());  // may throw: nothing changed yet
      Changing(TIEType::dtObject);
      dtype_ = TIEType::dtObject;
      payload_.liveness = nullptr;
      TakeOwnedObject(copy);
    } else {
      Changing(s->dtype_);
      if (s->HoldsCounted() && s->payload_.counted != nullptr) {
        s->payload_.counted->AddRef();
      } else if (s->dtype_ == TIEType::dtObject && s->payload_.liveness != nullptr) {
        s->payload_.liveness->AddRef();  // the same object, unowned
      }
      text_ = s->text_;
      payload_ = s->payload_;
      dtype_ = s->dtype_;
    }
    SetTag(s->Tag());
    Changed();
    return;
  }
  source.AssignTo(*this);
  SetTag(source.Tag());
}

void TIEValue::AssignTo(IIEValue& target) const {
  if (&target == this) {
    return;
  }
  if (target.EngineOwn()) {
    static_cast<TIEValue&>(target).Assign(*this);
    return;
  }
  switch (dtype_) {
    case TIEType::dtNone:
      target.Reset();
      break;
    case TIEType::dtAtom:
      target.SetAsAtom(Text());
      break;
    case TIEType::dtString:
      target.SetAsString(Text());
      break;
    case TIEType::dtVariable:
      target.SetAsVariable(Text());
      break;
    case TIEType::dtMultiVariable:
      target.SetAsMultiVariable(Text());
      break;
    case TIEType::dtSlot:
      target.SetAsSlot(Text());
      break;
    case TIEType::dtMultiSlot:
      target.SetAsMultiSlot(Text());
      break;
    case TIEType::dtInteger:
      target.SetAsInteger(payload_.integer);
      break;
    case TIEType::dtFactId:
      target.SetAsFactId(payload_.integer);
      break;
    case TIEType::dtDescriptor:
      target.SetAsDescriptor(payload_.integer);
      break;
    case TIEType::dtFloat:
      target.SetAsFloat(payload_.real);
      break;
    case TIEType::dtFunCall:
      target.SetAsFunCall(Ref<IFunCall>(AsFunCall()));
      break;
    case TIEType::dtFact:
      target.SetAsFact(Ref<IFact>(AsFact()));
      break;
    case TIEType::dtList:
      target.SetAsList(Ref<IValueVector>(AsList()));
      break;
    case TIEType::dtSingletons:
      target.SetAsSingletons(Ref<ISingletonsVector>(AsSingletons()));
      break;
    case TIEType::dtFuzzy:
      target.SetAsFuzzy(Ref<IMembershipSet>(AsFuzzy()));
      break;
    case TIEType::dtObject:
      if (owns_object_) {
        target.SetAsOwnedObject(CopyOwnedObject(ObjectOrNull()));
      } else {
        target.SetAsObject(ObjectOrNull());
      }
      break;
    case TIEType::dtClass:
      target.SetAsClass(payload_.cls);
      break;
    case TIEType::dtExternalAddress:
      target.SetAsExternalAddress(payload_.address);
      break;
  }
  target.SetTag(Tag());
}

Ref<IIEValue> TIEValue::Clone() const {
  Ref<TIEValue> copy = MakeRef<TIEValue>();
  copy->Assign(*this);
  return copy;
}

// --- resolution -------------------------------------------------------------------

Ref<IIEValue> TIEValue::ResolveVariableHere(TIEContext& context) {
  const std::uint32_t before = PlaceHint();
  std::uint32_t hint = before;
  Ref<IIEValue> value = ResolveVariable(context, text_, hint);
  if (hint != before) {
    KeepPlaceHint(hint);
  }
  return value;
}

Ref<IIEValue> TIEValue::Resolve(TIEContext* context) {
  switch (dtype_) {
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
      if (context == nullptr) {
        RaiseIE(SNoContext, std::string(IETypeName(dtype_)).c_str());
      }
      return ResolveVariableHere(*context);
    case TIEType::dtFunCall:
      if (context == nullptr) {
        RaiseIE(SNoContext, std::string(IETypeName(dtype_)).c_str());
      }
      return AsFunCall()->Execute(*context);
    case TIEType::dtSingletons:
      return payload_.counted != nullptr ? ResolveSingletons(context, *AsSingletons())
                                         : Ref<IIEValue>(this);
    case TIEType::dtObject:
      if (TObject* object = ObjectOrNull(); IsPatternBinding(object)) {
        if (context == nullptr) {
          RaiseIE(SNoContext, std::string(IETypeName(dtype_)).c_str());
        }
        return ResolvePatternBinding(*context, *object);
      }
      return Ref<IIEValue>(this);
    default:
      return Ref<IIEValue>(this);
  }
}

// --- constants ---------------------------------------------------------------------

namespace {

// The constants are built once and never destroyed, so no engine outlives them.
struct Constants {
  TIEValue* values[14];
  Constants() {
    int i = 0;
    auto keep = [&](Ref<TIEValue> v) {
      v->MakeImmortal();
      values[i++] = v.Detach();  // never released
    };
    keep(MakeRef<TIEValue>("TRUE", TIEType::dtAtom));
    keep(MakeRef<TIEValue>("FALSE", TIEType::dtAtom));
    keep(MakeRef<TIEValue>("", TIEType::dtAtom));
    keep(MakeRef<TIEValue>("", TIEType::dtAtom));
    keep(MakeRef<TIEValue>(MakeValueVector()));
    for (const char* word : {"catch", "except", "finally", "else", "do", "then", "EOF"}) {
      keep(MakeRef<TIEValue>(word, TIEType::dtAtom));
    }
    keep(MakeRef<TIEValue>(3.14159265358979323846));
    keep(MakeRef<TIEValue>(0.0));
  }
};

const Constants& TheConstants() {
  static const Constants constants;  // holds references that are never released
  return constants;
}

}  // namespace

IIEValue& FCTrue() { return *TheConstants().values[0]; }
IIEValue& FCFalse() { return *TheConstants().values[1]; }
IIEValue& FCNil() { return *TheConstants().values[2]; }
IIEValue& FCEmptyString() { return *TheConstants().values[3]; }
IIEValue& FCNilList() { return *TheConstants().values[4]; }
IIEValue& FCCatch() { return *TheConstants().values[5]; }
IIEValue& FCExcept() { return *TheConstants().values[6]; }
IIEValue& FCFinally() { return *TheConstants().values[7]; }
IIEValue& FCElse() { return *TheConstants().values[8]; }
IIEValue& FCDo() { return *TheConstants().values[9]; }
IIEValue& FCThen() { return *TheConstants().values[10]; }
IIEValue& FCEOF() { return *TheConstants().values[11]; }
IIEValue& FCPI() { return *TheConstants().values[12]; }
IIEValue& FCZero() { return *TheConstants().values[13]; }

bool MayChangeInPlace(const IIEValue* value) noexcept {
  if (value == nullptr || IsValueConstant(value)) {
    return false;
  }
  const TIEValue* v = AsTIEValue(value);
  return v == nullptr || !v->IsShared();
}

bool IsValueConstant(const IIEValue* value) noexcept {
  if (value == nullptr) {
    return false;
  }
  for (const TIEValue* c : TheConstants().values) {
    if (c == value) {
      return true;
    }
  }
  return false;
}

}  // namespace zephro
