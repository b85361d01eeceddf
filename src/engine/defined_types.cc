// The engine's defined types, and what happens to the types and templates
// that use one when it is removed or defined again.

#include <string>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "engine/collection_checks.h"
#include "engine/parents_first.h"

namespace zephro {
namespace {

// Tells a type which engine holds it (null: none any more).
void SetHolder(IIEDefinedType& type, TInferenceEngine* engine) {
  if (auto* own = dynamic_cast<TIEDefinedType*>(&type)) {
    own->SetReasoner(engine);
  }
}

// True when `type` is `base` or refines it.
bool Descends(const IIEDefinedType* type, const IIEDefinedType& base) {
  for (; type != nullptr; type = type->Ancestor()) {
    if (type == &base) {
      return true;
    }
  }
  return false;
}

// True when a slot of `fact_template` holds `type` or a type refining it.
bool TemplateUses(const IFactTemplate& fact_template, const IIEDefinedType& type) {
  for (int i = 0; i < fact_template.SlotCount(); ++i) {
    if (Descends(fact_template.SlotAt(i)->ExtendedTypeInfo(), type)) {
      return true;
    }
  }
  return false;
}

}  // namespace

// --- the collection --------------------------------------------------------------------------

IIEDefinedType* TIEDefinedTypes::Add(Ref<IIEDefinedType> type) {
  if (!type) {
    RaiseIE(SBadArgument, "no defined type to add");
  }
  const std::string name = type->TypeName();
  if (Ref<IIEDefinedType>* existing = table_.Find(name)) {
    if (existing->get() == type.get()) {
      return type.get();
    }
    switch (DuplicateSettingOf(engine_)) {
      case TDuplicateConstructs::dcOverwrite:
        return Replace(*existing, std::move(type));
      case TDuplicateConstructs::dcIgnore:
        return existing->get();
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateDefTypeNames, name.c_str());
    }
  }
  if (engine_ != nullptr) {
    SetHolder(*type, engine_);
  }
  IIEDefinedType* stored = type.get();
  table_.Put(name, std::move(type));
  if (engine_ != nullptr && engine_->OnAddDefinedType) {
    engine_->OnAddDefinedType(*engine_, *stored);
  }
  return stored;
}

IIEDefinedType* TIEDefinedTypes::Put(std::string_view name, Ref<IIEDefinedType> type) {
  if (type) {
    CheckOwnName(name, type->TypeName());
  }
  return Add(std::move(type));
}

IIEDefinedType* TIEDefinedTypes::Replace(const Ref<IIEDefinedType>& existing,
                                         Ref<IIEDefinedType> replacement) {
  if (engine_ != nullptr) {
    engine_->CheckNotMatching("redefine a type");
  }
  Ref<IIEDefinedType> old = existing;  // keep it alive through the swap
  if (engine_ != nullptr && engine_->OnRemoveDefinedType) {
    engine_->OnRemoveDefinedType(*engine_, *old);
  }
  table_.Take(old->TypeName());
  IIEDefinedType* stored = Add(replacement);
  if (engine_ != nullptr) {
    engine_->ReplaceDefinedType(old, replacement);
    SetHolder(*old, nullptr);
  }
  return stored;
}

bool TIEDefinedTypes::Remove(std::string_view name) {
  Ref<IIEDefinedType>* found = table_.Find(name);
  if (found == nullptr) {
    return false;
  }
  Ref<IIEDefinedType> type = *found;
  if (engine_ != nullptr) {
    engine_->CheckNotMatching("remove a type");
    SetHolder(*type, nullptr);
    if (engine_->OnRemoveDefinedType) {
      engine_->OnRemoveDefinedType(*engine_, *type);
    }
    engine_->RemoveDependencies(*type);
  }
  table_.Take(name);
  return true;
}

void TIEDefinedTypes::Clear() {
  if (engine_ != nullptr) {
    engine_->FactTemplates().Clear();
  }
  for (const auto& [name, type] : table_) {
    SetHolder(*type, nullptr);
  }
  table_.Clear();
  if (engine_ != nullptr && engine_->OnClearDefinedTypes) {
    engine_->OnClearDefinedTypes(*engine_);
  }
}

namespace {

const IIEDefinedType* AncestorOf(const IIEDefinedType& t) {
  return t.Ancestor();
}

}  // namespace

std::string TIEDefinedTypes::ToString() const {
  return ParentsFirstText(
      table_, AncestorOf,
      [&](const IIEDefinedType& parent) { return Get(parent.TypeName()) == &parent; },
      STypeInheritanceCorrupt);
}

void TIEDefinedTypes::Assign(const TIEDefinedTypes& from) {
  if (&from == this) {
    return;
  }
  const std::vector<IIEDefinedType*> order = ParentsFirst(
      from.table_, AncestorOf,
      [&](const IIEDefinedType& parent) { return from.Get(parent.TypeName()) == &parent; },
      STypeInheritanceCorrupt);
  const bool share = SharesItems(engine_, from.engine_);
  for (IIEDefinedType* type : order) {
    if (share) {
      Add(Ref<IIEDefinedType>(type));
      continue;
    }
    const std::string text = type->ToString();
    const IIEDefinedType* mine = Get(type->TypeName());
    if (mine == nullptr || mine->ToString() != text) {
      engine_->Parse(text, true);  // which files it here
    }
  }
}

// --- what depends on a type ------------------------------------------------------------------

void TInferenceEngine::RemoveDependencies(const IIEDefinedType& type) {
  // The types that extend it go first, each with what depends on it.
  std::vector<std::string> children;
  for (const auto& [name, t] : defined_types_->table_) {
    if (t.get() != &type && Descends(t->Ancestor(), type)) {
      children.push_back(name);
    }
  }
  for (const std::string& name : children) {
    defined_types_->Remove(name);
  }
  std::vector<std::string> users;
  for (int i = fact_templates_->Count() - 1; i >= 0; --i) {
    const IFactTemplate& t = fact_templates_->At(i);
    if (TemplateUses(t, type)) {
      users.push_back(t.TemplateName());
    }
  }
  for (const std::string& name : users) {
    fact_templates_->Remove(name);
  }
}

void TInferenceEngine::ReplaceDefinedType(const Ref<IIEDefinedType>& old_type,
                                          const Ref<IIEDefinedType>& new_type) {
  if (old_type->TypeName() != new_type->TypeName()) {
    RemoveDependencies(*old_type);
    return;
  }
  // Types that extended the old definition extend the new one.
  for (const auto& [name, t] : defined_types_->table_) {
    auto* own = dynamic_cast<TIEDefinedType*>(t.get());
    if (own != nullptr && own->Ancestor() == old_type.get()) {
      own->SetAncestor(new_type);
    }
  }
  // Templates that used it are read again from their text, which names the
  // type: they now use the new one, and their facts and rules are rebuilt on
  // them as for any redefined template. One that no longer reads goes.
  std::vector<Ref<IFactTemplate>> users;
  for (int i = 0; i < fact_templates_->Count(); ++i) {
    IFactTemplate& t = fact_templates_->At(i);
    if (TemplateUses(t, *old_type)) {
      users.emplace_back(&t);
    }
  }
  for (const Ref<IFactTemplate>& old_template : users) {
    Ref<IFactTemplate> rebuilt;
    try {
      rebuilt = ParseFactTemplate(old_template->ToString());
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception&) {
      fact_templates_->Remove(old_template->TemplateName());
      continue;
    }
    if (fact_templates_->Get(old_template->TemplateName()) == old_template.get()) {
      fact_templates_->Replace(old_template, std::move(rebuilt));
    }
  }
}

}  // namespace zephro
