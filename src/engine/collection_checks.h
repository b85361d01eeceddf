#pragma once

// What the engine's collections decide alike: how a name already in use is
// treated, under which name a construct is filed, and when copying shares
// the items.

#include <string>
#include <string_view>

#include "zephro/values/types.h"

namespace zephro {

class TInferenceEngine;

// The engine's DuplicateConstructs, or dcOverwrite for a collection that has
// no engine.
TDuplicateConstructs DuplicateSettingOf(const TInferenceEngine* engine) noexcept;

// Raises EIEException ("Bad Argument: %s") unless `name` is `own`, the
// construct's own name: a construct is filed under that name only.
void CheckOwnName(std::string_view name, const std::string& own);

// Whether an Assign into a collection of `into` from one of `from` shares
// the items rather than copying them from their text (see collections.h):
// when either has no engine, or both have the same.
bool SharesItems(const TInferenceEngine* into, const TInferenceEngine* from) noexcept;

}  // namespace zephro
