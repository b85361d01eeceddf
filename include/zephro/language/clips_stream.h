#pragma once

// TIEClipsStream: the scanner of the language. It turns bytes into tokens,
// counts lines, reads one top-level expression ahead and keeps an echo of the
// expression for error messages.
//
// Lexical rules, in brief:
//   - blanks, control characters, line breaks and `; comments` separate
//     tokens and are kept in the next token's Whitespace;
//   - & ( ) = [ ] | ~ are tokens of their own; so "=>" is "=" then ">";
//   - "..." is a string; a backslash takes the next character literally;
//   - anything else is a word, ended by a blank or control character, by the
//     end of input or by one of [ ] " & ( ) ; | ~, or by < after the first
//     character ("<-" and "<=" are words, "a<b" is "a" then "<b"); a
//     backslash takes the next character into the word;
//   - a word is a variable ("?x", "$?x"; "?" and "$?" alone get generated
//     names), an integer (32-bit decimal), a float (C syntax), or an atom.
// Bytes are bytes: NUL and bytes above 127 need no encoding; NUL separates
// words like a blank.
//
// Reading is expression by expression: when its buffer is empty, NextToken
// reads tokens up to the `)` that closes the first one (or one bare token, or
// up to the end of input) and then hands them out one by one. Depth() is the
// nesting of the tokens handed out so far, which MoveToNextConstruct uses to
// skip the rest of a broken expression. The echo (ToString) holds the tokens
// of the current expression handed out so far.
//
// Nothing recurses on the input and every token is built in time linear in
// its length, so any input, however deep or long, is read in linear time; a
// single expression is held in memory whole, packed: a token read ahead
// costs its text, its whitespace and a few bytes more, not a token object,
// so an expression that never ends (a file of "(") costs a small multiple of
// its size.
//
// Ownership: the stream owns its tokens until it hands them out (shared
// afterwards) and the text it was given (or borrows it, see BorrowText); it
// borrows an istream, which must outlive it. Not copyable.
//
// Thread safety: none; use a stream on one thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/engine/engine_parser.h"
#include "zephro/values/stream_token.h"

namespace zephro {

// Makes a fresh name from `prefix`, as the engine's GenerateSymbol does.
using TSymbolGenerator = std::function<std::string(std::string_view prefix)>;

class TIEClipsStream final : public TIETokenizerStream {
 public:
  // What GetChar and PeekChar return at the end of input.
  static constexpr int kEndOfInput = -1;
  static constexpr std::size_t kDefaultChunkSize = 64 * 1024;

  // Reads `text`. `generate_symbol` names the anonymous variables "?" and
  // "$?"; when it is empty the stream numbers them itself from 0.
  explicit TIEClipsStream(std::string text, TSymbolGenerator generate_symbol = {});
  // Reads `text` in place, without a copy: the text must outlive the stream.
  struct BorrowText {};
  TIEClipsStream(BorrowText, std::string_view text, TSymbolGenerator generate_symbol = {});
  // Reads `input` from its current position, `chunk_size` bytes at a time.
  explicit TIEClipsStream(std::istream& input, TSymbolGenerator generate_symbol = {},
                          std::size_t chunk_size = kDefaultChunkSize);
  TIEClipsStream(const TIEClipsStream&) = delete;
  TIEClipsStream& operator=(const TIEClipsStream&) = delete;
  ~TIEClipsStream() override;

  // --- tokens ---

  // The next token; at the end of input, an end token (DataType kEndToken)
  // every time. Raises EIEParseException "Invalid string value, string was not
  // terminated" (with the line the string began on) for a string that the
  // input ends inside.
  Ref<IStreamToken> NextToken() override;
  // Makes `token` the next token NextToken returns, removes it from the echo
  // and undoes its effect on Depth(). Tokens are put back in the reverse
  // order of reading; GetCurrentToken then answers the token read before it.
  void PutBackToken(Ref<IStreamToken> token) override;
  // The last token handed out (and not put back); reads one when there is none.
  Ref<IStreamToken> GetCurrentToken();
  // Looks ahead without consuming anything: when the last token handed out is
  // "(", at the token after it; otherwise at the token after the first "(" of
  // the current expression's look-ahead (reading the next expression when
  // none is buffered). Returns that token's text if it is an atom, a variable
  // (its name) or "=", else "". Costs the distance to that "(".
  std::string Head();
  // Error recovery: drops the rest of the current expression, so that the
  // next token is the first one after it (or the end token), and sets Depth()
  // to 0.
  void MoveToNextConstruct();
  // Drops the look-ahead, the echo, the current token and the depth. Lines,
  // position and pending whitespace stay.
  void Clear();
  // Clears as Clear does, then drops the rest of the input line the reading
  // position is on, unless a line break was the last character read.
  void DiscardUntilEOL();

  // Parenthesis nesting of the tokens handed out in the current expression.
  int Depth() const noexcept { return depth_; }
  // The line of the reading position (the look-ahead may be ahead of the
  // tokens handed out).
  std::int32_t LineNumber() const noexcept override { return line_; }
  void SetLineNumber(std::int32_t line) noexcept { line_ = line; }
  // The echo: the current expression's tokens handed out so far, each
  // followed by one blank, with a line break before a token on a later line
  // than the one before it.
  // Made when asked (a parse error asks), from the tokens handed out.
  const std::string& ToString() const;
  // How many tokens of an expression the look-ahead keeps as objects; the
  // rest of a longer one it packs into bytes.
  static constexpr std::size_t kTokensKeptWhole = 1024;
  // Bytes the look-ahead's tables hold; for tests of what input costs.
  std::size_t LookAheadCapacity() const noexcept { return look_ahead_.Capacity(); }

