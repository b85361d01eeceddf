#include "session.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <vector>

#include "zephro/engine/facts_json.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"

#include "input_buffer.h"
#include "line_reader.h"
#include "options.h"

namespace zephro::shell {

namespace {

// What the history keeps of a finished input: a construct typed over several
// lines comes back as one line, ready to edit; with a comment in it, whose
// end the line breaks mark, it stays as typed.
std::string HistoryEntry(const InputBuffer& input) {
  std::string entry = input.Text();
  while (!entry.empty() && entry.back() == '\n') {
    entry.pop_back();
  }
  if (!input.HasComment()) {
    std::replace(entry.begin(), entry.end(), '\n', ' ');
  }
  return entry;
}

}  // namespace

Session::Session(TInferenceEngine& engine, LineReader& reader, std::ostream& out, std::ostream& err)
    : engine_(engine), reader_(reader), out_(out), err_(err) {}

void Session::Report(const std::exception& error) {
  out_.flush();
  // Errors of a file's text say where they are already (the parser puts the
  // place in front); one typed here says which rule it left, if any.
  const auto* base = dynamic_cast<const EBaseException*>(&error);
  if (base != nullptr && !base->RuleName().empty()) {
    err_ << "rule " << base->RuleName() << ": ";
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    err_ << "Out of memory" << std::endl;
    return;
  }
  err_ << error.what() << std::endl;
}

template <class Source>
bool Session::RunParse(Source&& source) {
  try {
    source();
    return true;
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& error) {
    Report(error);
    return false;
  }
}

bool Session::Run(std::string_view text) {
  return RunParse([&] { engine_.Parse(text, true); });
}

bool Session::RunFile(const std::string& path) {
  std::error_code error;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, error)) {
    in.open(path, std::ios::binary);
  }
  if (!in.is_open()) {
    out_.flush();
    err_ << "zephro: cannot read " << path << std::endl;
    return false;
  }
  // The parser reads the file as it goes: a large program is not held whole.
  engine_.SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  return RunParse([&] { zephro::Parse(engine_, in, true, path); });
}

bool Session::LoadFactsJsonAndRun(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    try {
      LoadFactsJsonFile(engine_, path);
    } catch (const EIEException& error) {
      // Which file, as the message names a place inside it only.
      out_.flush();
      err_ << path << ": " << error.what() << std::endl;
      return false;
    }
  }
  return RunParse([&] { engine_.Run(); });
}

bool Session::SaveFactsJson(const std::string& path) {
  return RunParse([&] { SaveFactsJsonFile(engine_, path); });
}

void Session::Interact(bool terminal) {
  if (terminal) {
    out_ << kVersion << ". Type (exit) or press Ctrl-D to leave." << std::endl;
  }
  engine_.SetParserErrorHandling(TErrorHandling::ehRaiseImmediate);
  InputBuffer input;
  std::string line;
  try {
    for (;;) {
      out_.flush();
      const auto got = reader_.ReadLine(input.Empty() ? kPrompt : kContinuationPrompt, line);
      if (got == LineReader::Result::kInterrupted) {
        input.Clear();
        continue;
      }
      if (got == LineReader::Result::kEnd) {
        break;
      }
      input.AddLine(line);
      if (input.Empty()) {
        input.Clear();  // blank lines and comments
        continue;
      }
      if (!input.Complete()) {
        continue;
      }
      reader_.AddHistory(HistoryEntry(input));
      for (const std::string& expression : input.TakeExpressions()) {
        Run(expression);
      }
    }
    if (!input.Empty()) {
      for (const std::string& expression : input.TakeExpressions()) {
        Run(expression);
      }
    }
    if (terminal) {
      out_ << "\n";
    }
  } catch (const EAbort&) {
    // (exit)
  }
  out_.flush();
}

}  // namespace zephro::shell
