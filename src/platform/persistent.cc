#include "zephro/platform/persistent.h"

#include <typeinfo>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TPersistent);

void TPersistent::Assign(const TPersistent& source) {
  source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const {
  RaisePlatformError(kCannotAssignMessage, ClassName().c_str(), dest.ClassName().c_str());
}

std::unique_ptr<TPersistent> CloneObject(const TPersistent& source) {
  const TClassInfo& info = source.ClassType();
  if (!info.CanCreate()) {
    RaisePlatformError("Cannot clone a %s: its class cannot make instances",
                       info.ClassName().c_str());
  }
  std::unique_ptr<TObject> instance = info.CreateInstance();
  // A class that does not declare itself reports an ancestor's description, whose
  // factory makes the ancestor: refuse rather than return a sliced copy.
  if (typeid(*instance) != typeid(source)) {
    RaisePlatformError("Cannot clone a %s: the object's own class is not declared",
                       info.ClassName().c_str());
  }
  std::unique_ptr<TPersistent> clone(static_cast<TPersistent*>(instance.release()));
  clone->Assign(source);
  return clone;
}

}  // namespace zephro
