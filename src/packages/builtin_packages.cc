// The built-in packages an engine creates for the members of its Packages
// property.

#include <memory>

#include "zephro/engine/engine_parts.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/user_package.h"
#include "zephro/packages/business_package.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/packages/math_package.h"
#include "zephro/packages/misc_package.h"
#include "zephro/packages/object_package.h"
#include "zephro/packages/predicate_package.h"
#include "zephro/packages/standard_package.h"
#include "zephro/packages/string_package.h"
#include "zephro/packages/trigonometry_package.h"
#include "zephro/platform/component.h"

namespace zephro {

TUserPackage* CreateBuiltInPackage(TFunctionPackage package, TInferenceEngine& engine) {
  switch (package) {
    case TFunctionPackage::pStandard:
      return &MakeOwned<TStandardPackage>(engine);
    case TFunctionPackage::pPredicate:
      return &MakeOwned<TPredicatePackage>(engine);
    case TFunctionPackage::pMath:
      return &MakeOwned<TMathPackage>(engine);
    case TFunctionPackage::pString:
      return &MakeOwned<TStringPackage>(engine);
    case TFunctionPackage::pMiscellaneous:
      return &MakeOwned<TMiscPackage>(engine);
    case TFunctionPackage::pFuzzyLogic:
      return &MakeOwned<TFuzzyLogicPackage>(engine);
    case TFunctionPackage::pTrigonometry:
      return &MakeOwned<TTrigonometryPackage>(engine);
    case TFunctionPackage::pBusiness:
      return &MakeOwned<TBusinessPackage>(engine);
    case TFunctionPackage::pObject:
      return &MakeOwned<TObjectPackage>(engine);
  }
  return nullptr;
}

}  // namespace zephro
