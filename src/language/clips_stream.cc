// The scanner reads a byte buffer through two pointers, [pos_, end_). Text
// given as a string is the whole buffer; an istream is read a chunk at a
// time, and the byte before the chunk is kept in front of it, so the last byte
// read can always be looked at (DiscardUntilEOL needs it).
//
// Words, strings and comments are read in runs: a table lookup per byte finds
// the end of a run of ordinary bytes and the run is appended in one piece. A
// token of n bytes therefore costs O(n) however many chunks it spans, and the
// per-byte work is a compare and an increment.
//
// The look-ahead is a loop over tokens that counts parentheses; nothing in
// this file recurses on the input. It holds a whole expression, so it keeps
// tokens packed rather than as objects of a hundred bytes each: per token, its
// kind and whether its text is written out (the text of a punctuation token
// is its character), its line as the difference from the token before, the
// lengths of its text and its whitespace (variable-length integers, one byte
// each when below 128), the two texts, and for a number its double. A "(" is
// then three bytes; a token object is made when the token is handed out.

#include "zephro/language/clips_stream.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <istream>
#include <system_error>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {
namespace {

constexpr std::int32_t kVariable = TokenType(TIEType::dtVariable);
constexpr std::int32_t kMultiVariable = TokenType(TIEType::dtMultiVariable);

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLineBreak(char c) { return c == '\n' || c == '\r'; }

// What a byte does inside a word.
enum class WordByte : std::uint8_t {
  kOrdinary,
  kBlank,      // code 32 or below: ends the word, goes to the whitespace
  kDelimiter,  // [ ] " & ( ) ; < | ~ : ends the word, starts the next token
  kEscape,     // backslash
};

constexpr std::array<WordByte, 256> MakeWordBytes() {
  std::array<WordByte, 256> bytes{};
  for (std::size_t c = 0; c <= ' '; ++c) {
    bytes[c] = WordByte::kBlank;
  }
  for (char c : std::string_view("[]\"&();<|~")) {
    bytes[static_cast<unsigned char>(c)] = WordByte::kDelimiter;
  }
  bytes['\\'] = WordByte::kEscape;
  return bytes;
}
constexpr std::array<WordByte, 256> kWordBytes = MakeWordBytes();

// Bytes that interrupt a run inside a string.
constexpr std::array<bool, 256> MakeStringStops() {
  std::array<bool, 256> stops{};
  stops['"'] = stops['\\'] = stops['\r'] = stops['\n'] = true;
  return stops;
}
constexpr std::array<bool, 256> kStringStops = MakeStringStops();

int DepthChange(std::int32_t data_type) {
  return data_type == '(' ? 1 : data_type == ')' ? -1 : 0;
}

enum class NumberKind { kNone, kInteger, kFloat };

// number := ("+" | "-")? (digit | "." digit) ...
// The whole word must read as a 32-bit decimal integer, or else as a
// floating-point number in C syntax. A word that only reads as a number too
// large or too small for a double stays an atom, so it prints back as
// written; "inf" and "nan" never start with a digit and are atoms too.
NumberKind ReadNumber(std::string_view word, double& number) {
  std::string_view unsigned_part = word;
  if (!unsigned_part.empty() && (unsigned_part[0] == '+' || unsigned_part[0] == '-')) {
    unsigned_part.remove_prefix(1);
  }
  bool numeric_start =
      !unsigned_part.empty() &&
      (IsDigit(unsigned_part[0]) ||
       (unsigned_part[0] == '.' && unsigned_part.size() > 1 && IsDigit(unsigned_part[1])));
  if (!numeric_start) {
    return NumberKind::kNone;
  }
  // from_chars takes a minus sign but not a plus sign.
  const char* first = word[0] == '+' ? word.data() + 1 : word.data();
  const char* last = word.data() + word.size();
  std::int32_t integer = 0;
  if (auto [end, error] = std::from_chars(first, last, integer);
      error == std::errc() && end == last) {
    number = integer;
    return NumberKind::kInteger;
  }
  double real = 0;
  if (auto [end, error] = std::from_chars(first, last, real);
      error == std::errc() && end == last) {
    number = real;
    return NumberKind::kFloat;
  }
  return NumberKind::kNone;
}

}  // namespace

TIEClipsStream::TIEClipsStream(std::string text, TSymbolGenerator generate_symbol)
    : buffer_(std::move(text)), generate_symbol_(std::move(generate_symbol)) {
  begin_ = pos_ = buffer_.data();
  end_ = pos_ + buffer_.size();
}

