#pragma once

// Buffered text streams: TTextStream reads and writes text over a std::istream, a
// std::ostream or a file; TTextStringStream does the same over a string in memory.
// They are the base of the language's token stream and what the engine's I/O streams
// hold.
//
// Text is bytes: GetChar returns every byte as 0 .. 255 (UTF-8 passes through
// untouched, NUL is an ordinary byte) and kEof (-1) at the end. GetChar, PeekChar and
// PutBack are inline and touch only the read buffer. A line ends at a line feed;
// LineNumber() starts at 1 and counts the line feeds read (PutBack of one uncounts it).
// Writing appends to a buffer that reaches the stream on Flush(), when it grows large,
// and in the destructor; a string stream's writes append to its data at once, where
// reading finds them.
//
// The character-level operations are not virtual: a derived stream defines its own
// versions on top of these.
//
// Ownership: a stream over a std::istream or std::ostream borrows it (reading through
// its buffer); it must outlive the TTextStream. A stream over a file path owns the
// file and closes it in the destructor.
// Thread safety: none.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>

namespace zephro {

// The platform line break and the indent of nested printed text.
inline constexpr std::string_view kLineBreak = "\n";
inline constexpr std::string_view kIndent = "   ";

// How a file is opened: kRead reads an existing file; kReadWrite reads and writes an
// existing file at one shared position; kCreate writes a new or emptied file; kAppend
// reads and writes, creating the file when missing, with every write going to the end
// and reading starting there.
enum class TFileMode : std::uint8_t { kRead, kReadWrite, kCreate, kAppend };

class TTextStream {
 public:
  static constexpr int kEof = -1;
  // PutBack can always undo at least this many GetChar calls in a row.
  static constexpr std::size_t kPutBackDepth = 64;

  explicit TTextStream(std::istream& in);
  explicit TTextStream(std::ostream& out);
  // Opens `path`. Raises EBaseException naming the file and the system's reason when
  // it cannot be opened.
  TTextStream(const std::string& path, TFileMode mode);
  TTextStream(const TTextStream&) = delete;
  TTextStream& operator=(const TTextStream&) = delete;
  // Flushes what was written; write errors here are lost (call Flush() to see them).
  virtual ~TTextStream();

  // The next byte, or kEof.
  int GetChar() {
    if (pos_ == buffer_.size() && !Fill()) {
      return kEof;
    }
    const auto c = static_cast<unsigned char>(buffer_[pos_++]);
    if (c == '\n') {
      ++line_;
    }
    return c;
  }
  // The next byte without reading it, or kEof.
  int PeekChar() {
    if (pos_ == buffer_.size() && !Fill()) {
      return kEof;
    }
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  // Undoes the GetChar that returned `c`; PutBack(kEof) does nothing.
  // REQUIRES: `c` is the byte the last GetChar not yet put back returned.
  void PutBack(int c) {
    if (c == kEof) {
      return;
    }
    assert(pos_ > 0 && static_cast<unsigned char>(buffer_[pos_ - 1]) == c);
    if (pos_ == 0) {
      return;
    }
    --pos_;
    if (c == '\n') {
      --line_;
    }
  }
  // Reads the rest of the current line into `line`, without its line feed (and without
  // a carriage return before it), and counts the line. False, with `line` empty, when
  // the stream was already at its end.
  bool GetLine(std::string& line);
  // True when nothing is left to read.
  bool IsEof() { return PeekChar() == kEof; }
  // Skips blanks and other control characters (codes 0 to 32) except line feed and
  // carriage return. True when it stops in front of a line feed or carriage return.
  bool SkipInLineSpaces();

  int LineNumber() const { return line_; }
  void SetLineNumber(int line) { line_ = line; }

  // Writing; raises EBaseException when the stream is not open for writing or the
  // system refuses the bytes.
  void Put(std::string_view text);
  void Put(char c) { Put(std::string_view(&c, 1)); }
  void PutLine(std::string_view text) {
    Put(text);
    PutEOL();
  }
  void PutEOL() { Put(kLineBreak); }
  // Hands buffered written text to the underlying stream or file.
  void Flush();

 protected:
  // A stream over `text` in memory, readable from its start and writable at its end.
  explicit TTextStream(std::string text);
  // All data of an in-memory stream.
  const std::string& Data() const { return buffer_; }

 private:
  // Refills the read buffer; false at the end of input.
  bool Fill();
  void StartWriting();
  void StartReading();

  std::string buffer_;  // read buffer; all data for an in-memory stream
  std::size_t pos_ = 0;
  int line_ = 1;
  bool in_memory_ = false;
  bool shared_position_ = false;   // a file read and written at one position
  bool writing_ = false;           // last operation on a shared-position file was a write
  std::streambuf* in_ = nullptr;   // not owned (or owned through file_)
  std::streambuf* out_ = nullptr;  // not owned (or owned through file_)
  std::string out_buffer_;
  std::string path_;
  std::unique_ptr<std::fstream> file_;
};

// Raises EBaseException ("Invalid file name ...") when `path` cannot name a
// file as written: when it is empty or holds a NUL character, which the system
// would take as its end (a file other than the one named would be used).
// Every routine that takes a file name from the language checks it here.
void CheckFileName(std::string_view path);

// Replaces the file at `path` by one holding `text`, so that the file is
// never seen half-written: the text goes to a new file beside it, which is
// flushed to the disk and then renamed over `path` (a symbolic link is
// followed: the file it names is replaced). An existing file keeps its
// permissions. On any failure the old file is untouched, the new one removed
// and EBaseException raised, naming the file and the system's reason. What is
// not a regular file (a device, a pipe) is written in place.
void ReplaceFile(const std::string& path, std::string_view text);

// The file at `path`, open for reading (binary) from its start. Raises
// EBaseException "Cannot open file <path>: <reason>" when it cannot be opened.
std::ifstream OpenFileForReading(const std::string& path);

class TTextStringStream : public TTextStream {
 public:
  explicit TTextStringStream(std::string text = {}) : TTextStream(std::move(text)) {}

  // Everything the stream holds: its initial text and all that was written since.
  const std::string& DataString() const { return Data(); }
};

}  // namespace zephro
