#pragma once

// TBasicAction: a component standing for something the host can do ("reorder",
// "print the report"), which menus, buttons and rules can trigger by one name.
//
//   TBasicAction& reorder = MakeOwned<TBasicAction>(form);
//   reorder.SetName("Reorder");
//   reorder.OnExecute = [&](TBasicAction&) { PlaceOrder(); };
//   reorder.Execute();   // true: the handler ran
//
// A descendant that does its work itself overrides Execute and answers true when
// it did. The published event "OnExecute" lets component streams and rules see
// the handler's slot.
//
// Ownership and thread safety: as for any component.

#include <functional>

#include "zephro/platform/component.h"

namespace zephro {

class TBasicAction : public TComponent {
  ZEPHRO_DECLARE_CLASS(TBasicAction, TComponent)

  using TActionEvent = std::function<void(TBasicAction& sender)>;

  explicit TBasicAction(TComponent* owner);

  // Runs the action. The default calls OnExecute when it is assigned and answers
  // whether it did; what the handler raises passes to the caller.
  virtual bool Execute();

  TActionEvent OnExecute;
};

}  // namespace zephro
