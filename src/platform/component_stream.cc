#include "zephro/platform/component_stream.h"

// Writing walks the tree once, building the text in a string that reaches the
// output only when the whole tree is written, so a failed write leaves nothing
// half-done behind. Reading is a recursive descent over a token stream with two
// tokens of lookahead (enough to tell the keywords object and end from properties
// of those names). What a read changes is recorded as it goes: the components it
// makes, the components it loads into and the references it sets, so that a
// failure anywhere can give back what was made and clear what points to it.

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <exception>
#include <istream>
#include <iterator>
#include <limits>
#include <ostream>
#include <streambuf>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/object.h"
#include "zephro/platform/scope_exit.h"

#include "platform/ascii.h"

namespace zephro {
namespace {

constexpr std::string_view kHeaderWord = "zephro-stream";
constexpr std::size_t kMaxIdentBytes = 255;
constexpr std::size_t kMaxNumberBytes = 1024;
constexpr std::size_t kMaxStringBytes = std::size_t{64} << 20;
constexpr std::string_view kIndentUnit = "  ";

bool IsIdentStart(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsIdentChar(int c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}

bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

bool IsIdent(std::string_view text) {
  if (text.empty() || text.size() > kMaxIdentBytes || !IsIdentStart(text[0])) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), [](char c) { return IsIdentChar(c); });
}

// Words that stand for values where a value is expected.
bool IsValueKeyword(std::string_view text) {
  return text == "nil" || text == "inf" || text == "nan" || text == "object";
}

// An identifier a value position reads as that identifier.
bool IsPlainIdent(std::string_view text) {
  return IsIdent(text) && !IsValueKeyword(text);
}

// The length of the valid UTF-8 sequence for a character from U+00A0 up that
// starts text[i], or 0.
std::size_t PrintableUtf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - i < length) {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) {
      return 0;
    }
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool valid = code >= kMinimum[length] && code <= 0x10FFFF &&
                     !(code >= 0xD800 && code <= 0xDFFF) && code >= 0xA0;
  return valid ? length : 0;
}

// string := piece+; see the grammar in the header.
std::string QuoteString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  bool quoted = false;
  const auto quote = [&](bool open) {
    if (quoted != open) {
      out += '\'';
      quoted = open;
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      quote(true);
      out += c == '\'' ? "''" : std::string(1, static_cast<char>(c));
    } else if (const std::size_t length = c >= 0x80 ? PrintableUtf8Length(text, i) : 0) {
      quote(true);
      out.append(text.substr(i, length));
      i += length - 1;
    } else {
      quote(false);
      out += '#';
      out += std::to_string(c);
    }
  }
  if (out.empty()) {
    return "''";
  }
  quote(false);
  return out;
}

std::string FormatFloat(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value > 0 ? "inf" : "-inf";
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) {
    text += ".0";  // so that it reads back as a float
  }
  return text;
}

// A component name as the object line and references write it.
std::string NameText(const std::string& name) {
  return IsPlainIdent(name) ? name : QuoteString(name);
}

bool IsPart(const TObject* object) {
  return object != nullptr && dynamic_cast<const TComponent*>(object) == nullptr &&
         dynamic_cast<const TPersistent*>(object) != nullptr;
}

// The first component of each name in the tree below a root: the root, then each
// component before the ones it owns, in ownership order. The walk keeps its own
// stack, as trees made by hosts may nest deeper than the stream allows.
class TNameIndex {
 public:
  explicit TNameIndex(const TComponent& root) {
    std::vector<const TComponent*> stack{&root};
    while (!stack.empty()) {
      const TComponent* component = stack.back();
      stack.pop_back();
      if (!component->Name().empty()) {
        first_.emplace(AsciiLowerCase(component->Name()), const_cast<TComponent*>(component));
      }
      for (int i = component->ComponentCount() - 1; i >= 0; --i) {
        stack.push_back(&component->Component(i));
      }
    }
  }

  TComponent* Find(std::string_view name) const {
    const auto it = first_.find(AsciiLowerCase(name));
    return it == first_.end() ? nullptr : it->second;
  }

 private:
  std::unordered_map<std::string, TComponent*> first_;  // components not owned
};

// Counts the nesting of a stream against kMaxStreamDepth.
class TDepthGuard {
 public:
  template <class Fail>
  TDepthGuard(int& depth, Fail fail) : depth_(depth) {
    if (depth_ >= kMaxStreamDepth) {
      fail();
    }
    ++depth_;
  }
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;
  ~TDepthGuard() { --depth_; }

 private:
  int& depth_;
};

constexpr char kTooDeep[] = "Nesting deeper than %d levels";

// ---------------------------------------------------------------------------------
// Writing

class TTextWriter final : public TWriter {
 public:
  explicit TTextWriter(const TComponent& root) : names_(root) {}

  std::string TakeText() { return std::move(text_); }

  // stream := "zephro-stream" version LF object
  void WriteStream(const TComponent& root) {
    text_ += kHeaderWord;
    text_ += ' ';
    text_ += std::to_string(kStreamVersion);
    text_ += '\n';
    WriteObject(root);
  }

  // instance := "object" class property* "end"
  void WriteInstance(const TPersistent& instance) {
    if (!IsIdent(instance.ClassName())) {
      RaisePlatformError("Class name %s is not an identifier", instance.ClassName().c_str());
    }
    BeginValue();
    const TDepthGuard guard(depth_, [] { RaisePlatformError(kTooDeep, kMaxStreamDepth); });
    const int level = value_.level + static_cast<int>(value_.lists.size());
    text_ += "object ";
    text_ += instance.ClassName();
    text_ += '\n';
    TValueState outer = std::exchange(value_, TValueState{});
    value_.level = level + 1;
    ++instances_;
    WriteProperties(instance, "");
    --instances_;
    value_ = std::move(outer);
    Indent(level);
    text_ += "end";
  }