TIEClipsStream::TIEClipsStream(BorrowText, std::string_view text,
                               TSymbolGenerator generate_symbol)
    : generate_symbol_(std::move(generate_symbol)) {
  begin_ = pos_ = text.data();
  end_ = pos_ + text.size();
}

TIEClipsStream::TIEClipsStream(std::istream& input, TSymbolGenerator generate_symbol,
                               std::size_t chunk_size)
    : buffer_("\n"),  // the start of input counts as the start of a line
      input_(&input),
      chunk_size_(std::max<std::size_t>(chunk_size, 1)),
      generate_symbol_(std::move(generate_symbol)) {
  begin_ = buffer_.data();
  pos_ = end_ = begin_ + 1;
}

TIEClipsStream::~TIEClipsStream() = default;

bool TIEClipsStream::Refill() {
  if (input_ == nullptr || !*input_) {
    return false;
  }
  char last = pos_[-1];
  buffer_.resize(chunk_size_ + 1);
  buffer_[0] = last;
  input_->read(buffer_.data() + 1, static_cast<std::streamsize>(chunk_size_));
  begin_ = buffer_.data();
  pos_ = begin_ + 1;
  end_ = pos_ + input_->gcount();
  return pos_ != end_;
}

// --- characters ---------------------------------------------------------------

void TIEClipsStream::TakeLineBreak(char c, std::string* out) {
  if (out != nullptr) {
    *out += c;
  }
  if (c == '\r' && HasByte() && *pos_ == '\n') {
    ++pos_;
    if (out != nullptr) {
      *out += '\n';
    }
  }
  ++line_;
}

bool TIEClipsStream::ReadLineInto(std::string* out, bool keep_break) {
  for (;;) {
    const char* run = pos_;
    while (pos_ != end_ && !IsLineBreak(*pos_)) {
      ++pos_;
    }
    if (out != nullptr) {
      out->append(run, pos_);
    }
    if (pos_ != end_) {
      break;
    }
    if (!Refill()) {
      return false;
    }
  }
  char c = *pos_++;
  TakeLineBreak(c, keep_break ? out : nullptr);
  return true;
}

std::string TIEClipsStream::GetLine() {
  std::string line;
  ReadLineInto(&line, false);
  return line;
}

bool TIEClipsStream::SkipInLineSpaces() {
  while (HasByte()) {
    char c = *pos_;
    if (Byte(c) > ' ') {
      return false;
    }
    ++pos_;
    if (IsLineBreak(c)) {
      TakeLineBreak(c, &pending_);
      return true;
    }
    pending_ += c;
  }
  return false;
}

// --- building tokens ----------------------------------------------------------

// token := punctuation | string | word;  punctuation := & ( ) = [ ] | ~
// Blanks, line breaks and comments (";" to the end of the line) before the
// token become its whitespace.
Ref<IStreamToken> TIEClipsStream::BuildNextToken() {
  token_text_.clear();
  for (;;) {
    while (SkipInLineSpaces()) {
    }
    if (!HasByte()) {
      return FinishToken(TokenHint::kEnd);
    }
    char c = *pos_++;
    switch (c) {
      case '=':
      case '&':
      case '(':
      case ')':
      case '[':
      case ']':
      case '|':
      case '~':
        token_text_ = c;
        return FinishToken(TokenHint::kPunctuation);
      case '"':
        return ReadString();
      case ';':
        pending_ += c;
        ReadLineInto(&pending_, true);
        break;
      default:
        return ReadWord(c);
    }
  }
}

// word := (ordinary | "\" any)+, ended by a blank, a delimiter or the end.
// `<` is ordinary as the first byte only.
Ref<TIEStreamToken> TIEClipsStream::ReadWord(char first) {
  if (first != '\\') {
    token_text_ += first;
  } else if (HasByte()) {
    TakeEscaped();
  }
  for (;;) {
    const char* run = pos_;
    while (pos_ != end_ && kWordBytes[Byte(*pos_)] == WordByte::kOrdinary) {
      ++pos_;
    }
    token_text_.append(run, pos_);
    if (!HasByte()) {
      return FinishToken(TokenHint::kEnd);
    }
    char c = *pos_;
    switch (kWordBytes[Byte(c)]) {
      case WordByte::kOrdinary:  // the run above stopped at the end of a chunk
        continue;
      case WordByte::kDelimiter:
        return FinishToken(TokenHint::kWord);
      case WordByte::kEscape:
        ++pos_;
        if (!HasByte()) {  // a backslash at the very end ends the word
          return FinishToken(TokenHint::kEnd);
        }
        TakeEscaped();
        continue;
      case WordByte::kBlank: {
        // The blank belongs to the next token's whitespace, and a line break
        // is counted after the word, which keeps the line it stands on.
        ++pos_;
        Ref<TIEStreamToken> word = FinishToken(TokenHint::kWord);
        if (IsLineBreak(c)) {
          TakeLineBreak(c, &pending_);
        } else {
          pending_ += c;
        }
        return word;
      }
    }
  }
}

