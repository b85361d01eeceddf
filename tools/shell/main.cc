// zephro: the engine at a terminal.
//
//   zephro FILE...          runs each file (constructs added, top-level calls
//                           run), print-out to standard output, errors to
//                           standard error; exit status 1 when any error occurred
//   zephro [-f FILE] [-i]   a read-eval-print loop (after the files with -i)
//   --facts-json, --dump-facts-json
//                           facts in and out as JSON around the files (options.cc)
//
// options.h reads the command line, session.h runs files and the loop,
// line_reader.h supplies the lines: edited at a terminal, plain from a pipe.

#include <unistd.h>

#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/platform/exceptions.h"

#include "line_reader.h"
#include "load_progress.h"
#include "options.h"
#include "session.h"

namespace {

// Builds that check for leaks free the engine at exit like any other.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLeaveEngineAtExit = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kLeaveEngineAtExit = false;
#else
constexpr bool kLeaveEngineAtExit = true;
#endif
#else
constexpr bool kLeaveEngineAtExit = true;
#endif

}  // namespace

int main(int argc, char** argv) {
  using zephro::TInferenceEngine;
  using zephro::shell::LineReader;

  zephro::shell::ShellOptions options;
  if (const int status = zephro::shell::ParseCommandLine(argc, argv, options, std::cout, std::cerr);
      status >= 0) {
    return status;
  }

  // Commands and the answers to the language's reads come from one reader, so
  // a script through a pipe can answer its own (read).
  const bool terminal = isatty(STDIN_FILENO) != 0;
  std::unique_ptr<LineReader> reader = terminal
                                           ? zephro::shell::MakeTerminalReader()
                                           : zephro::shell::MakeStreamReader(std::cin, nullptr);

  // Engines are freed through delete, so that what they own can still see
  // them whole while detaching.
  auto owned_engine = std::make_unique<TInferenceEngine>(nullptr);
  TInferenceEngine& engine = *owned_engine;
  engine.OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view text) {
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  engine.OnReadLine = [&reader](TInferenceEngine&, std::string_view, std::string& text) {
    std::cout.flush();
    // The end of the input is the empty text, which readline answers as EOF.
    if (reader->ReadLine("", text) != LineReader::Result::kLine) {
      text.clear();
    }
  };
  zephro::shell::LoadProgress load_progress(std::cerr);
  engine.OnLoadProgress = [&load_progress](TInferenceEngine&, std::int64_t facts, bool asserting) {
    load_progress.Report(facts, asserting);
  };
  if (!zephro::shell::ConfigureEngine(options, engine, std::cerr)) {
    return 2;
  }

  zephro::shell::Session session(engine, *reader, std::cout, std::cerr);
  int status = 0;
  try {
    // A file run prints what the program prints; the results of its
    // expressions only when asked to (an interactive session shows them).
    engine.SetEchoResults(options.echo);
    for (const std::string& path : options.files) {
      if (!session.RunFile(path)) {
        status = 1;
      }
    }
    if (!options.facts_json.empty() && !session.LoadFactsJsonAndRun(options.facts_json)) {
      status = 1;
    }
    if (options.interactive) {
      engine.SetEchoResults(true);
      session.Interact(terminal);
    }
    if (!options.dump_facts_json.empty() && !session.SaveFactsJson(options.dump_facts_json)) {
      status = 1;
    }
  } catch (const zephro::EAbort& abort) {
    // (exit) in a file: leave, telling the errors met before it.
    if (*abort.what() != '\0') {
      std::cout.flush();
      std::cerr << abort.what() << std::endl;
      status = 1;
    }
  }
  std::cout.flush();
  if constexpr (kLeaveEngineAtExit) {
    // The process ends here, and the system takes its memory back at once,
    // where freeing a large working memory object by object takes seconds.
    // What must reach a file is written first: open files are closed, a
    // dribble file ended.
    engine.IOStreams().Clear();
    try {
      engine.StopCapture();
    } catch (const std::exception& error) {
      std::cerr << error.what() << std::endl;  // the end of the dribble file is lost
      status = 1;
    }
    (void)owned_engine.release();
  }
  return status;
}
