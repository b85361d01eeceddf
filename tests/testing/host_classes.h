#pragma once

// Values and lists of a host's own classes: each wraps one of the engine's
// and forwards every call to it, so it behaves as the engine's would while
// being, to the engine, a class it does not know. Tests put them where the
// engine's own would go and expect the same outcomes.

#include <string>
#include <utility>

#include "zephro/values/interfaces.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

class THostValue final : public IIEValue {
 public:
  explicit THostValue(Ref<IIEValue> inner) : inner_(std::move(inner)) {}

  TIEType DType() const noexcept override { return inner_->DType(); }
  std::int32_t Tag() const noexcept override { return inner_->Tag(); }
  void SetTag(std::int32_t tag) override { inner_->SetTag(tag); }
  const TIEValueChangeEvent& OnChange() const override { return inner_->OnChange(); }
  void SetOnChange(TIEValueChangeEvent handler) override { inner_->SetOnChange(std::move(handler)); }
  std::string_view Text() const noexcept override { return inner_->Text(); }
  std::string AsString() const override { return inner_->AsString(); }
  std::int32_t AsInteger() const override { return inner_->AsInteger(); }
  double AsFloat() const override { return inner_->AsFloat(); }
  std::int32_t AsFactId() const override { return inner_->AsFactId(); }
  std::int32_t AsDescriptor() const override { return inner_->AsDescriptor(); }
  void* AsExternalAddress() const override { return inner_->AsExternalAddress(); }
  TObject* AsObject() const override { return inner_->AsObject(); }
  const TClassInfo* AsClass() const override { return inner_->AsClass(); }
  IFact* AsFact() const override { return inner_->AsFact(); }
  IFunCall* AsFunCall() const override { return inner_->AsFunCall(); }
  IValueVector* AsList() const override { return inner_->AsList(); }
  ISingletonsVector* AsSingletons() const override { return inner_->AsSingletons(); }
  IMembershipSet* AsFuzzy() const override { return inner_->AsFuzzy(); }
  void SetAsAtom(std::string_view text) override { inner_->SetAsAtom(text); }
  void SetAsString(std::string_view text) override { inner_->SetAsString(text); }
  void SetAsVariable(std::string_view name) override { inner_->SetAsVariable(name); }
  void SetAsMultiVariable(std::string_view name) override { inner_->SetAsMultiVariable(name); }
  void SetAsSlot(std::string_view name) override { inner_->SetAsSlot(name); }
  void SetAsMultiSlot(std::string_view name) override { inner_->SetAsMultiSlot(name); }
  void SetAsInteger(std::int32_t value) override { inner_->SetAsInteger(value); }
  void SetAsFactId(std::int32_t id) override { inner_->SetAsFactId(id); }
  void SetAsDescriptor(std::int32_t value) override { inner_->SetAsDescriptor(value); }
  void SetAsFloat(double value) override { inner_->SetAsFloat(value); }
  void SetAsExternalAddress(void* address) override { inner_->SetAsExternalAddress(address); }
  void SetAsObject(TObject* object) override { inner_->SetAsObject(object); }
  void SetAsOwnedObject(TObject* object) override { inner_->SetAsOwnedObject(object); }
  void SetAsClass(const TClassInfo* cls) override { inner_->SetAsClass(cls); }
  void SetAsFact(Ref<IFact> fact) override { inner_->SetAsFact(std::move(fact)); }
  void SetAsFunCall(Ref<IFunCall> call) override { inner_->SetAsFunCall(std::move(call)); }
  void SetAsList(Ref<IValueVector> list) override { inner_->SetAsList(std::move(list)); }
  void SetAsSingletons(Ref<ISingletonsVector> singletons) override {
    inner_->SetAsSingletons(std::move(singletons));
  }
  void SetAsFuzzy(Ref<IMembershipSet> fuzzy) override { inner_->SetAsFuzzy(std::move(fuzzy)); }
  bool IsOwningObject() const noexcept override { return inner_->IsOwningObject(); }
  void Assign(const IIEValue& source) override { inner_->Assign(source); }
  void AssignTo(IIEValue& target) const override { inner_->AssignTo(target); }
  Ref<IIEValue> Clone() const override { return MakeRef<THostValue>(inner_->Clone()); }
  bool Equals(const IIEValue* other) const override { return inner_->Equals(Unwrapped(other)); }
  bool EqualsStar(const IIEValue* other) const override {
    return inner_->EqualsStar(Unwrapped(other));
  }
  std::int32_t GetHashCode() const override { return inner_->GetHashCode(); }
  std::string ToString() const override { return inner_->ToString(); }
  void Reset() override { inner_->Reset(); }
  Ref<IIEValue> Resolve(TIEContext* context) override {
    Ref<IIEValue> resolved = inner_->Resolve(context);
    return resolved.get() == inner_.get() ? Ref<IIEValue>(this) : resolved;
  }

 private:
  // Another host value compares as the value it wraps.
  static const IIEValue* Unwrapped(const IIEValue* other) {
    const auto* host = dynamic_cast<const THostValue*>(other);
    return host != nullptr ? host->inner_.get() : other;
  }

  Ref<IIEValue> inner_;
};

class THostList final : public IValueVector {
 public:
  explicit THostList(Ref<IValueVector> inner) : inner_(std::move(inner)) {}

  int ValueCount() const noexcept override { return inner_->ValueCount(); }
  std::span<const Ref<IIEValue>> Values() const noexcept override { return inner_->Values(); }
  IIEValue* Get(int index) const override { return inner_->Get(index); }
  void Put(int index, Ref<IIEValue> value) override { inner_->Put(index, std::move(value)); }
  int Add(Ref<IIEValue> value) override { return inner_->Add(std::move(value)); }
  void Insert(int index, Ref<IIEValue> value) override { inner_->Insert(index, std::move(value)); }
  void Delete(int index) override { inner_->Delete(index); }
  void Clear() override { inner_->Clear(); }
  int IndexOf(const IIEValue* value) const override { return inner_->IndexOf(value); }
  int Remove(const IIEValue* value) override { return inner_->Remove(value); }
  IIEValue* First() const override { return inner_->First(); }
  IIEValue* Last() const override { return inner_->Last(); }
  void Append(const IValueVector& other) override { inner_->Append(other); }
  void Assign(const IValueVector& other) override { inner_->Assign(other); }
  Ref<IValueVector> Clone() const override { return MakeRef<THostList>(inner_->Clone()); }
  bool Equals(const IValueVector* other) const override {
    const auto* host = dynamic_cast<const THostList*>(other);
    return inner_->Equals(host != nullptr ? host->inner_.get() : other);
  }
  std::int32_t GetHashCode() const override { return inner_->GetHashCode(); }
  std::string ToString() const override { return inner_->ToString(); }
  std::int32_t Tag() const noexcept override { return inner_->Tag(); }
  void SetTag(std::int32_t tag) override { inner_->SetTag(tag); }
  int Depth() const noexcept override { return inner_->Depth(); }

 private:
  Ref<IValueVector> inner_;
};

}  // namespace zephro