void TIEClipsStream::TakeEscaped() {
  char c = *pos_++;
  if (IsLineBreak(c)) {
    TakeLineBreak(c, &token_text_);
  } else {
    token_text_ += c;
  }
}

// string := '"' (any but '"' and "\" | "\" any)* '"'
// Line breaks stay in the string and are counted.
Ref<TIEStreamToken> TIEClipsStream::ReadString() {
  std::int32_t first_line = line_;
  for (;;) {
    const char* run = pos_;
    while (pos_ != end_ && !kStringStops[Byte(*pos_)]) {
      ++pos_;
    }
    token_text_.append(run, pos_);
    if (!HasByte()) {
      throw EIEParseException(SUnterminatedString, first_line);
    }
    if (!kStringStops[Byte(*pos_)]) {  // the run stopped at the end of a chunk
      continue;
    }
    char c = *pos_++;
    if (c == '"') {
      return FinishToken(TokenHint::kString);
    }
    if (c == '\\') {
      if (!HasByte()) {
        throw EIEParseException(SUnterminatedString, first_line);
      }
      TakeEscaped();
    } else if (IsLineBreak(c)) {
      TakeLineBreak(c, &token_text_);
    }
  }
}

Ref<TIEStreamToken> TIEClipsStream::FinishToken(TokenHint hint) {
  switch (hint) {
    case TokenHint::kEnd:
      if (!token_text_.empty()) {
        return FinishWord();
      }
      return MakeToken(kEndToken, "EOF");
    case TokenHint::kWord:
      return FinishWord();
    case TokenHint::kString:
      return MakeToken(TokenType(TIEType::dtString), std::move(token_text_));
    case TokenHint::kPunctuation: {
      std::int32_t data_type = Byte(token_text_[0]);
      return MakeToken(data_type, std::move(token_text_));
    }
  }
  RaiseIE(SInvalidTokenHint, std::to_string(static_cast<int>(hint)).c_str());
}

// variable := "?" name? ;  multi-variable := "$?" name?
Ref<TIEStreamToken> TIEClipsStream::FinishWord() {
  std::string_view word = token_text_;
  if (word == "?") {
    return MakeToken(kVariable, GenerateSymbol(SBlankPrefix));
  }
  if (word == "$?") {
    return MakeToken(kMultiVariable, GenerateSymbol(SBlankMulti));
  }
  if (word.starts_with("$?")) {
    return MakeToken(kMultiVariable, std::string(word.substr(2)));
  }
  if (word.starts_with('?')) {
    return MakeToken(kVariable, std::string(word.substr(1)));
  }
  double number = 0;
  switch (ReadNumber(word, number)) {
    case NumberKind::kInteger:
      return MakeToken(TokenType(TIEType::dtInteger), std::move(token_text_), number);
    case NumberKind::kFloat:
      return MakeToken(TokenType(TIEType::dtFloat), std::move(token_text_), number);
    case NumberKind::kNone:
      break;
  }
  return MakeToken(TokenType(TIEType::dtAtom), std::move(token_text_));
}

Ref<TIEStreamToken> TIEClipsStream::MakeToken(std::int32_t data_type, std::string text,
                                              double number) {
  return MakeRef<TIEStreamToken>(data_type, std::move(text), line_, number,
                                 std::exchange(pending_, std::string()));
}

std::string TIEClipsStream::GenerateSymbol(std::string_view prefix) {
  if (generate_symbol_) {
    return generate_symbol_(prefix);
  }
  return std::string(prefix) + std::to_string(own_symbols_++);
}

// --- the look-ahead ---------------------------------------------------------------

namespace {

bool HasNumber(std::int32_t data_type) {
  return data_type == TokenType(TIEType::dtInteger) || data_type == TokenType(TIEType::dtFloat);
}

void PutVarint(std::string& out, std::uint64_t n) {
  while (n >= 0x80) {
    out += static_cast<char>((n & 0x7f) | 0x80);
    n >>= 7;
  }
  out += static_cast<char>(n);
}

std::uint64_t GetVarint(std::string_view in, std::size_t& at) {
  std::uint64_t n = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<std::uint8_t>(in[at++]);
    n |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) {
      return n;
    }
  }
}

