// A host that keeps an engine inside its own document.
//
// The document is the host's: a title line of its own, then the engine as a
// component stream (its settings, templates, rules, globals and facts as
// readable text). Opened again, the engine has the settings, constructs and
// working memory it was saved with, and carries on from there. (A stream
// keeps facts, not the agenda: facts are asserted anew when it is read, so a
// program meant to be saved between runs keeps its state in facts, as this
// one does, rather than in activations still waiting.)
//
// Build and run: it is built with the examples, and CTest checks its output.

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/component_stream.h"

namespace {

using zephro::TInferenceEngine;

constexpr const char* kKnowledge = R"(
(deftemplate reading (slot room) (slot celsius (type FLOAT)))
(deftemplate alarms (slot count (type INTEGER)))
(deffacts start (alarms (count 0)))
(defrule too-hot
   ?reading <- (reading (room ?room) (celsius ?c&:(> ?c 26.0)))
   ?alarms <- (alarms (count ?n))
   =>
   (retract ?reading)
   (modify ?alarms (count (+ ?n 1)))
   (printout t "alarm " (+ ?n 1) ": " ?room " at " ?c crlf))
)";

// The host's own document: a title, and the engine it works with.
struct Document {
  std::string title;
  std::unique_ptr<TInferenceEngine> engine;
};

// What the engine prints goes to the console once it is set up (loading
// echoes each construct's name, which this host does not show).
void Show(TInferenceEngine& engine) {
  engine.OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view text) {
    std::cout << text;
  };
}

void Save(const Document& document, std::ostream& out) {
  out << "title: " << document.title << "\n";
  zephro::WriteComponent(out, *document.engine);
}

Document Open(std::istream& in) {
  Document document;
  std::string line;
  std::getline(in, line);
  document.title = line.substr(line.find(' ') + 1);
  document.engine = std::make_unique<TInferenceEngine>(nullptr);
  document.engine->Clear();  // the stream brings its own (Initial-Fact)
  zephro::ReadComponent(in, *document.engine);
  Show(*document.engine);
  return document;
}

}  // namespace

int main() {
  Document first{"greenhouse", std::make_unique<TInferenceEngine>(nullptr)};
  first.engine->SetName("Climate");
  first.engine->Parse(kKnowledge);
  first.engine->Reset();
  Show(*first.engine);
  first.engine->Assert("(reading (room north) (celsius 27.5))");
  first.engine->Run();

  // Saved between two readings: the opened engine counts on from the first alarm.
  std::stringstream file;
  Save(first, file);
  Document second = Open(file);
  std::cout << "opened " << second.title << ", engine " << second.engine->Name() << ", "
            << second.engine->Facts().Count() << " facts\n";

  second.engine->Assert("(reading (room south) (celsius 29.0))");
  second.engine->Run();
  return 0;
}