  void DefineProperty(std::string_view name, const TReaderProc& /*read*/, const TWriterProc& write,
                      bool has_data) override {
    if (!has_data || !write) {
      return;
    }
    if (!IsIdent(name)) {
      const std::string text(name);
      RaisePlatformError("Property name %s is not an identifier", text.c_str());
    }
    BeginProperty(prefix_ + std::string(name));
    write(*this);
    EndProperty();
  }

  void WriteInteger(std::int64_t value) override {
    BeginValue();
    text_ += std::to_string(value);
  }
  void WriteFloat(double value) override {
    BeginValue();
    text_ += FormatFloat(value);
  }
  void WriteString(std::string_view value) override {
    BeginValue();
    text_ += QuoteString(value);
  }
  void WriteBoolean(bool value) override {
    BeginValue();
    text_ += value ? "True" : "False";
  }
  void WriteIdent(std::string_view value) override {
    if (!IsPlainIdent(value)) {
      const std::string text(value);
      RaisePlatformError("%s cannot be written as an identifier", text.c_str());
    }
    BeginValue();
    text_ += value;
  }
  void WriteListBegin() override {
    BeginValue();
    text_ += '(';
    value_.lists.push_back(0);
    if (static_cast<int>(value_.lists.size()) + depth_ > kMaxStreamDepth) {
      RaisePlatformError(kTooDeep, kMaxStreamDepth);
    }
  }
  void WriteListEnd() override {
    if (value_.lists.empty()) {
      RaisePlatformError("WriteListEnd without WriteListBegin in property %s",
                         value_.property.c_str());
    }
    const int items = value_.lists.back();
    value_.lists.pop_back();
    if (items > 0) {
      Indent(value_.level + static_cast<int>(value_.lists.size()), true);
    }
    text_ += ')';
  }

 private:
  // Where the value being written goes: the property, its indentation and what it
  // has written so far. An instance inside a value starts a state of its own.
  struct TValueState {
    std::string property;  // empty outside a property
    int level = 0;
    std::vector<int> lists;  // the values written in each open list
    int values = 0;          // the values written outside lists: 1 when complete
  };

  void Indent(int level, bool new_line = false) {
    if (new_line) {
      text_ += '\n';
    }
    for (int i = 0; i < level; ++i) {
      text_ += kIndentUnit;
    }
  }

  // object := "object" [name ":"] class entry* "end"
  void WriteObject(const TComponent& component) {
    const TDepthGuard guard(depth_, [] { RaisePlatformError(kTooDeep, kMaxStreamDepth); });
    written_.insert(&component);
    Indent(value_.level);
    text_ += "object ";
    if (!component.Name().empty()) {
      text_ += NameText(component.Name());
      text_ += ": ";
    }
    text_ += component.ClassName();
    text_ += '\n';
    ++value_.level;
    WriteProperties(component, "");
    // A reader loads a second object of a name into the first component of it.
    std::unordered_set<std::string> names;
    component.GetChildren([&](TComponent& child) {
      if (!child.Name().empty() && !names.insert(AsciiLowerCase(child.Name())).second) {
        const std::string& owner =
            component.Name().empty() ? component.ClassName() : component.Name();
        RaisePlatformError("%s holds two components called %s", owner.c_str(),
                           child.Name().c_str());
      }
      WriteObject(child);
    });
    --value_.level;
    Indent(value_.level);
    text_ += "end\n";
  }

  // The published properties of `object`, then its custom ones, each path
  // starting with `prefix`.
  void WriteProperties(const TPersistent& object, const std::string& prefix) {
    const bool is_component = dynamic_cast<const TComponent*>(&object) != nullptr;
    for (const TPropertyInfo* property : object.ClassType().Properties()) {
      if (is_component && SameText(property->Name(), "Name")) {
        continue;  // the object line carries it
      }
      WritePublished(object, *property, prefix);
    }
    const std::string outer = std::exchange(prefix_, prefix);
    // Declaring properties changes nothing; the hook is shared with reading, which is
    // why it is not const.
    const_cast<TPersistent&>(object).DefineProperties(*this);
    prefix_ = outer;
  }

  void WritePublished(const TPersistent& object, const TPropertyInfo& property,
                      const std::string& prefix) {
    using enum TPropertyKind;
    if (property.Kind() == kMethod) {
      return;
    }
    const std::string path = prefix + property.Name();
    const TPropertyValue value = property.Get(object);
    if (property.Kind() == kClass) {
      const TObject* target = std::get<TObject*>(value);
      if (IsPart(target)) {
        const TDepthGuard guard(depth_, [] { RaisePlatformError(kTooDeep, kMaxStreamDepth); });
        WriteProperties(static_cast<const TPersistent&>(*target), path + ".");
        return;
      }
      if (property.IsReadOnly() || (target != nullptr && !IsComponent(target))) {
        return;
      }
      BeginProperty(path);
      WriteReference(path, static_cast<const TComponent*>(target));
      EndProperty();
      return;
    }
    if (property.IsReadOnly()) {
      return;
    }
    BeginProperty(path);
    switch (property.Kind()) {
      case kInteger:
        WriteInteger(std::get<std::int64_t>(value));
        break;
      case kFloat:
        WriteFloat(std::get<double>(value));
        break;
      case kString:
        WriteString(std::get<std::string>(value));
        break;
      case kEnumeration:
        WriteEnumeration(property, std::get<std::string>(value));
        break;
      case kSet:
        WriteSet(std::get<std::string>(value));
        break;
      case kClass:
      case kMethod:
        break;
    }
    EndProperty();
  }

  static bool IsComponent(const TObject* object) {
    return dynamic_cast<const TComponent*>(object) != nullptr;
  }

  // An element name, or its ordinal when the name cannot be read back as one.
  void WriteEnumeration(const TPropertyInfo& property, const std::string& name) {
    if (IsPlainIdent(name)) {
      WriteIdent(name);
      return;
    }
    const auto& names = property.ElementNames();
    const auto it = std::find(names.begin(), names.end(), name);
    std::int64_t ordinal = it - names.begin();
    if (it == names.end()) {
      // An ordinal without a name, which the property gives as its digits.
      std::from_chars(name.data(), name.data() + name.size(), ordinal);
    }
    WriteInteger(ordinal);
  }