// Signed differences as varints: 0, -1, 1, -2 ... become 0, 1, 2, 3 ...
std::uint64_t ZigZag(std::int64_t n) {
  return (static_cast<std::uint64_t>(n) << 1) ^ static_cast<std::uint64_t>(n >> 63);
}
std::int64_t UnZigZag(std::uint64_t n) {
  return static_cast<std::int64_t>(n >> 1) ^ -static_cast<std::int64_t>(n & 1);
}

}  // namespace

// Each byte once, for the texts of punctuation tokens.
constexpr std::array<char, 256> MakeAllBytes() {
  std::array<char, 256> bytes{};
  for (std::size_t c = 0; c < bytes.size(); ++c) {
    bytes[c] = static_cast<char>(c);
  }
  return bytes;
}
constexpr std::array<char, 256> kAllBytes = MakeAllBytes();

// True when `token`'s text is the character its kind names.
bool TextIsKind(std::int32_t data_type, std::string_view text) {
  return data_type > 0 && data_type < 256 && text.size() == 1 &&
         static_cast<unsigned char>(text[0]) == data_type;
}

void TIEClipsStream::TTokenQueue::PushBack(Ref<IStreamToken> token) {
  if (kept_.size() < kTokensKeptWhole) {
    kept_.push_back(std::move(token));
  } else {
    Pack(*token);
  }
}

void TIEClipsStream::TTokenQueue::Pack(const IStreamToken& token) {
  const std::int32_t data_type = token.DataType();
  const bool text_written = !TextIsKind(data_type, token.Text());
  PutVarint(bytes_, (static_cast<std::uint64_t>(static_cast<std::uint32_t>(data_type)) << 1) |
                        (text_written ? 1 : 0));
  PutVarint(bytes_, ZigZag(std::int64_t{token.LineNumber()} - written_line_));
  written_line_ = token.LineNumber();
  if (text_written) {
    PutVarint(bytes_, token.Text().size());
    bytes_ += token.Text();
  }
  PutVarint(bytes_, token.Whitespace().size());
  bytes_ += token.Whitespace();
  if (HasNumber(data_type)) {
    const double number = token.Number();
    bytes_.append(reinterpret_cast<const char*>(&number), sizeof number);
  }
}

TIEClipsStream::TTokenQueue::TPeek TIEClipsStream::TTokenQueue::Decode(
    std::string_view bytes, std::size_t& at, std::int32_t& line, std::string_view* whitespace,
    double* number) {
  TPeek peek{};
  const std::uint64_t kind = GetVarint(bytes, at);
  peek.data_type = static_cast<std::int32_t>(kind >> 1);
  line = static_cast<std::int32_t>(line + UnZigZag(GetVarint(bytes, at)));
  if ((kind & 1) != 0) {
    const std::size_t text_size = GetVarint(bytes, at);
    peek.text = bytes.substr(at, text_size);
    at += text_size;
  } else {
    peek.text = std::string_view(&kAllBytes[static_cast<std::size_t>(peek.data_type)], 1);
  }
  const std::size_t whitespace_size = GetVarint(bytes, at);
  if (whitespace != nullptr) {
    *whitespace = bytes.substr(at, whitespace_size);
  }
  at += whitespace_size;
  if (HasNumber(peek.data_type)) {
    if (number != nullptr) {
      std::copy_n(bytes.data() + at, sizeof *number, reinterpret_cast<char*>(number));
    }
    at += sizeof(double);
  }
  return peek;
}

Ref<IStreamToken> TIEClipsStream::TTokenQueue::PopFront() {
  if (!put_back_.empty()) {
    Ref<IStreamToken> token = std::move(put_back_.back());
    put_back_.pop_back();
    return token;
  }
  if (next_kept_ < kept_.size()) {
    Ref<IStreamToken> token = std::move(kept_[next_kept_++]);
    if (next_kept_ == kept_.size() && bytes_.empty()) {
      Clear();  // spent
    }
    return token;
  }
  std::string_view whitespace;
  double number = 0;
  const TPeek peek = Decode(bytes_, read_, read_line_, &whitespace, &number);
  Ref<IStreamToken> token = MakeRef<TIEStreamToken>(peek.data_type, std::string(peek.text),
                                                    read_line_, number,
                                                    std::string(whitespace));
  if (read_ == bytes_.size()) {
    Clear();  // the packed tokens are spent: their bytes go
  }
  return token;
}

