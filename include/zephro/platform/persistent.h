#pragma once

// TPersistent: an object that can copy another's state into itself (Assign) and so be
// cloned (CloneObject). Assignment is a double dispatch: the destination's Assign
// handles the sources it knows and otherwise asks the source's AssignTo, which by
// default refuses with the assignment error.
//
// Ownership: as TObject. CloneObject hands the clone to the caller.
// Thread safety: none beyond TObject's.

#include <concepts>
#include <memory>

#include "zephro/platform/object.h"

namespace zephro {

class TFiler;

// The assignment error, filled with the source's then the destination's class name.
inline constexpr char kCannotAssignMessage[] = "Cannot assign a %s to a %s";

class TPersistent : public TObject {
  ZEPHRO_DECLARE_CLASS(TPersistent, TObject)

  // Copies the state of `source` into this object. The default asks
  // source.AssignTo(*this); overrides handle their own sources and call this for any
  // other.
  virtual void Assign(const TPersistent& source);

  // Copies this object's state into `dest`. The default raises EBaseException with
  // kCannotAssignMessage (this class, then dest's class).
  virtual void AssignTo(TPersistent& dest) const;

  // Declares the object's custom stored properties: state a component stream keeps
  // beside the published properties, each under a name of its own, through
  // filer.DefineProperty (component_stream.h). The same call serves writing and
  // reading, so the list of names is written once. The default declares none;
  // overrides call the inherited one first.
  virtual void DefineProperties(TFiler& /*filer*/) {}
};

// A new instance of the class of `source`, made by the class's factory, then assigned
// from `source`. The caller owns it; a component's clone has no owner. Raises
// EBaseException when the class cannot make instances, when the object's own class is
// not declared (its description is an ancestor's), or when Assign refuses.
std::unique_ptr<TPersistent> CloneObject(const TPersistent& source);

template <std::derived_from<TPersistent> T>
std::unique_ptr<T> CloneObject(const T& source) {
  // The clone has the very class of `source`, so it is a T.
  return std::unique_ptr<T>(
      static_cast<T*>(CloneObject(static_cast<const TPersistent&>(source)).release()));
}

}  // namespace zephro