  // set := "[" [element ("," element)*] "]", from the property's text "[a,b]".
  void WriteSet(std::string_view text) {
    BeginValue();
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
      text = text.substr(1, text.size() - 2);
    }
    text_ += '[';
    bool first = true;
    while (!text.empty()) {
      const std::size_t comma = text.find(',');
      const std::string element(text.substr(0, comma));
      text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
      if (!first) {
        text_ += ", ";
      }
      first = false;
      text_ += IsIdent(element) ? element : QuoteString(element);
    }
    text_ += ']';
  }

  void WriteReference(const std::string& path, const TComponent* target) {
    BeginValue();
    if (target == nullptr) {
      text_ += "nil";
      return;
    }
    if (target->Name().empty()) {
      RaisePlatformError("Property %s refers to a component without a name", path.c_str());
    }
    if (names_.Find(target->Name()) != target) {
      RaisePlatformError(
          "Property %s refers to %s, which is not the first component of that name in the "
          "stream",
          path.c_str(), target->Name().c_str());
    }
    if (instances_ > 0 && !written_.contains(target)) {
      // A reader resolves it as soon as the object value is read.
      RaisePlatformError(
          "Property %s of an object value refers to %s, which the stream holds later", path.c_str(),
          target->Name().c_str());
    }
    text_ += NameText(target->Name());
  }

  // property := path "=" value
  void BeginProperty(std::string path) {
    if (!value_.property.empty()) {
      RaisePlatformError("Property %s is written inside property %s", path.c_str(),
                         value_.property.c_str());
    }
    Indent(value_.level);
    text_ += path;
    text_ += " = ";
    value_.property = std::move(path);
    value_.values = 0;
  }

  void EndProperty() {
    if (!value_.lists.empty()) {
      RaisePlatformError("The writer of property %s left a list open", value_.property.c_str());
    }
    if (value_.values == 0) {
      RaisePlatformError("The writer of property %s wrote no value", value_.property.c_str());
    }
    text_ += '\n';
    value_.property.clear();
  }

  // Places the next value: on a line of its own inside a list; otherwise it must
  // be the one value of the current property.
  void BeginValue() {
    if (!value_.lists.empty()) {
      ++value_.lists.back();
      Indent(value_.level + static_cast<int>(value_.lists.size()), true);
      return;
    }
    if (value_.property.empty()) {
      RaisePlatformError("A value is written outside a property");
    }
    if (value_.values > 0) {
      RaisePlatformError("The writer of property %s wrote a second value", value_.property.c_str());
    }
    ++value_.values;
  }

  TNameIndex names_;
  std::string text_;
  TValueState value_;
  std::string prefix_;  // the path of the part whose DefineProperties runs
  int depth_ = 0;
  int instances_ = 0;                              // object values being written
  std::unordered_set<const TComponent*> written_;  // not owned: the object lines written
};

// ---------------------------------------------------------------------------------
// Reading

enum class TTokenKind : std::uint8_t { kEnd, kIdent, kInteger, kFloat, kString, kSymbol };

struct TToken {
  TTokenKind kind = TTokenKind::kEnd;
  char symbol = 0;
  std::string text;  // identifiers, strings and numbers as written
  std::int64_t integer = 0;
  double real = 0;
  int line = 1;

  bool IsIdent(std::string_view word) const { return kind == TTokenKind::kIdent && text == word; }
  bool IsSymbol(char c) const { return kind == TTokenKind::kSymbol && symbol == c; }
};

// Splits the stream into tokens. Reads the stream's buffer directly, a byte at a
// time; raises through `fail` with the line it stands at.
class TLexer {
 public:
  using TFail = std::function<void(int line, std::string message)>;

  TLexer(std::istream& in, TFail fail) : buffer_(in.rdbuf()), fail_(std::move(fail)) {}

  int Line() const { return line_; }

  // stream := "zephro-stream" version LF ...
  void ReadHeader() {
    std::string line;
    int c = Get();
    while (c != kEof && c != '\n' && line.size() < 64) {
      line += static_cast<char>(c);
      c = Get();
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
      line.pop_back();
    }
    if (line.substr(0, line.find(' ')) != kHeaderWord) {
      Fail(1, "Not a component stream: the first line is not " + std::string(kHeaderWord) + " " +
                  std::to_string(kStreamVersion));
    }
    std::string_view version = std::string_view(line).substr(kHeaderWord.size());
    const std::size_t blanks = version.find_first_not_of(' ');
    if (blanks == 0 || blanks == std::string_view::npos) {
      Fail(1, "The stream header has no version");
    }
    version.remove_prefix(blanks);
    if (!std::all_of(version.begin(), version.end(), IsDigit) ||
        version != std::to_string(kStreamVersion)) {
      Fail(1, "Stream version " + std::string(version) + " is not supported (this reader reads " +
                  std::to_string(kStreamVersion) + ")");
    }
    if (c != '\n') {
      Fail(1, "The stream ends after its header");
    }
  }

  TToken Next() {
    SkipBlanks();
    TToken token;
    token.line = line_;
    const int c = Peek();
    if (c == kEof) {
      token.kind = TTokenKind::kEnd;
    } else if (IsIdentStart(c)) {
      ReadIdent(token);
    } else if (IsDigit(c) || c == '-') {
      ReadNumber(token);
    } else if (c == '\'' || c == '#') {
      ReadString(token);
    } else if (std::string_view("=:.,[]()").find(static_cast<char>(c)) != std::string_view::npos) {
      Get();
      token.kind = TTokenKind::kSymbol;
      token.symbol = static_cast<char>(c);
    } else {
      Fail(line_, "Unexpected character " + QuoteString(std::string(1, static_cast<char>(c))));
    }
    return token;
  }