template <class Visit>
bool TIEClipsStream::TTokenQueue::Peek(Visit&& visit) const {
  for (auto it = put_back_.rbegin(); it != put_back_.rend(); ++it) {
    if (visit(TPeek{(*it)->DataType(), (*it)->Text()})) {
      return true;
    }
  }
  for (std::size_t i = next_kept_; i < kept_.size(); ++i) {
    if (visit(TPeek{kept_[i]->DataType(), kept_[i]->Text()})) {
      return true;
    }
  }
  std::size_t at = read_;
  std::int32_t line = read_line_;
  while (at < bytes_.size()) {
    if (visit(Decode(bytes_, at, line, nullptr, nullptr))) {
      return true;
    }
  }
  return false;
}

void TIEClipsStream::TTokenQueue::Clear() noexcept {
  put_back_.clear();
  kept_.clear();
  next_kept_ = 0;
  bytes_.clear();
  bytes_.shrink_to_fit();
  read_ = 0;
  read_line_ = 0;
  written_line_ = 0;
}

// Reads one top-level expression: tokens up to the one that brings the depth
// back to zero, a single token that does not open one, or up to the end
// token. Nothing is kept when a token cannot be read: the error has consumed
// the rest of the input.
void TIEClipsStream::PrepareSExp() {
  handed_out_.clear();
  depth_ = 0;
  TTokenQueue queue;
  int depth = 0;
  do {
    Ref<IStreamToken> token = BuildNextToken();
    const std::int32_t data_type = token->DataType();
    queue.PushBack(std::move(token));
    if (data_type == kEndToken) {
      break;
    }
    depth += DepthChange(data_type);
  } while (depth > 0);
  look_ahead_ = std::move(queue);
}

Ref<IStreamToken> TIEClipsStream::NextToken() {
  if (look_ahead_.Empty()) {
    PrepareSExp();
  }
  Ref<IStreamToken> token = look_ahead_.PopFront();
  handed_out_.push_back(std::move(current_));
  depth_ += DepthChange(token->DataType());
  current_ = token;
  return token;
}

void TIEClipsStream::PutBackToken(Ref<IStreamToken> token) {
  if (!token) {
    return;
  }
  depth_ -= DepthChange(token->DataType());
  if (!handed_out_.empty()) {
    current_ = std::move(handed_out_.back());
    handed_out_.pop_back();
  }
  look_ahead_.PushFront(std::move(token));
}

const std::string& TIEClipsStream::ToString() const {
  // Each token followed by one blank, a line break before a token on a later
  // line than the one before it.
  echo_.clear();
  std::int32_t last_line = 0;
  for (std::size_t i = 0; i < handed_out_.size(); ++i) {
    const IStreamToken* token =
        i + 1 < handed_out_.size() ? handed_out_[i + 1].get() : current_.get();
    if (token == nullptr) {
      break;
    }
    if (i > 0 && token->LineNumber() > last_line) {
      echo_ += '\n';
    }
    last_line = token->LineNumber();
    echo_ += token->ToString();
    echo_ += ' ';
  }
  return echo_;
}

Ref<IStreamToken> TIEClipsStream::GetCurrentToken() {
  return current_ ? current_ : NextToken();
}

std::string TIEClipsStream::Head() {
  // The token after the "(": the next one when the last token handed out is
  // one, else the one after the first "(" read ahead.
  bool after_open = current_ && current_->IsChar('(');
  if (!after_open && look_ahead_.Empty()) {
    PrepareSExp();
  }
  std::string head;
  look_ahead_.Peek([&](const TTokenQueue::TPeek& token) {
    if (!after_open) {
      after_open = token.data_type == '(';
      return false;
    }
    if (token.data_type == TokenType(TIEType::dtAtom) ||
        token.data_type == TokenType(TIEType::dtVariable) ||
        token.data_type == TokenType(TIEType::dtMultiVariable) || token.data_type == '=') {
      head = token.text;
    }
    return true;
  });
  return head;
}

void TIEClipsStream::MoveToNextConstruct() {
  while (depth_ > 0 && !look_ahead_.Empty()) {
    std::int32_t data_type = kEndToken;
    look_ahead_.Peek([&](const TTokenQueue::TPeek& token) {
      data_type = token.data_type;
      return true;
    });
    if (data_type == kEndToken) {
      break;
    }
    depth_ += DepthChange(data_type);
    look_ahead_.PopFront();
  }
  depth_ = 0;
}

void TIEClipsStream::Clear() {
  look_ahead_.Clear();
  current_ = nullptr;
  depth_ = 0;
  handed_out_.clear();
}

void TIEClipsStream::DiscardUntilEOL() {
  Clear();
  bool at_line_start = pos_ == begin_ || IsLineBreak(pos_[-1]);
  if (!at_line_start) {
    ReadLineInto(nullptr, false);
  }
}

}  // namespace zephro
