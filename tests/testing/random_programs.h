#pragma once

// Random programs over the reference matcher's rules and facts, for
// differential tests: a few rules and a stream of asserts and retracts in
// which some rules arrive while facts are already there. Programs come in
// families, each about some constructs of the rule language; a family's
// programs are the same on every run. A program that shows a fault can be
// shrunk: Simpler offers the smaller programs to try in its place.

#include <memory>
#include <ostream>
#include <vector>

#include "testing/reference_matcher.h"

namespace zephro::testing::reference {

struct Op {
  enum Kind { kDefine, kAssert, kRetract } kind = kAssert;
  int rule = 0;     // kDefine: an index into Program::rules
  Fact fact;        // kAssert
  int target = -1;  // kRetract: the index of the op that asserted the fact, or -1
};

struct Program {
  std::vector<Rule> rules;
  std::vector<Op> ops;
};

// What a family of programs uses beyond single-field variables and constants.
struct Features {
  const char* name;
  int multi_percent;  // how often a field is a multifield one
  int max_multi;      // multifield fields per pattern at most
  bool templates;     // the template's slots next to ordered facts
  bool tests;
  bool negation;
  bool connectives;
};

void PrintTo(const Features& features, std::ostream* out);

// The families: multifield variables shared between patterns and several
// wildcards per pattern; templates; tests; negation; connectives; everything.
const std::vector<Features>& ProgramFamilies();

// Makes the programs of one family, the same sequence on every run.
class ProgramGenerator {
 public:
  explicit ProgramGenerator(const Features& features);
  ~ProgramGenerator();
  ProgramGenerator(const ProgramGenerator&) = delete;
  ProgramGenerator& operator=(const ProgramGenerator&) = delete;

  // 2 to 4 rules of 1 to 4 elements each, every one of them Valid, and 40
  // asserts and retracts.
  Program Make();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Whether every variable a rule tests is bound before, a variable first met
// inside a negation appears nowhere else, every field has one of the forms
// the generator makes, and the rule starts with a positive pattern: what a
// generated rule keeps and a shrunk one must keep.
bool Valid(const Rule& rule);

// Candidate simplifications of `program`, smallest first: runs of ops left
// out (with the retracts of an assert left out), a pattern or a field less, a
// field simpler, a fact field less. When the rules of `program` are Valid, so
// are those of every candidate.
std::vector<Program> Simpler(const Program& program);

}  // namespace zephro::testing::reference