 private:
  static constexpr int kEof = std::char_traits<char>::eof();

  int Peek() { return buffer_ == nullptr ? kEof : buffer_->sgetc(); }
  int Get() {
    if (buffer_ == nullptr) {
      return kEof;
    }
    const int c = buffer_->sbumpc();
    if (c == '\n') {
      ++line_;
    }
    return c;
  }

  [[noreturn]] void Fail(int line, std::string message) {
    fail_(line, std::move(message));
    std::abort();  // fail_ throws
  }

  void SkipBlanks() {
    for (int c = Peek(); c == ' ' || c == '\t' || c == '\r' || c == '\n'; c = Peek()) {
      Get();
    }
  }

  // ident := [A-Za-z_][A-Za-z0-9_]*
  void ReadIdent(TToken& token) {
    token.kind = TTokenKind::kIdent;
    while (IsIdentChar(Peek())) {
      token.text += static_cast<char>(Get());
      if (token.text.size() > kMaxIdentBytes) {
        Fail(line_, "Identifier longer than " + std::to_string(kMaxIdentBytes) + " bytes");
      }
    }
  }

  void Digits(std::string& text) {
    if (!IsDigit(Peek())) {
      Fail(line_, "Malformed number " + text);
    }
    while (IsDigit(Peek())) {
      text += static_cast<char>(Get());
      if (text.size() > kMaxNumberBytes) {
        Fail(line_, "Number longer than " + std::to_string(kMaxNumberBytes) + " bytes");
      }
    }
  }

  // integer := "-"? digit+;  float := "-"? digit+ ("." digit+)? (exponent)? | "-inf"
  void ReadNumber(TToken& token) {
    std::string& text = token.text;
    if (Peek() == '-') {
      text += static_cast<char>(Get());
      if (Peek() == 'i') {
        TToken word;
        ReadIdent(word);
        if (word.text != "inf") {
          Fail(line_, "Malformed number -" + word.text);
        }
        token.kind = TTokenKind::kFloat;
        token.real = -std::numeric_limits<double>::infinity();
        text += word.text;
        return;
      }
    }
    Digits(text);
    bool is_float = false;
    if (Peek() == '.') {
      text += static_cast<char>(Get());
      Digits(text);
      is_float = true;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      text += static_cast<char>(Get());
      if (Peek() == '+' || Peek() == '-') {
        text += static_cast<char>(Get());
      }
      Digits(text);
      is_float = true;
    }
    if (IsIdentChar(Peek()) || Peek() == '.') {
      text += static_cast<char>(Get());
      Fail(line_, "Malformed number " + text);
    }
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const std::from_chars_result result = is_float ? std::from_chars(first, last, token.real)
                                                   : std::from_chars(first, last, token.integer);
    if (result.ec != std::errc() || result.ptr != last) {
      Fail(line_, "Number out of range: " + text);
    }
    token.kind = is_float ? TTokenKind::kFloat : TTokenKind::kInteger;
  }

  // string := piece+;  piece := "'" ... "'" | "#" digit+
  void ReadString(TToken& token) {
    token.kind = TTokenKind::kString;
    std::string& text = token.text;
    for (int c = Peek(); c == '\'' || c == '#'; c = Peek()) {
      Get();
      if (c == '#') {
        if (!IsDigit(Peek())) {
          Fail(line_, "Expected a character code after #");
        }
        std::string digits;
        Digits(digits);
        if (digits.size() > 3 || std::stoi(digits) > 255) {
          Fail(line_, "Character code #" + digits + " is not a byte");
        }
        text += static_cast<char>(std::stoi(digits));
      } else {
        for (;;) {
          c = Get();
          if (c == kEof || c == '\n') {
            Fail(c == '\n' ? line_ - 1 : line_, "Unterminated string");
          }
          if (c == '\'') {
            if (Peek() != '\'') {
              break;
            }
            Get();
          }
          text += static_cast<char>(c);
          if (text.size() > kMaxStringBytes) {
            Fail(line_, "String longer than " + std::to_string(kMaxStringBytes) + " bytes");
          }
        }
      }
    }
  }

  std::streambuf* buffer_;  // not owned
  TFail fail_;
  int line_ = 1;
};

// How errors name a value kind, by TValueKind.
constexpr const char* kValueKindTexts[] = {
    "an integer", "a float", "a string", "an identifier", "nil", "a set", "a list", "an object",
};
static_assert(std::size(kValueKindTexts) == static_cast<std::size_t>(TValueKind::vaObject) + 1);

const char* ValueKindText(TValueKind kind) {
  return kValueKindTexts[static_cast<std::size_t>(kind)];
}

const char* ExpectedText(TPropertyKind kind) {
  switch (kind) {
    case TPropertyKind::kInteger:
      return "an integer";
    case TPropertyKind::kFloat:
      return "a number";
    case TPropertyKind::kString:
      return "a string";
    case TPropertyKind::kEnumeration:
      return "an identifier";
    case TPropertyKind::kSet:
      return "a set";
    case TPropertyKind::kClass:
      return "a component name or nil";
    case TPropertyKind::kMethod:
      break;
  }
  return "no value";
}

class TTextReader final : public TReader {
 public:
  explicit TTextReader(std::istream& in)
      : lexer_(in, [this](int line, std::string message) {
          line_ = line;
          throw EReadError(message, line);
        }) {}

  ~TTextReader() override {
    if (!committed_) {
      Abandon();
    }
  }

  struct TObjectHeader {
    std::string name;
    std::string class_name;
  };

  // stream := "zephro-stream" version LF "object" [name ":"] class ...
  TObjectHeader ReadHeader() {
    lexer_.ReadHeader();
    ExpectKeyword("object");
    return ReadObjectHeader();
  }

