#pragma once

// The fixture of the fuzzy logic package's tests: an engine that knows a
// fuzzy type and a template with a slot of it, and evaluates calls written as
// text.
//
//   temp   FUZZY, 0 to 100 C; cold falls from (0 1) to (50 0), hot rises
//          from (50 0) to (100 1)
//   room   (slot name) (slot t (type temp))

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {

class FuzzyLogicTest : public ::testing::Test {
 protected:
  FuzzyLogicTest() {
    Load(R"((deftype temp extends (type FUZZY) (range 0 100) (units C)
               (values (term cold ((0 1) (50 0))) (term hot ((50 0) (100 1)))))
            (deftemplate room (slot name) (slot t (type temp))))");
  }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  // Parses and runs `text`; what it printed is dropped.
  void Load(std::string_view text) {
    Engine().Parse(text);
    fixture_.TakeOutput();
  }
  std::string Output() { return fixture_.TakeOutput(); }
  // The printed result of the call `text`, or "error: " and the message of
  // what it raised.
  std::string Eval(std::string_view text) {
    try {
      return Engine().ParseNExecuteFunCall(text)->ToString();
    } catch (const EBaseException& e) {
      return std::string("error: ") + e.what();
    }
  }
  // Binds ?name in the root context to the value of the call `text`.
  void Bind(const char* name, std::string_view text) {
    Engine().RootContext().AddBinding(name, Engine().ParseNExecuteFunCall(text));
  }

  struct Step {
    const char* call;
    const char* result;
  };
  // Evaluates the calls in order, each against its expected result.
  void Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      EXPECT_EQ(Eval(step.call), step.result) << step.call;
    }
  }

  EngineFixture fixture_;
};

}  // namespace zephro::testing
