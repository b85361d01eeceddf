#include "testing/random_knowledge_base.h"

#include <array>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zephro::testing {
namespace {

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  RandomKnowledgeBase Make() {
    RandomKnowledgeBase kb;
    // One after the other: the later parts use the templates made first.
    kb.constructs = Types();
    kb.constructs += Templates();
    kb.constructs += Functions();
    kb.constructs += Globals();
    kb.constructs += FactSets();
    kb.constructs += Rules();
    kb.facts = Facts();
    return kb;
  }

 private:
  // One slot kind: its definition, and a value of it as a fact writes it.
  struct SlotKind {
    const char* definition;  // after "(slot name " or "(multislot name "
    bool multi;
    std::vector<std::string> values;
  };

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Pick(100) < percent; }
  template <class T>
  const T& OneOf(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Pick(static_cast<int>(items.size())))];
  }

  static const std::vector<SlotKind>& Kinds() {
    static const std::vector<SlotKind> kinds = {
        {"(type INTEGER) (default 3)", false, {"0", "-7", "42", "123456789"}},
        {"(type FLOAT)", false, {"1.5", "0.1", "-2.25", "0.001", "100.0"}},
        {"(type STRING) (default \"x y\")",
         false,
         {R"("plain")", R"("he said \"hi\"")", R"("a\\b")", R"("")", R"x("semi;colon (paren)")x"}},
        {"(type SYMBOL) (allowed-symbols red green blue) (default green)",
         false,
         {"red", "green", "blue"}},
        {"(type score)", false, {"0", "55", "100"}},
        {"(type small-score)", false, {"1", "9"}},
        {"(type color)", false, {"red", "blue"}},
        {"(type temperature)", false, {"cold", "hot", "(very cold)", "(cold or hot)"}},
        {"", false, {"nil", "anything", "7", "2.5", "\"text\""}},
        {"", true, {"", "a b c", "1 2.5 \"three\" four", "nil nil", "x nil 3"}},
        {"(type INTEGER) (cardinality 0 4)", true, {"", "1", "1 2 3"}},
    };
    return kinds;
  }

  std::string Types() {
    std::string text =
        "(deftype score \"a mark\" extends (type INTEGER) (range 0 100))\n"
        "(deftype small-score extends (type score) (range 0 10))\n"
        "(deftype color extends (type SYMBOL) (allowed-symbols red green blue))\n"
        "(deftype temperature extends (type FUZZY) (range 0 100) (units C)\n"
        "   (values (term cold ((0 1) (40 0))) (term hot ((60 0) (100 1)))))\n";
    return text;
  }

  std::string Templates() {
    std::string text;
    const int count = 2 + Pick(3);
    for (int t = 0; t < count; ++t) {
      std::vector<int> slots;
      text += "(deftemplate t" + std::to_string(t);
      if (Chance(50)) {
        text += " \"template " + std::to_string(t) + "\"";
      }
      text += "\n";
      const int slot_count = 1 + Pick(5);
      for (int s = 0; s < slot_count; ++s) {
        const int kind = Pick(static_cast<int>(Kinds().size()));
        slots.push_back(kind);
        text += std::string("   (") + (Kinds()[static_cast<std::size_t>(kind)].multi ? "multislot" : "slot") +
                " s" + std::to_string(s) + " " + Kinds()[static_cast<std::size_t>(kind)].definition +
                ")\n";
      }
      text += ")\n";
      templates_.push_back(slots);
    }
    return text;
  }

  // The text of a fact of template `t`, every slot given or left out.
  std::string TemplateFact(int t) {
    std::string fact = "(t" + std::to_string(t);
    const std::vector<int>& slots = templates_[static_cast<std::size_t>(t)];
    for (std::size_t s = 0; s < slots.size(); ++s) {
      if (Chance(80)) {
        fact += " (s" + std::to_string(s) + " " + OneOf(Kinds()[static_cast<std::size_t>(slots[s])].values) + ")";
      }
    }
    return fact + ")";
  }

  std::string OrderedFact() {
    static const std::vector<std::string> fields = {"1", "two", "\"three\"", "4.5", "nil", "-6",
                                                    "\"a \\\"q\\\"\"", "sym-bol", "0.1"};
    std::string fact = "(item";
    const int n = Pick(5);
    for (int i = 0; i < n; ++i) {
      fact += " " + OneOf(fields);
    }
    return fact + ")";
  }

  std::string Functions() {
    return "(deffunction twice (?x) \"doubles\" (* 2 ?x))\n"
           "(deffunction describe (?tag $?rest)\n"
           "   (if (> (length$ ?rest) 1) then (str-cat ?tag \"+\" (length$ ?rest)) else ?tag))\n";
  }

  std::string Globals() {
    return "(defglobal ?*fired* = 0 ?*label* = \"kb\" ?*limit* = (+ 1 2))\n";
  }

  std::string FactSets() {
    std::string text = "(deffacts start \"what every run starts from\"\n";
    for (int i = 0; i < 3; ++i) {
      text += "   " + (Chance(50) ? OrderedFact() : TemplateFact(Pick(static_cast<int>(templates_.size())))) + "\n";
    }
    return text + ")\n";
  }

  // One conditional element binding ?v<n> from template `t`, or an ordered fact.
  std::string Pattern(int n) {
    const std::string v = "?v" + std::to_string(n);
    if (Chance(30)) {
      return "(item " + v + " $?)";
    }
    const int t = Pick(static_cast<int>(templates_.size()));
    const std::vector<int>& slots = templates_[static_cast<std::size_t>(t)];
    const int s = Pick(static_cast<int>(slots.size()));
    const SlotKind& kind = Kinds()[static_cast<std::size_t>(slots[static_cast<std::size_t>(s)])];
    const std::string slot = "s" + std::to_string(s);
    if (kind.multi) {
      return "(t" + std::to_string(t) + " (" + slot + " $?" + v.substr(1) + "))";
    }
    if (std::string(kind.definition).find("temperature") != std::string::npos) {
      return "(t" + std::to_string(t) + " (" + slot + " " + (Chance(50) ? "hot" : "cold") + "))";
    }
    std::string constraint = v;
    if (std::string(kind.definition).find("INTEGER") != std::string::npos && Chance(50)) {
      constraint += "&:(> " + v + " 0)";
    } else if (std::string(kind.definition).find("SYMBOL") != std::string::npos && Chance(50)) {
      constraint += "&~green";
    }
    return "(t" + std::to_string(t) + " (" + slot + " " + constraint + "))";
  }

  std::string Rules() {
    std::string text;
    const int count = 2 + Pick(5);
    for (int r = 0; r < count; ++r) {
      const std::string name = "r" + std::to_string(r);
      text += "(defrule " + name;
      if (Chance(40)) {
        text += " \"rule " + std::to_string(r) + "\"";
      }
      text += "\n";
      if (Chance(50)) {
        text += "   (declare (salience " + std::to_string(Pick(21) - 10) + "))\n";
      }
      const std::string f = "?f" + std::to_string(r);
      text += "   " + f + " <- " + Pattern(0) + "\n";
      switch (Pick(5)) {
        case 0:
          text += "   (not (done " + name + " " + f + "))\n";
          break;
        case 1:
          text += "   " + Pattern(1) + "\n";
          break;
        case 2:
          text += "   (exists " + Pattern(1) + ")\n";
          break;
        case 3:
          text += "   (test (neq " + f + " nil))\n";
          break;
        default:
          text += "   " + Pattern(1) + "\n   (not (item stop))\n";
          break;
      }
      text += "   =>\n";
      text += "   (bind ?*fired* (+ ?*fired* 1))\n";
      text += "   (printout t \"" + name + " \" ?*fired* \" \" (describe " + name + " a b) \" \" (twice " +
              std::to_string(r) + ") crlf)\n";
      if (Chance(40)) {
        text += "   (assert (done " + name + " " + std::to_string(r) + "))\n";
      }
      text += ")\n";
    }
    return text;
  }

  std::string Facts() {
    std::string text;
    const int count = 3 + Pick(8);
    for (int i = 0; i < count; ++i) {
      text += "(assert " + (Chance(30) ? OrderedFact() : TemplateFact(Pick(static_cast<int>(templates_.size())))) +
              ")\n";
    }
    return text;
  }

  std::mt19937 rng_;
  std::vector<std::vector<int>> templates_;  // each template's slot kinds
};

}  // namespace

RandomKnowledgeBase MakeRandomKnowledgeBase(std::uint32_t seed) { return Generator(seed).Make(); }

std::string WithoutCreationTime(const std::string& text) {
  std::istringstream lines(text);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("; Created: ", 0) != 0) {
      out += line + "\n";
    }
  }
  return out;
}

}  // namespace zephro::testing