  // The rest of the root object, then the references. `root_is_new`:
  // the caller made the root for this read and frees it on failure.
  void ReadRoot(TComponent& root, const TObjectHeader& header, bool root_is_new) {
    root_ = &root;
    root_is_new_ = root_is_new;
    if (!root.InheritsFrom(ClassNamed(header.class_name, root.ClassType()))) {
      Fail("Cannot read a %s into a %s", header.class_name.c_str(), root.ClassName().c_str());
    }
    root.SetName(header.name);
    StartLoading(root);
    ReadBody(root, &root);
    if (const TToken token = Next(); token.kind != TTokenKind::kEnd) {
      Fail("Text after the end of the stream: %s", Describe(token).c_str());
    }
    ResolveReferences(0, true);
    committed_ = true;
  }

  // Calls Loaded() on every component read, in reading order; then passes on the
  // first exception one of them raised.
  void FinishLoading() {
    std::exception_ptr first_error;
    for (TComponent* component : loaded_) {
      try {
        component->Loaded();
      } catch (...) {
        if (!first_error) {
          first_error = std::current_exception();
        }
      }
    }
    if (first_error) {
      std::rethrow_exception(first_error);
    }
  }

  // The line of the last token read, for errors raised outside the reader.
  int Line() const { return line_; }

  std::unique_ptr<TPersistent> ReadInstance();

  // TFiler

  void DefineProperty(std::string_view name, const TReaderProc& read, const TWriterProc& /*write*/,
                      bool /*has_data*/) override {
    if (!custom_.wanted || custom_.consumed || !read || !SameText(name, custom_.name)) {
      return;
    }
    custom_.consumed = true;
    read(*this);
    if (custom_.lists > 0) {
      Fail("The reader of property %s left a list open", custom_.name.c_str());
    }
    if (custom_.values == 0) {
      Fail("The reader of property %s read no value", custom_.name.c_str());
    }
  }

  // TReader

  TValueKind NextValueKind() override { return KindOf(Peek(0)); }

  std::int64_t ReadInteger() override { return TakeValue(TValueKind::vaInteger).integer; }

  double ReadFloat() override {
    const TToken token = TakeValue(TValueKind::vaFloat);
    return FloatOf(token);
  }

  std::string ReadString() override { return std::move(TakeValue(TValueKind::vaString).text); }

  bool ReadBoolean() override {
    const TToken token = TakeValue(TValueKind::vaIdent);
    if (SameText(token.text, "True")) {
      return true;
    }
    if (!SameText(token.text, "False")) {
      Fail("Expected True or False, found %s", token.text.c_str());
    }
    return false;
  }

  std::string ReadIdent() override { return std::move(TakeValue(TValueKind::vaIdent).text); }

  void ReadListBegin() override {
    TakeValue(TValueKind::vaList);
    if (depth_ + custom_.lists >= kMaxStreamDepth) {
      Fail(kTooDeep, kMaxStreamDepth);
    }
    ++custom_.lists;
  }

  bool EndOfList() override { return custom_.lists > 0 && Peek(0).IsSymbol(')'); }

  void ReadListEnd() override {
    if (custom_.lists == 0) {
      Fail("ReadListEnd outside a list");
    }
    const TToken token = Next();
    if (!token.IsSymbol(')')) {
      Fail("Expected ) to end the list, found %s", Describe(token).c_str());
    }
    --custom_.lists;
  }

 private:
  // What the custom property being read has read so far.
  struct TCustomState {
    std::string name;
    bool wanted = false;    // a property is being offered to DefineProperties
    bool consumed = false;  // and one DefineProperty took it
    int lists = 0;          // lists open
    int values = 0;         // values read outside lists
  };

  // A reference to resolve once the tree is read.
  struct TFixup {
    TPersistent* object;            // the component or part holding the property
    TComponent* holder;             // the component read, for a part its holder
    const TPropertyInfo* property;  // a class property
    std::string name;               // of the component referred to
    int line;
    TComponent* target = nullptr;  // once resolved
  };

  [[noreturn, gnu::format(printf, 2, 3)]] void Fail(const char* tmpl, ...) const {
    std::va_list args;
    va_start(args, tmpl);
    std::string text = FormatPlatformText(tmpl, args);
    va_end(args);
    throw EReadError(std::move(text), line_);
  }

  const TToken& Peek(std::size_t n) {
    while (ahead_.size() <= n) {
      ahead_.push_back(lexer_.Next());
    }
    return ahead_[n];
  }

  TToken Next() {
    Peek(0);
    TToken token = std::move(ahead_.front());
    ahead_.pop_front();
    line_ = token.line;
    return token;
  }

  static std::string Describe(const TToken& token) {
    switch (token.kind) {
      case TTokenKind::kEnd:
        return "the end of the stream";
      case TTokenKind::kIdent:
      case TTokenKind::kInteger:
      case TTokenKind::kFloat:
        return token.text;
      case TTokenKind::kString:
        return "a string";
      case TTokenKind::kSymbol:
        return std::string(1, token.symbol);
    }
    return "?";
  }

  TValueKind KindOf(const TToken& token) {
    switch (token.kind) {
      case TTokenKind::kInteger:
        return TValueKind::vaInteger;
      case TTokenKind::kFloat:
        return TValueKind::vaFloat;
      case TTokenKind::kString:
        return TValueKind::vaString;
      case TTokenKind::kIdent:
        if (token.text == "nil") {
          return TValueKind::vaNil;
        }
        if (token.text == "inf" || token.text == "nan") {
          return TValueKind::vaFloat;
        }
        return token.text == "object" ? TValueKind::vaObject : TValueKind::vaIdent;
      case TTokenKind::kSymbol:
        if (token.symbol == '[') {
          return TValueKind::vaSet;
        }
        if (token.symbol == '(') {
          return TValueKind::vaList;
        }
        break;
      case TTokenKind::kEnd:
        break;
    }
    line_ = token.line;
    Fail("Expected a value, found %s", Describe(token).c_str());
  }

