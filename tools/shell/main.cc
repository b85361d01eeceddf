// zephro: the engine at a terminal.
//
//   zephro FILE...          runs each file as the engine's Parse does
//                           (constructs added, top-level calls executed),
//                           print-out to standard output, errors to standard
//                           error; exit status 1 when any error occurred
//   zephro [-f FILE] [-i]   a read-eval-print loop (after the files with -i)

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"
#include "zephro/version.h"

namespace {

using zephro::TConstructWatch;
using zephro::TInferenceEngine;

constexpr char kVersion[] = "zephro " ZEPHRO_VERSION_STRING;

constexpr char kUsage[] =
    "usage: zephro [options] [FILE...]\n"
    "\n"
    "Runs each FILE (constructs and top-level commands) and exits; with no FILE,\n"
    "or with -i, reads commands interactively.\n"
    "\n"
    "  -f FILE              load FILE before the prompt\n"
    "  -i                   interactive after the files\n"
    "  --watch LIST         trace facts,rules,activations,statistics,compilations\n"
    "  --strategy S         depth or breadth\n"
    "  --help               this text\n"
    "  --version            the version\n";

// Tracks whether the text typed so far closes every parenthesis it opens,
// skipping strings and comments.
class Balance {
 public:
  void Feed(std::string_view text) {
    for (char c : text) {
      if (in_comment_) {
        in_comment_ = c != '\n';
      } else if (in_string_) {
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '"') {
          in_string_ = false;
        }
      } else if (c == '"') {
        in_string_ = true;
      } else if (c == ';') {
        in_comment_ = true;
      } else if (c == '(') {
        ++depth_;
        seen_ = true;
      } else if (c == ')') {
        --depth_;
      } else if (c > ' ') {
        seen_ = true;
      }
    }
    in_comment_ = false;  // a comment ends with its line
  }
  bool Complete() const { return seen_ && depth_ <= 0 && !in_string_; }
  void Reset() { *this = Balance(); }

 private:
  int depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
  bool in_comment_ = false;
  bool seen_ = false;
};

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// Runs `text`; reports errors on standard error. Answers whether it went well.
bool Run(TInferenceEngine& engine, std::string_view text) {
  try {
    engine.Parse(text, true);
    return true;
  } catch (const zephro::EAbort&) {
    throw;
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << error.what() << std::endl;
    return false;
  }
}

bool ApplyWatch(TInferenceEngine& engine, std::string_view list) {
  zephro::TConstructWatches watch = engine.Watch();
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    if (item == "facts") {
      watch.Include(TConstructWatch::cwFact);
    } else if (item == "rules") {
      watch.Include(TConstructWatch::cwRule);
    } else if (item == "activations") {
      watch.Include(TConstructWatch::cwActivation);
    } else if (item == "statistics") {
      watch.Include(TConstructWatch::cwStatistics);
    } else if (item == "compilations") {
      watch.Include(TConstructWatch::cwCompilation);
    } else {
      std::cerr << "zephro: unknown watch item: " << item << "\n";
      return false;
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  engine.SetWatch(watch);
  return true;
}

int Interactive(TInferenceEngine& engine) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  Balance balance;
  std::string pending;
  std::string line;
  int status = 0;
  auto prompt = [&] {
    if (terminal) {
      std::cout << (pending.empty() ? "zephro> " : "   ...> ") << std::flush;
    }
  };
  prompt();
  while (std::getline(std::cin, line)) {
    pending += line;
    pending += '\n';
    balance.Feed(line + "\n");
    if (!balance.Complete()) {
      if (pending.find_first_not_of(" \t\r\n") == std::string::npos) {
        pending.clear();
        balance.Reset();
      }
      prompt();
      continue;
    }
    if (!Run(engine, pending)) {
      status = 1;
    }
    pending.clear();
    balance.Reset();
    prompt();
  }
  if (terminal) {
    std::cout << "\n";
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool interactive = false;
  std::string watch;
  std::string strategy;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](const char* option) -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "zephro: " << option << " needs a value\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << kVersion << "\n";
      return 0;
    } else if (arg == "-i") {
      interactive = true;
    } else if (arg == "-f") {
      files.emplace_back(value("-f"));
      interactive = true;
    } else if (arg == "--watch") {
      watch = value("--watch");
    } else if (arg == "--strategy") {
      strategy = value("--strategy");
    } else if (arg.starts_with("-") && arg.size() > 1) {
      std::cerr << "zephro: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) {
    interactive = true;
  }

  // Engines are freed through delete, so that what they own can still see
  // them whole while detaching.
  auto owned_engine = std::make_unique<TInferenceEngine>(nullptr);
  TInferenceEngine& engine = *owned_engine;
  engine.OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view text) {
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  engine.OnReadLine = [](TInferenceEngine&, std::string_view, std::string& text) {
    std::cout.flush();
    if (!std::getline(std::cin, text)) {
      text = "EOF";
    }
  };
  if (!watch.empty() && !ApplyWatch(engine, watch)) {
    return 2;
  }
  if (strategy == "breadth") {
    engine.SetStrategy(zephro::TSearchStrategy::ssBreadthFirst);
  } else if (!strategy.empty() && strategy != "depth") {
    std::cerr << "zephro: unknown strategy " << strategy << "\n";
    return 2;
  }

  int status = 0;
  try {
    engine.SetParserErrorHandling(zephro::TErrorHandling::ehRaiseAllAtEnd);
    for (const std::string& path : files) {
      std::string text;
      if (!ReadFile(path, text)) {
        std::cerr << "zephro: cannot read " << path << "\n";
        status = 1;
        continue;
      }
      if (!Run(engine, text)) {
        status = 1;
      }
    }
    if (interactive) {
      engine.SetParserErrorHandling(zephro::TErrorHandling::ehRaiseImmediate);
      if (Interactive(engine) != 0 && files.empty()) {
        status = 1;
      }
    }
  } catch (const zephro::EAbort&) {
    // (exit): leave quietly.
  }
  std::cout.flush();
  return status;
}
