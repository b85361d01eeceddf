#pragma once

// Controls: components that sit inside one another on a host's screen. A TControl
// has a parent, a TWinControl, which lists the controls it contains. Parenthood is
// independent of ownership: a form usually owns every control on it, while each
// control's parent is the panel or box it is shown in.
//
//   TWinControl& panel = MakeOwned<TWinControl>(form);
//   TControl& label = MakeOwned<TControl>(form);
//   label.SetParent(&panel);      // panel.ControlCount() == 1
//   label.SetParent(nullptr);     // out again
//
// Both sides stay consistent whichever is freed first: a freed control leaves its
// parent's list, and a freed parent leaves its controls without parent (it does not
// free them; their owner does). Rules reach the parent through the published
// property "Parent".
//
// Ownership: a parent borrows its controls and a control borrows its parent.
// Thread safety: none; use controls on one thread.

#include <vector>

#include "zephro/platform/component.h"

namespace zephro {

class TWinControl;

class TControl : public TComponent {
  ZEPHRO_DECLARE_CLASS(TControl, TComponent)

  explicit TControl(TComponent* owner);
  ~TControl() override;

  // The control this one is shown in, or nullptr.
  TWinControl* Parent() const noexcept { return parent_; }
  // Moves the control to the end of `parent`'s controls, out of its former
  // parent's; nullptr takes it out of any. Raises EBaseException "Control <name>
  // cannot contain itself" (the class name when the control has no name) when
  // `parent` is this control or sits inside it, which would make a loop.
  virtual void SetParent(TWinControl* parent);

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;  // not owned
};

class TWinControl : public TControl {
  ZEPHRO_DECLARE_CLASS(TWinControl, TControl)

  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  // The controls whose parent this is, in the order they joined.
  int ControlCount() const noexcept { return static_cast<int>(controls_.size()); }
  // Raises EBaseException for an index outside 0 .. ControlCount() - 1.
  TControl& Control(int index) const;
  // True when `control` is this one or sits inside it, at any depth.
  bool Contains(const TControl& control) const noexcept;

 private:
  friend class TControl;
  std::vector<TControl*> controls_;  // not owned
};

}  // namespace zephro