  static double FloatOf(const TToken& token) {
    if (token.kind == TTokenKind::kInteger) {
      return static_cast<double>(token.integer);
    }
    if (token.kind == TTokenKind::kIdent) {
      return token.text == "inf" ? std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::quiet_NaN();
    }
    return token.real;
  }

  // Counts a value the custom property being read takes: outside its lists, there
  // is one.
  void CountValue() {
    if (!custom_.wanted) {
      Fail("A value is read outside a property");
    }
    if (custom_.lists == 0) {
      if (custom_.values > 0) {
        Fail("The reader of property %s read past its value", custom_.name.c_str());
      }
      ++custom_.values;
    }
  }

  // Takes the next value for a custom property's reader, which asks for `kind`.
  TToken TakeValue(TValueKind kind) {
    if (custom_.lists > 0 && Peek(0).IsSymbol(')')) {
      Next();
      Fail("Expected %s, found the end of the list", ValueKindText(kind));
    }
    CountValue();
    TToken token = Next();
    const TValueKind found = KindOf(token);
    if (found != kind && !(kind == TValueKind::vaFloat && found == TValueKind::vaInteger)) {
      Fail("Expected %s, found %s", ValueKindText(kind), ValueKindText(found));
    }
    return token;
  }

  void ExpectKeyword(std::string_view word) {
    const TToken token = Next();
    if (!token.IsIdent(word)) {
      const std::string text(word);
      Fail("Expected %s, found %s", text.c_str(), Describe(token).c_str());
    }
  }

  void ExpectSymbol(char symbol) {
    const TToken token = Next();
    if (!token.IsSymbol(symbol)) {
      Fail("Expected %c, found %s", symbol, Describe(token).c_str());
    }
  }

  std::string ExpectIdent(const char* what) {
    TToken token = Next();
    if (token.kind != TTokenKind::kIdent) {
      Fail("Expected %s, found %s", what, Describe(token).c_str());
    }
    return std::move(token.text);
  }

  // After "object": [name ":"] class
  TObjectHeader ReadObjectHeader() {
    TToken first = Next();
    if (first.kind != TTokenKind::kIdent && first.kind != TTokenKind::kString) {
      Fail("Expected a component name or class, found %s", Describe(first).c_str());
    }
    if (!Peek(0).IsSymbol(':')) {
      if (first.kind != TTokenKind::kIdent) {
        Fail("Expected : after the component name");
      }
      return {.name = {}, .class_name = std::move(first.text)};
    }
    Next();
    return {.name = std::move(first.text), .class_name = ExpectIdent("a class name")};
  }

  // The class called `name`, `fallback` when it is one of the names of
  // `fallback`'s own line of classes (which need not be registered).
  static const TClassInfo& ClassNamed(const std::string& name, const TClassInfo& fallback) {
    for (const TClassInfo* c = &fallback; c != nullptr; c = c->ClassParent()) {
      if (SameText(c->ClassName(), name)) {
        return *c;
      }
    }
    return RequireClass(name);
  }

  // True when a keyword at the head of an entry is the keyword, not a property of
  // that name.
  bool IsKeywordEntry(std::string_view word) {
    return Peek(0).IsIdent(word) && !Peek(1).IsSymbol('=') && !Peek(1).IsSymbol('.');
  }

  // The entries of an object up to its "end": properties of `object`, and objects
  // inside `component` (null for an instance, which holds none).
  void ReadBody(TPersistent& object, TComponent* component) {
    const TDepthGuard guard(depth_, [this] { Fail(kTooDeep, kMaxStreamDepth); });
    for (;;) {
      if (IsKeywordEntry("end")) {
        Next();
        return;
      }
      if (IsKeywordEntry("object")) {
        Next();
        if (component == nullptr) {
          Fail("An object value holds no components");
        }
        ReadChild(*component);
        continue;
      }
      if (Peek(0).kind != TTokenKind::kIdent) {
        const TToken token = Next();
        Fail("Expected a property, object or end, found %s", Describe(token).c_str());
      }
      ReadProperty(object, component);
    }
  }

  void StartLoading(TComponent& component) {
    component.BeginLoading();
    loaded_.push_back(&component);
    loaded_set_.insert(&component);
  }

  // object := "object" [name ":"] class entry* "end", after "object"
  void ReadChild(TComponent& owner) {
    TObjectHeader header = ReadObjectHeader();
    const TClassInfo& info = RequireClass(header.class_name);
    if (!info.InheritsFrom(TComponent::StaticClass())) {
      Fail("%s is not a component class", info.ClassName().c_str());
    }
    TComponent* child = FindExisting(owner, header.name, info);
    if (child == nullptr) {
      child = &info.CreateComponent(owner);
      created_.push_back(child);
      created_set_.insert(child);
      child->SetName(std::move(header.name));
    }
    StartLoading(*child);
    ReadBody(*child, child);
  }

  // The component `owner` already has for an object called `name` of class
  // `info`, or null; see the top of the header.
  TComponent* FindExisting(const TComponent& owner, const std::string& name,
                           const TClassInfo& info) {
    if (!name.empty()) {
      TComponent* named = owner.FindComponent(name);
      if (named == nullptr) {
        return nullptr;
      }
      if (&named->ClassType() != &info) {
        Fail("Component %s is a %s, not a %s", name.c_str(), named->ClassName().c_str(),
             info.ClassName().c_str());
      }
      if (loaded_set_.contains(named)) {
        Fail("Component %s is read twice", name.c_str());
      }
      return named;
    }
    for (int i = 0; i < owner.ComponentCount(); ++i) {
      TComponent& candidate = owner.Component(i);
      if (candidate.Name().empty() && &candidate.ClassType() == &info &&
          !loaded_set_.contains(&candidate)) {
        return &candidate;
      }
    }
    return nullptr;
  }

