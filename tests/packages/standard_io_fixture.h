#pragma once

// The fixture of the standard I/O package's tests: an engine whose standard
// output is captured, and a folder for its files that is removed afterwards.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {

class StandardIoTest : public ::testing::Test {
 protected:
  StandardIoTest() {
    folder_ = std::filesystem::temp_directory_path() /
              ("zephro-io-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  ~StandardIoTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  std::string Output() { return fixture_.TakeOutput(); }
  Ref<IIEValue> Eval(const std::string& text) { return Engine().ParseNExecuteFunCall(text); }
  // The printed form of the value of `text`.
  std::string Printed(const std::string& text) { return Eval(text)->ToString(); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  // `name` as a quoted string of the language.
  std::string Quoted(const std::string& name) const { return "\"" + Path(name) + "\""; }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string FileText(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  EngineFixture fixture_;
  std::filesystem::path folder_;
};

// The names of the files in `folder`.
inline std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

}  // namespace zephro::testing
