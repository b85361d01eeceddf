#pragma once

// The groups of functions the miscellaneous package lists, each registered
// by the file that holds it.

namespace zephro {

class TUserPackage;

// is-deftype, list-deftypes, ppdeftype, undeftype and the four
// constraint-checking switches (misc_types.cc).
void AddMiscTypeFunctions(TUserPackage& package);

}  // namespace zephro