  // property := path "=" value; path := ident ("." ident)*
  void ReadProperty(TPersistent& object, TComponent* holder) {
    std::vector<std::string> path{ExpectIdent("a property name")};
    while (Peek(0).IsSymbol('.')) {
      Next();
      // Each part on the way nests the value one level deeper, as the writer counts.
      if (static_cast<int>(path.size()) > kMaxStreamDepth - depth_) {
        Fail(kTooDeep, kMaxStreamDepth);
      }
      path.push_back(ExpectIdent("a property name"));
    }
    ExpectSymbol('=');
    const int parts = static_cast<int>(path.size()) - 1;
    depth_ += parts;
    const TScopeExit restore([this, parts] { depth_ -= parts; });
    TPersistent* target = &object;
    std::string shown;
    for (std::size_t i = 0; i < path.size(); ++i) {
      shown += (i > 0 ? "." : "") + path[i];
      const TPropertyInfo* property = target->ClassType().FindProperty(path[i]);
      if (i + 1 == path.size()) {
        if (property != nullptr) {
          ReadPublished(*target, holder, *property, shown);
        } else {
          ReadCustom(*target, path[i], shown, object);
        }
        return;
      }
      if (property == nullptr) {
        Fail("Unknown property %s of %s", shown.c_str(), object.ClassName().c_str());
      }
      TObject* part = property->Kind() == TPropertyKind::kClass
                          ? std::get<TObject*>(property->Get(*target))
                          : nullptr;
      if (!IsPart(part)) {
        Fail("Property %s holds no part to read into", shown.c_str());
      }
      target = static_cast<TPersistent*>(part);
    }
  }

  void ReadPublished(TPersistent& object, TComponent* holder, const TPropertyInfo& property,
                     const std::string& shown) {
    using enum TPropertyKind;
    if (property.Kind() == kMethod) {
      Fail("Property %s is an event, which streams do not hold", shown.c_str());
    }
    TToken token = Next();
    const TValueKind found = KindOf(token);
    const auto wrong_kind = [&] {
      Fail("Property %s expects %s, not %s", shown.c_str(), ExpectedText(property.Kind()),
           ValueKindText(found));
    };
    TPropertyValue value;
    switch (property.Kind()) {
      case kInteger:
        if (found != TValueKind::vaInteger) {
          wrong_kind();
        }
        value = token.integer;
        break;
      case kFloat:
        if (found != TValueKind::vaInteger && found != TValueKind::vaFloat) {
          wrong_kind();
        }
        value = FloatOf(token);
        break;
      case kString:
        if (found != TValueKind::vaString) {
          wrong_kind();
        }
        value = std::move(token.text);
        break;
      case kEnumeration:
        if (found == TValueKind::vaInteger) {
          value = token.integer;
        } else if (found == TValueKind::vaIdent) {
          value = std::move(token.text);
        } else {
          wrong_kind();
        }
        break;
      case kSet:
        if (found != TValueKind::vaSet) {
          wrong_kind();
        }
        value = ReadSetElements();
        break;
      case kClass:
        if (found == TValueKind::vaNil) {
          value = std::monostate{};
          break;
        }
        if (found != TValueKind::vaIdent && found != TValueKind::vaString) {
          wrong_kind();
        }
        if (property.IsReadOnly()) {
          Fail("Property %s is read-only", shown.c_str());
        }
        fixups_.push_back({.object = &object,
                           .holder = holder,
                           .property = &property,
                           .name = std::move(token.text),
                           .line = token.line});
        return;
      case kMethod:
        break;
    }
    property.Set(object, value);
  }

  // set := "[" [element ("," element)*] "]", after "["; the property's text "[a,b]".
  std::string ReadSetElements() {
    std::string text = "[";
    if (Peek(0).IsSymbol(']')) {
      Next();
      return "[]";
    }
    for (;;) {
      const TToken element = Next();
      if (element.kind != TTokenKind::kIdent && element.kind != TTokenKind::kString) {
        Fail("Expected a set element, found %s", Describe(element).c_str());
      }
      text += element.text;
      const TToken separator = Next();
      if (separator.IsSymbol(']')) {
        return text + "]";
      }
      if (!separator.IsSymbol(',')) {
        Fail("Expected , or ] in a set, found %s", Describe(separator).c_str());
      }
      text += ',';
    }
  }

  // Offers the property `name` of `object` to its DefineProperties.
  void ReadCustom(TPersistent& object, const std::string& name, const std::string& shown,
                  const TPersistent& outer) {
    TCustomState saved = std::exchange(custom_, TCustomState{.name = name, .wanted = true});
    object.DefineProperties(*this);
    if (!custom_.consumed) {
      Fail("Unknown property %s of %s", shown.c_str(), outer.ClassName().c_str());
    }
    custom_ = std::move(saved);
  }

  // Resolves the references from `first` on and sets them; on their own line each
  // (`record`: the read undoes them on failure).
  void ResolveReferences(std::size_t first, bool record) {
    const TNameIndex index(*root_);
    for (std::size_t i = first; i < fixups_.size(); ++i) {
      TFixup& fixup = fixups_[i];
      line_ = fixup.line;
      fixup.target = index.Find(fixup.name);
      if (fixup.target == nullptr) {
        Fail("Property %s refers to %s, which is not in the stream", fixup.property->Name().c_str(),
             fixup.name.c_str());
      }
      const TClassInfo* wanted = fixup.property->PropertyClass();
      if (wanted != nullptr && !fixup.target->InheritsFrom(*wanted)) {
        Fail("Property %s cannot refer to %s, a %s", fixup.property->Name().c_str(),
             fixup.name.c_str(), fixup.target->ClassName().c_str());
      }
    }
    for (std::size_t i = first; i < fixups_.size(); ++i) {
      TFixup& fixup = fixups_[i];
      line_ = fixup.line;
      fixup.property->Set(*fixup.object, fixup.target);
      if (record) {
        applied_.push_back(fixup);
      }
    }
    fixups_.resize(first);
  }

  // True when `component` was made by this read or belongs to one that was.
  bool IsNew(const TComponent* component) const {
    if (root_is_new_) {
      return true;
    }
    for (; component != nullptr; component = component->Owner()) {
      if (created_set_.contains(component)) {
        return true;
      }
    }
    return false;
  }

