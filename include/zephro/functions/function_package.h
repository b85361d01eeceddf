#pragma once

// The built-in function packages an engine can create, as an enumeration and a
// set, with the order in which the engine creates them.
//
// Each member names one package class (the class names below). An engine creates
// one package per member of its Packages set, in kFunctionPackageCreationOrder;
// since every package files its functions by name as it is created, a function of
// a later package replaces an earlier one of the same name.
//
// Thread safety: constants only.

#include <array>
#include <cstdint>
#include <string_view>

#include "zephro/platform/enum_set.h"

namespace zephro {

enum class TFunctionPackage : std::uint8_t {
  pStandard,
  pPredicate,
  pMath,
  pMiscellaneous,
  pString,
  pObject,
  pTrigonometry,
  pBusiness,
  pFuzzyLogic,
};
inline constexpr int kFunctionPackageCount = 9;

using TFunctionPackages = EnumSet<TFunctionPackage>;

// Enumeration names, by ordinal, as published set properties print them.
inline constexpr std::array<std::string_view, kFunctionPackageCount> kFunctionPackageNames = {
    "pStandard", "pPredicate",    "pMath",     "pMiscellaneous", "pString",
    "pObject",   "pTrigonometry", "pBusiness", "pFuzzyLogic"};

// The package class each member stands for, by ordinal.
inline constexpr std::array<std::string_view, kFunctionPackageCount> kFunctionPackageClassNames = {
    "TStandardPackage",     "TPredicatePackage", "TMathPackage",
    "TMiscPackage",         "TStringPackage",    "TObjectPackage",
    "TTrigonometryPackage", "TBusinessPackage",  "TFuzzyLogicPackage"};

// Every package: the default of an engine's Packages set (bits 0x1FF).
inline constexpr TFunctionPackages kAllFunctionPackages = TFunctionPackages::FromBits(0x1FF);

// The order in which an engine creates the members of its Packages set.
inline constexpr std::array<TFunctionPackage, kFunctionPackageCount>
    kFunctionPackageCreationOrder = {
        TFunctionPackage::pStandard,     TFunctionPackage::pMiscellaneous,
        TFunctionPackage::pPredicate,    TFunctionPackage::pMath,
        TFunctionPackage::pString,       TFunctionPackage::pObject,
        TFunctionPackage::pTrigonometry, TFunctionPackage::pBusiness,
        TFunctionPackage::pFuzzyLogic};

constexpr std::string_view FunctionPackageName(TFunctionPackage p) {
  return kFunctionPackageNames[static_cast<std::size_t>(p)];
}

constexpr std::string_view FunctionPackageClassName(TFunctionPackage p) {
  return kFunctionPackageClassNames[static_cast<std::size_t>(p)];
}

}  // namespace zephro
