#include "zephro/platform/controls.h"

#include <algorithm>
#include <string>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TControl).Property("Parent", &TControl::Parent, &TControl::SetParent);
ZEPHRO_DEFINE_CLASS(TWinControl);

namespace {

// True when `control` is `container` or sits inside it, at any depth.
bool IsWithin(const TControl& control, const TControl& container) noexcept {
  for (const TControl* c = &control; c != nullptr; c = c->Parent()) {
    if (c == &container) {
      return true;
    }
  }
  return false;
}

}  // namespace

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) {
    return;
  }
  if (parent != nullptr && IsWithin(*parent, *this)) {
    const std::string& shown = Name().empty() ? ClassName() : Name();
    RaisePlatformError("Control %s cannot contain itself", shown.c_str());
  }
  if (parent_ != nullptr) {
    std::erase(parent_->controls_, this);
  }
  parent_ = parent;
  if (parent_ != nullptr) {
    parent_->controls_.push_back(this);
  }
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  for (TControl* control : controls_) {
    control->parent_ = nullptr;
  }
}

TControl& TWinControl::Control(int index) const {
  return *controls_[CheckedIndex(index, ControlCount())];
}

bool TWinControl::Contains(const TControl& control) const noexcept {
  return IsWithin(control, *this);
}

}  // namespace zephro