  // Gives back what a failed read made; see the top of the header.
  void Abandon() noexcept {
    for (auto it = applied_.rbegin(); it != applied_.rend(); ++it) {
      if (!IsNew(it->holder) && IsNew(it->target)) {
        try {
          it->property->Set(*it->object, std::monostate{});
        } catch (...) {
          // The setter refuses nil: nothing more can be done for it.
        }
      }
    }
    for (TComponent* component : loaded_) {
      component->CancelLoading();
    }
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      TComponent* component = *it;
      if (TComponent* owner = component->Owner()) {
        owner->RemoveComponent(*component).reset();
      }
    }
  }

  TLexer lexer_;
  std::deque<TToken> ahead_;
  int line_ = 1;
  int depth_ = 0;
  TCustomState custom_;

  TComponent* root_ = nullptr;  // not owned
  bool root_is_new_ = false;
  bool committed_ = false;
  // Not owned: components of the tree below root_.
  std::vector<TComponent*> created_;  // made by this read, in order
  std::unordered_set<const TComponent*> created_set_;
  std::vector<TComponent*> loaded_;  // every component read, in order
  std::unordered_set<const TComponent*> loaded_set_;
  std::vector<TFixup> fixups_;   // waiting for the end of the tree
  std::vector<TFixup> applied_;  // set on their objects
};

// instance := "object" class property* "end"
std::unique_ptr<TPersistent> TTextReader::ReadInstance() {
  TakeValue(TValueKind::vaObject);
  const std::string class_name = ExpectIdent("a class name");
  const TClassInfo& info = RequireClass(class_name);
  if (!info.InheritsFrom(TPersistent::StaticClass())) {
    Fail("%s is not a persistent class", info.ClassName().c_str());
  }
  std::unique_ptr<TPersistent> instance(static_cast<TPersistent*>(info.CreateInstance().release()));
  auto* component = dynamic_cast<TComponent*>(instance.get());
  if (component != nullptr) {
    component->BeginLoading();
  }
  TCustomState saved = std::exchange(custom_, TCustomState{});
  const std::size_t first_fixup = fixups_.size();
  ReadBody(*instance, nullptr);
  custom_ = std::move(saved);
  ResolveReferences(first_fixup, false);
  if (component != nullptr) {
    component->Loaded();
  }
  return instance;
}

// Runs `read` (the reading of a whole stream) and turns the platform's errors
// raised inside it by setters, the registry or custom readers into EReadError with
// the reader's line, nesting the original.
template <class Read>
void Translated(TTextReader& reader, Read read) {
  try {
    read();
  } catch (const EReadError&) {
    throw;
  } catch (const EAbort&) {
    throw;
  } catch (const EBaseException& e) {
    std::throw_with_nested(EReadError(e.Message(), reader.Line()));
  }
}

TTextReader& TextReaderOf(TReader& reader) {
  auto* text_reader = dynamic_cast<TTextReader*>(&reader);
  if (text_reader == nullptr) {
    RaisePlatformError("Not the reader of a component stream");
  }
  return *text_reader;
}

}  // namespace

EReadError::EReadError(std::string message, int line_number)
    : EBaseException(message + " (line " + std::to_string(line_number) + ")"),
      line_number_(line_number) {}

void TWriter::WriteStrings(const std::vector<std::string>& values) {
  WriteListBegin();
  for (const std::string& value : values) {
    WriteString(value);
  }
  WriteListEnd();
}

std::vector<std::string> TReader::ReadStrings() {
  std::vector<std::string> values;
  ReadListBegin();
  while (!EndOfList()) {
    values.push_back(ReadString());
  }
  ReadListEnd();
  return values;
}

std::string ComponentToText(const TComponent& component) {
  TTextWriter writer(component);
  writer.WriteStream(component);
  return writer.TakeText();
}

void WriteComponent(std::ostream& out, const TComponent& component) {
  const std::string text = ComponentToText(component);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void ReadComponent(std::istream& in, TComponent& root) {
  TTextReader reader(in);
  Translated(reader, [&] { reader.ReadRoot(root, reader.ReadHeader(), false); });
  reader.FinishLoading();
}

std::unique_ptr<TComponent> ReadNewComponent(std::istream& in) {
  std::unique_ptr<TComponent> root;
  // The reader goes first, so a failed read has finished with the root before
  // the root is freed.
  TTextReader reader(in);
  Translated(reader, [&] {
    const auto header = reader.ReadHeader();
    const TClassInfo& info = RequireClass(header.class_name);
    if (!info.InheritsFrom(TComponent::StaticClass())) {
      RaisePlatformError("%s is not a component class", info.ClassName().c_str());
    }
    root.reset(static_cast<TComponent*>(info.CreateInstance().release()));
    reader.ReadRoot(*root, header, true);
  });
  reader.FinishLoading();
  return root;
}

TComponent& ReadNewComponent(std::istream& in, TComponent& owner) {
  TComponent* root = nullptr;
  try {
    TTextReader reader(in);
    Translated(reader, [&] {
      const auto header = reader.ReadHeader();
      root = &RequireClass(header.class_name).CreateComponent(owner);
      reader.ReadRoot(*root, header, true);
    });
    reader.FinishLoading();
  } catch (...) {
    if (root != nullptr && root->Owner() == &owner) {
      owner.RemoveComponent(*root).reset();
    }
    throw;
  }
  return *root;
}

void WritePersistent(TWriter& writer, const TPersistent& instance) {
  auto* text_writer = dynamic_cast<TTextWriter*>(&writer);
  if (text_writer == nullptr) {
    RaisePlatformError("Not the writer of a component stream");
  }
  text_writer->WriteInstance(instance);
}

std::unique_ptr<TPersistent> ReadPersistent(TReader& reader) {
  return TextReaderOf(reader).ReadInstance();
}

}  // namespace zephro
