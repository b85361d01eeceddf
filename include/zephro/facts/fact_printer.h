#pragma once

// Facts, templates and slots written back in the engine's language, so that
// the text parses again into an equal construct (layout: values/printing.h).
// The engine's printing entries (IFactEnvironment::PrintFact...) start from
// these functions; objects without an engine print through them directly.
//
//   (deftemplate person "someone" extends being
//     (slot age (type INTEGER) (default 0) )
//     (multislot names ))
//   (person (age 42) (names Ann Lee ))
//
// Thread safety: the functions keep no state; printing an object reads it
// (and may fill in a fact's defaults), so the object itself must not change
// meanwhile.

#include <string>

#include "zephro/values/interfaces.h"

namespace zephro {

// A fact: "(" and the template name, then for an ordered template the fields
// of its "__Data" slot, for any other each slot whose value prints non-empty
// as "(name value)"; then ")".
std::string PrettyPrintFact(const IFact& fact);

// A template in deftemplate syntax: name, comment, "extends" and the parent,
// then either "is-a" and the defined type of an ordered template, or each
// slot on its own indented line.
std::string PrettyPrintTemplate(const IFactTemplate& fact_template);

// A slot definition: "(slot " or "(multislot " and the name, the type
// qualifier when the slot narrows its kinds or has a defined type, the
// default (left out when it is the empty default), then ")".
std::string PrettyPrintSlot(const IFactSlot& slot);

}  // namespace zephro
