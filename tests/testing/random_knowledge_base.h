#pragma once

// Random knowledge bases for round-trip tests: types (plain and fuzzy),
// templates with every slot kind, constraint and default, deffunctions,
// globals, fact sets, rules with every conditional element, and facts with
// every value kind. Each one loads without error and runs to an end; the
// same seed gives the same text on every run.

#include <cstdint>
#include <string>

namespace zephro::testing {

struct RandomKnowledgeBase {
  std::string constructs;  // types, templates, functions, globals, fact sets, rules
  std::string facts;       // (assert ...) commands, run after a reset
};

RandomKnowledgeBase MakeRandomKnowledgeBase(std::uint32_t seed);

// `text` without its "; Created: " line, which names the time of the save.
std::string WithoutCreationTime(const std::string& text);

}  // namespace zephro::testing
