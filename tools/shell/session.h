#pragma once

// Session: the shell's work on one engine: running files, and the
// read-eval-print loop.
//
// Both hand text to the engine's parser, which adds the constructs, runs the
// top-level calls and echoes each result (the language's text form of a
// call's value, the name of a new construct). An error is written to the
// error stream, after the output stream is flushed so that the two read in
// order when they share a terminal or a file; the engine keeps everything it
// held before the failing expression. (exit) raises EAbort out of the
// engine; RunFile lets it through, Interact ends on it.
//
// The session borrows the engine, the reader and the streams; they must
// outlive it. Thread safety: none.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace zephro {
class TInferenceEngine;
}

namespace zephro::shell {

class LineReader;

inline constexpr char kPrompt[] = "zephro> ";
inline constexpr char kContinuationPrompt[] = "   ...> ";

class Session {
 public:
  Session(TInferenceEngine& engine, LineReader& reader, std::ostream& out, std::ostream& err);

  // Runs the file at `path` as a whole: every expression is tried, and the
  // errors are reported together at the end. False when the file cannot be
  // read or had an error. Raises EAbort when the file calls (exit).
  bool RunFile(const std::string& path);

  // Asserts the facts of each JSON file of `paths` in turn (each file all or
  // nothing, engine/facts_json.h), then runs the engine as (run) does. After
  // an error, reported, nothing more is loaded, the engine is not run and the
  // answer is false. Raises EAbort when a rule calls (exit).
  bool LoadFactsJsonAndRun(const std::vector<std::string>& paths);
  // Writes working memory to `path` as JSON; false, reported, when it cannot.
  bool SaveFactsJson(const std::string& path);

  // Reads expressions from the reader and runs each as soon as it is
  // complete, until (exit) or the end of input; an unfinished expression at
  // the end of input is run too, so that the parser reports what is missing.
  // With `terminal`, a greeting comes first and a line break last.
  void Interact(bool terminal);

 private:
  // Runs `text`; reports an error and answers false when it raises.
  bool Run(std::string_view text);
  // The same for any parse: `source()` does it.
  template <class Source>
  bool RunParse(Source&& source);
  // Writes the message of the error being handled to the error stream.
  void Report(const std::exception& error);

  TInferenceEngine& engine_;  // not owned
  LineReader& reader_;        // not owned
  std::ostream& out_;         // not owned
  std::ostream& err_;         // not owned
};

}  // namespace zephro::shell
