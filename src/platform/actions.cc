#include "zephro/platform/actions.h"

#include "zephro/platform/class_registry.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TBasicAction).Event("OnExecute", &TBasicAction::OnExecute);

TBasicAction::TBasicAction(TComponent* owner) : TComponent(owner) {}

bool TBasicAction::Execute() {
  if (!OnExecute) {
    return false;
  }
  OnExecute(*this);
  return true;
}

}  // namespace zephro
