#include "options.h"

#include <ostream>
#include <string_view>

#include "zephro/engine/inference_engine.h"

#include "line_reader.h"

namespace zephro::shell {

std::string UsageText() {
  std::string text =
      "usage: zephro [options] [FILE...]\n"
      "\n"
      "Runs each FILE in turn (its constructs are added, its top-level calls run)\n"
      "and exits; with no FILE, or with -i, then reads commands interactively.\n"
      "\n"
      "  -f FILE          run FILE, then read commands interactively\n"
      "  -i               read commands interactively after the files\n"
      "  -e, --echo       running files, print the result of each top-level\n"
      "                   expression too, as the interactive shell does\n"
      "  --watch LIST     trace a comma-separated list of facts, rules,\n"
      "                   activations, statistics, compilations\n"
      "  --strategy S     agenda strategy: depth (the default) or breadth\n"
      "  --facts-json FILE\n"
      "                   once the files have run, assert the facts of the JSON\n"
      "                   FILE (all of them, or none when one is wrong), then run\n"
      "                   the engine as (run) does; may be given more than once\n"
      "  --dump-facts-json FILE\n"
      "                   at the end, write working memory to FILE as JSON\n"
      "  -h, --help       this text\n"
      "  --version        the version\n"
      "  --               the arguments that follow are files\n"
      "\n"
      "Running files: only what the program prints goes to standard output (with\n"
      "--echo, the results too), errors to standard error; the exit status is 1\n"
      "when any file had an error, else 0. So\n"
      "\n"
      "  zephro rules.clp --facts-json in.json --dump-facts-json out.json\n"
      "\n"
      "runs rules.clp, asserts the facts of in.json, runs the rules and writes the\n"
      "facts they leave to out.json. A fact is written as\n"
      "{\"template\": \"person\", \"id\": 1, \"slots\": {\"name\": \"Al\", \"age\": 30}}, an\n"
      "ordered one as {\"template\": \"colour\", \"id\": 2, \"values\": [{\"atom\": \"red\"}]}.\n"
      "\n"
      "Interactive: each top-level expression runs once its parentheses balance;\n"
      "a call's result and the name of a new construct are echoed. Errors go to\n"
      "standard error and the session goes on with everything loaded so far.\n"
      "(exit) or the end of input leaves, with status 0 (1 when a file run before\n"
      "had an error). At a terminal the prompt is \"zephro> \", and \"   ...> \" while\n"
      "an expression is unfinished";
  text += HasLineEditing() ? "; lines can be edited and earlier input\n"
                             "recalled (kept in ~/.zephro_history); the interrupt key drops the\n"
                             "input typed so far.\n"
                           : ".\n";
  text +=
      "When standard input is not a terminal (a pipe or a file) no prompt is shown,\n"
      "so a scripted session prints nothing but its own output:\n"
      "\n"
      "  printf '(assert (a 1))\\n(facts)\\n' | zephro\n";
  return text;
}

int ParseCommandLine(int argc, const char* const* argv, ShellOptions& options, std::ostream& out,
                     std::ostream& err) {
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_files || arg == "-" || !arg.starts_with("-")) {
      options.files.emplace_back(arg);
      continue;
    }
    // The value of an option that takes one; null (reported) when missing.
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        err << "zephro: " << arg << " needs a value\n" << UsageText();
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--") {
      only_files = true;
    } else if (arg == "--help" || arg == "-h") {
      out << UsageText();
      return 0;
    } else if (arg == "--version") {
      out << kVersion << "\n";
      return 0;
    } else if (arg == "-i") {
      options.interactive = true;
    } else if (arg == "-e" || arg == "--echo") {
      options.echo = true;
    } else if (arg == "-f") {
      const char* file = value();
      if (file == nullptr) {
        return 2;
      }
      options.files.emplace_back(file);
      options.interactive = true;
    } else if (arg == "--watch") {
      const char* list = value();
      if (list == nullptr) {
        return 2;
      }
      options.watch = list;
    } else if (arg == "--facts-json") {
      const char* file = value();
      if (file == nullptr) {
        return 2;
      }
      options.facts_json.emplace_back(file);
    } else if (arg == "--dump-facts-json") {
      const char* file = value();
      if (file == nullptr) {
        return 2;
      }
      options.dump_facts_json = file;
    } else if (arg == "--strategy") {
      const char* strategy = value();
      if (strategy == nullptr) {
        return 2;
      }
      options.strategy = strategy;
    } else {
      err << "zephro: unknown option " << arg << "\n" << UsageText();
      return 2;
    }
  }
  if (options.files.empty() && options.facts_json.empty()) {
    options.interactive = true;
  }
  return -1;
}

namespace {

bool ApplyWatch(TInferenceEngine& engine, std::string_view list, std::ostream& err) {
  static constexpr struct {
    std::string_view word;
    TConstructWatch item;
  } kItems[] = {
      {"facts", TConstructWatch::cwFact},
      {"rules", TConstructWatch::cwRule},
      {"activations", TConstructWatch::cwActivation},
      {"statistics", TConstructWatch::cwStatistics},
      {"compilations", TConstructWatch::cwCompilation},
  };
  TConstructWatches watch = engine.Watch();
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view word = list.substr(0, comma);
    bool known = false;
    for (const auto& item : kItems) {
      if (item.word == word) {
        watch.Include(item.item);
        known = true;
      }
    }
    if (!known) {
      err << "zephro: unknown watch item: " << word << "\n";
      return false;
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  engine.SetWatch(watch);
  return true;
}

}  // namespace

bool ConfigureEngine(const ShellOptions& options, TInferenceEngine& engine, std::ostream& err) {
  if (!options.watch.empty() && !ApplyWatch(engine, options.watch, err)) {
    return false;
  }
  if (options.strategy == "breadth") {
    engine.SetStrategy(TSearchStrategy::ssBreadthFirst);
  } else if (options.strategy == "depth") {
    engine.SetStrategy(TSearchStrategy::ssDepthFirst);
  } else if (!options.strategy.empty()) {
    err << "zephro: unknown strategy " << options.strategy << "\n";
    return false;
  }
  return true;
}

}  // namespace zephro::shell
