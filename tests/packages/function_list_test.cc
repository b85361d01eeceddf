// The README lists every built-in function by package; this keeps the list
// and the packages a new engine creates in step, both ways.

#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/user_package.h"

#include "testing/package_checks.h"

namespace zephro {
namespace {

// Package class name to the functions its README item names, in order. An
// item is "- **TNamePackage**: `f`, `g`" and may go on over indented lines.
std::map<std::string, std::vector<std::string>> ReadmeFunctionList() {
  std::ifstream file(ZEPHRO_README);
  EXPECT_TRUE(file) << ZEPHRO_README;
  std::map<std::string, std::vector<std::string>> list;
  const std::regex item(R"(^- \*\*(T\w+Package)\*\*:(.*)$)");
  const std::regex name("`([^`]+)`");
  std::string* current = nullptr;
  std::map<std::string, std::string> texts;
  for (std::string line; std::getline(file, line);) {
    std::smatch m;
    if (std::regex_match(line, m, item)) {
      current = &texts[m[1]];
      *current = m[2];
    } else if (current != nullptr && line.starts_with("  ")) {
      *current += line;
    } else {
      current = nullptr;
    }
  }
  for (const auto& [package, text] : texts) {
    for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
      list[package].push_back((*it)[1]);
    }
  }
  return list;
}

TEST(FunctionListTest, TheReadmeListsEveryPackageFunctionInOrder) {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  std::map<std::string, std::vector<std::string>> packages;
  for (int i = 0; i < engine->ComponentCount(); ++i) {
    if (const auto* package = dynamic_cast<const TUserPackage*>(&engine->Component(i))) {
      std::vector<std::string> names;
      for (const std::string& f : testing::FunctionNames(*package)) {
        if (!f.starts_with("__")) {  // the engine's own helpers
          names.push_back(f);
        }
      }
      packages[package->ClassName()] = names;
    }
  }
  EXPECT_EQ(packages.size(), 9u);
  EXPECT_EQ(ReadmeFunctionList(), packages);
}

}  // namespace
}  // namespace zephro
