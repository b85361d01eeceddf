#pragma once

// The pretty printer: every construct written back as text in the engine's
// language, so that the text parses again into an equal construct.
//
// Layout uses two strings: the line break and the indent. Nested text is
// indented by following every line break inside it with the indent. The
// engine's printing entries (IFactEnvironment::PrintFact...) start from these
// functions; objects without an engine print through them directly.
//
//   (deftemplate person "someone" extends being
//     (slot age (type INTEGER) (default 0) )
//     (multislot names ))
//   (person (age 42) (names Ann Lee ))
//
// Thread safety: the functions keep no state; printing an object reads it
// (and may fill in a fact's defaults), so the object itself must not change
// meanwhile.

#include <span>
#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

inline constexpr std::string_view kPrintLineBreak = "\n";
inline constexpr std::string_view kPrintIndent = "  ";

// `text`, printed language, with every line break in it followed by the
// indent, except those inside string constants.
std::string IndentLines(std::string_view text);

// deffunction := "(deffunction " name " (" parameters ")" line-break
//                [indent comment line-break] ( indent action line-break )* ")"
// The parameters are variable values, the actions calls and constants.
std::string PrettyPrintDeffunction(std::string_view name, std::span<const Ref<IIEValue>> parameters,
                                   std::string_view comment,
                                   std::span<const Ref<IIEValue>> actions);

// The type keywords of `types` ("SYMBOL STRING INTEGER"...), in kind order,
// separated by blanks; kinds without a keyword of their own (variables, calls,
// the multislot kinds...) are left out.
std::string TypesToString(TIETypes types);

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

// Singletons: "(" and each pair as "(x y) ", then ")"; an empty vector prints
// as the empty string.
std::string PrettyPrintSingletons(const ISingletonsVector& singletons);
// The printer singletons vectors made by the parser print through: it prints
// them as PrettyPrintSingletons does. Lives as long as the program.
const ISingletonsParser& SingletonsPrinter();

}  // namespace zephro
