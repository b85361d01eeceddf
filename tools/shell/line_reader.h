#pragma once

// LineReader: where the shell gets its input, one line at a time.
//
// Two kinds:
//   - a stream reader reads plain lines from an std::istream (standard input
//     through a pipe or from a file) and shows prompts only when asked to, so
//     that a scripted session's output holds nothing but the session's own
//     print-out;
//   - a terminal reader, for standard input at a terminal, edits the line and
//     recalls earlier input with the BSD line-editing library when the shell
//     was built with it (history kept in ~/.zephro_history), and otherwise
//     reads plain lines from std::cin and writes the prompts to std::cout.
//
// The shell reads both its commands and the answers to the language's read
// functions through the same reader, so a script through a pipe can answer its
// own (read) on the line that follows.
//
// Thread safety: none; use a reader on one thread.

#include <iosfwd>
#include <memory>
#include <string>

namespace zephro::shell {

class LineReader {
 public:
  enum class Result { kLine, kEnd, kInterrupted };

  virtual ~LineReader() = default;

  // Reads the next line into `line`, without its line break, showing
  // `prompt` first when this reader shows prompts. kEnd at the end of input;
  // kInterrupted when the user pressed the interrupt key (terminal only):
  // `line` is then empty and the reader can be used again.
  virtual Result ReadLine(const std::string& prompt, std::string& line) = 0;

  // Offers `entry` (a whole expression, possibly of several lines) for
  // recall. Readers without history ignore it.
  virtual void AddHistory(const std::string& entry) { (void)entry; }
};

// A reader of plain lines from `in`. When `prompts` is not null, each prompt
// is written and flushed there before a line is read. Borrows both streams.
std::unique_ptr<LineReader> MakeStreamReader(std::istream& in, std::ostream* prompts);

// A reader for standard input at a terminal (see above).
std::unique_ptr<LineReader> MakeTerminalReader();

// True when the shell was built with line editing.
bool HasLineEditing() noexcept;

// True when the line-editing library can be loaded now (it is loaded when
// the first line is edited); false in a shell built without it.
bool LineEditingLoads();

}  // namespace zephro::shell