  // --- characters ---
  // These work at the reading position, which is past any token read ahead.

  // The next byte (0..255) or kEndOfInput. A line feed counts a line.
  int GetChar() {
    if (!HasByte()) {
      return kEndOfInput;
    }
    unsigned char c = static_cast<unsigned char>(*pos_++);
    if (c == '\n') {
      ++line_;
    }
    return c;
  }
  int PeekChar() {
    return HasByte() ? static_cast<unsigned char>(*pos_) : kEndOfInput;
  }
  bool IsEof() { return !HasByte(); }
  // The rest of the current line without its line break, which is read and
  // counted ("\r\n", "\r" or "\n").
  std::string GetLine();
  // Reads one token, bypassing the look-ahead and the echo. Mixing it with
  // NextToken while tokens are buffered reads them out of order.
  Ref<IStreamToken> BuildNextToken();
  // Blanks and comments read since the last token was built.
  const std::string& PendingWhitespace() const noexcept { return pending_; }

 private:
  enum class TokenHint { kEnd, kWord, kString, kPunctuation };

  bool HasByte() { return pos_ != end_ || Refill(); }
  // Loads the next chunk of the istream; false at its end. Keeps the last
  // byte read before the new chunk so the previous byte stays visible.
  bool Refill();
  // Adds the blanks and control characters before the next visible byte to
  // the pending whitespace; stops after a line break ("\r\n", "\r" or "\n"),
  // which it counts, and answers whether it read one.
  bool SkipInLineSpaces();
  // Appends the line break starting with `c` (already read) to `out` unless
  // it is null, taking the "\n" of a "\r\n" with it, and counts one line.
  void TakeLineBreak(char c, std::string* out);
  // Reads the rest of the line and its line break, appending the text to
  // `out` unless it is null, and the break too when `keep_break`. False when
  // the input ended before a line break.
  bool ReadLineInto(std::string* out, bool keep_break);
  // Adds the byte at the reading position to the token text, literally.
  void TakeEscaped();
  Ref<TIEStreamToken> ReadWord(char first);
  Ref<TIEStreamToken> ReadString();
  Ref<TIEStreamToken> FinishToken(TokenHint hint);
  Ref<TIEStreamToken> FinishWord();
  // A token on the current line that takes the pending whitespace.
  Ref<TIEStreamToken> MakeToken(std::int32_t data_type, std::string text, double number = 0);
  std::string GenerateSymbol(std::string_view prefix);
  void PrepareSExp();

  // The input: [pos_, end_) is unread; buffer_ holds it (all of it for a text
  // given as a string, nothing for a borrowed one); begin_ is the start of
  // the whole input.
  std::string buffer_;
  const char* begin_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  std::istream* input_ = nullptr;  // not owned; null when reading a text
  std::size_t chunk_size_ = 0;

  TSymbolGenerator generate_symbol_;
  std::uint32_t own_symbols_ = 0;
  std::int32_t line_ = 1;
  std::string token_text_;
  std::string pending_;

  // The look-ahead: tokens put back, then the tokens read ahead. The first
  // kTokensKeptWhole of an expression are kept as they were made; the rest
  // of a longer one are packed into bytes (see clips_stream.cc) and made
  // into token objects again as they are handed out, so that an expression
  // of millions of tokens costs bytes, not objects.
  class TTokenQueue {
   public:
    // A token's kind and text, read without making the token.
    struct TPeek {
      std::int32_t data_type;
      std::string_view text;
    };

    bool Empty() const noexcept {
      return put_back_.empty() && next_kept_ == kept_.size() && read_ == bytes_.size();
    }
    void PushBack(Ref<IStreamToken> token);
    void PushFront(Ref<IStreamToken> token) { put_back_.push_back(std::move(token)); }
    // REQUIRES: !Empty().
    Ref<IStreamToken> PopFront();
    // Shows `visit` the tokens front first until it answers true; true when
    // it did.
    template <class Visit>
    bool Peek(Visit&& visit) const;
    void Clear() noexcept;
    // Bytes of its own tables (the kept tokens' objects aside), for tests of
    // what unfinished input costs.
    std::size_t Capacity() const noexcept {
      return bytes_.capacity() + kept_.capacity() * sizeof(Ref<IStreamToken>);
    }

   private:
    // Decodes the token at `at` (advanced past it); `line` is the line of the
    // token before it, and becomes this one's.
    static TPeek Decode(std::string_view bytes, std::size_t& at, std::int32_t& line,
                        std::string_view* whitespace, double* number);

    // Packs `token` behind the bytes.
    void Pack(const IStreamToken& token);

    std::vector<Ref<IStreamToken>> put_back_;  // the front is at the back
    std::vector<Ref<IStreamToken>> kept_;      // read ahead, kept whole
    std::size_t next_kept_ = 0;                // the next one handed out
    std::string bytes_;                        // read ahead after kept_
    std::size_t read_ = 0;              // where the next packed token starts
    std::int32_t read_line_ = 0;        // the line of the token before it
    std::int32_t written_line_ = 0;     // the line of the last token packed
  };

  TTokenQueue look_ahead_;
  Ref<IStreamToken> current_;
  int depth_ = 0;
  // One per token handed out in the current expression: the token current
  // before it, which PutBackToken makes current again. Token i of the
  // expression is the previous token of the one after it, the last is
  // current_: the echo is made from them.
  std::vector<Ref<IStreamToken>> handed_out_;
  mutable std::string echo_;  // see ToString
};

}  // namespace zephro
