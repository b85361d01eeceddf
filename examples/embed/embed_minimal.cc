// The smallest useful embedding: rules from a string, facts from C++, output
// through OnPrintOut.

#include <iostream>
#include <memory>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/exceptions.h"

int main() {
  using namespace zephro;
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  std::string output;
  engine->OnPrintOut = [&](TInferenceEngine&, std::string_view, std::string_view text) {
    output += text;
  };
  try {
    engine->Parse(R"(
      (deftemplate order (slot id) (slot total (type INTEGER FLOAT)))
      (defrule big-order
        (order (id ?id) (total ?t&:(> ?t 100)))
        =>
        (printout t "order " ?id " needs approval" crlf))
    )");
    output.clear();  // Parse echoes what it defined: the template's name and the rule's id
    engine->Assert("(order (id 1) (total 40))");
    engine->Assert("(order (id 2) (total 250))");
    const int fired = engine->Run();
    std::cout << output << fired << " rule(s) fired\n";
  } catch (const EIEException& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
