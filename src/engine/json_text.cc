// A recursive descent reader over the bytes of the text; every failure names
// the offset of the byte it stopped at.

#include "engine/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"

namespace zephro {

namespace {

class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : text_(text) {}

  TJsonNode ReadDocument() {
    TJsonNode node = ReadValue(0);
    SkipBlanks();
    if (pos_ < text_.size()) {
      Fail("unexpected text after the value");
    }
    return node;
  }

 private:
  [[noreturn]] void Fail(const char* what) const {
    RaiseIE(SJsonSyntax, static_cast<int>(pos_), what);
  }

  void SkipBlanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
            text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool AtEnd() const { return pos_ >= text_.size(); }

  void Expect(char c, const char* what) {
    SkipBlanks();
    if (AtEnd() || text_[pos_] != c) {
      Fail(what);
    }
    ++pos_;
  }

  TJsonNode ReadValue(int depth) {
    SkipBlanks();
    if (AtEnd()) {
      Fail("a value is missing");
    }
    TJsonNode node;
    node.offset = pos_;
    const char c = text_[pos_];
    if (c == '{' || c == '[') {
      if (depth >= kMaxNesting) {
        Fail("nested too deeply");
      }
      ++pos_;
      if (c == '{') {
        ReadObject(node, depth + 1);
      } else {
        ReadArray(node, depth + 1);
      }
    } else if (c == '"') {
      node.kind = TJsonNode::TKind::kString;
      node.text = ReadString();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      ReadNumber(node);
    } else if (ReadWord("true")) {
      node.kind = TJsonNode::TKind::kBool;
      node.boolean = true;
    } else if (ReadWord("false")) {
      node.kind = TJsonNode::TKind::kBool;
    } else if (ReadWord("null")) {
      node.kind = TJsonNode::TKind::kNull;
    } else {
      Fail("not the start of a value");
    }
    return node;
  }

  bool ReadWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) {
      return false;
    }
    pos_ += word.size();
    return true;
  }

  // The items of an object or array up to `close`, separated by commas;
  // `read_item` reads one.
  template <class ReadItem>
  void ReadItems(char close, const char* expected, ReadItem read_item) {
    SkipBlanks();
    if (!AtEnd() && text_[pos_] == close) {
      ++pos_;
      return;
    }
    for (;;) {
      read_item();
      SkipBlanks();
      if (AtEnd() || text_[pos_] != ',') {
        Expect(close, expected);
        return;
      }
      ++pos_;
    }
  }

  void ReadObject(TJsonNode& node, int depth) {
    node.kind = TJsonNode::TKind::kObject;
    ReadItems('}', "',' or '}' is expected", [&] {
      SkipBlanks();
      if (AtEnd() || text_[pos_] != '"') {
        Fail("a member name (a string) is expected");
      }
      const std::size_t name_at = pos_;
      std::string name = ReadString();
      if (node.Member(name) != nullptr) {
        pos_ = name_at;
        Fail("a member name is repeated");
      }
      Expect(':', "':' is expected after a member name");
      TJsonNode value = ReadValue(depth);
      node.members.push_back({std::move(name), std::move(value)});
    });
  }

  void ReadArray(TJsonNode& node, int depth) {
    node.kind = TJsonNode::TKind::kArray;
    ReadItems(']', "',' or ']' is expected", [&] { node.items.push_back(ReadValue(depth)); });
  }

  unsigned ReadHex4() {
    unsigned code = 0;
    for (int i = 0; i < 4; ++i, ++pos_) {
      if (AtEnd()) {
        Fail("the text ends inside a string");
      }
      const char c = text_[pos_];
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        Fail("\\u needs four hexadecimal digits");
      }
    }
    return code;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // REQUIRES: text_[pos_] is the opening quote.
  std::string ReadString() {
    ++pos_;
    std::string out;
    for (;;) {
      if (AtEnd()) {
        Fail("the text ends inside a string");
      }
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        Fail("a control character must be escaped in a string");
      }
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      ++pos_;
      if (AtEnd()) {
        Fail("the text ends inside a string");
      }
      const char e = text_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': AppendUtf8(out, ReadCodePoint()); break;
        default:
          --pos_;
          Fail("unknown escape in a string");
      }
    }
  }

  // After "\u": one code point, joining a surrogate pair.
  unsigned ReadCodePoint() {
    const std::size_t start = pos_;
    unsigned code = ReadHex4();
    if (code >= 0xDC00 && code <= 0xDFFF) {
      pos_ = start;
      Fail("a low surrogate without a high one");
    }
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (text_.substr(pos_, 2) != "\\u") {
        Fail("a high surrogate must be followed by a low one");
      }
      pos_ += 2;
      const unsigned low = ReadHex4();
      if (low < 0xDC00 || low > 0xDFFF) {
        pos_ -= 4;
        Fail("a high surrogate must be followed by a low one");
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    return code;
  }

  void SkipDigits() {
    while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      ++pos_;
    }
  }

  void ReadNumber(TJsonNode& node) {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') {
      ++pos_;
    }
    if (AtEnd() || text_[pos_] < '0' || text_[pos_] > '9') {
      Fail("a digit is expected");
    }
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      SkipDigits();
    }
    bool is_float = false;
    if (!AtEnd() && text_[pos_] == '.') {
      ++pos_;
      if (AtEnd() || text_[pos_] < '0' || text_[pos_] > '9') {
        Fail("a digit is expected after the decimal point");
      }
      SkipDigits();
      is_float = true;
    }
    if (!AtEnd() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (!AtEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) {
        ++pos_;
      }
      if (AtEnd() || text_[pos_] < '0' || text_[pos_] > '9') {
        Fail("a digit is expected in the exponent");
      }
      SkipDigits();
      is_float = true;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    if (!is_float) {
      auto [end, error] = std::from_chars(first, last, node.integer);
      if (error == std::errc() && end == last) {
        node.kind = TJsonNode::TKind::kInteger;
        return;
      }
    }
    auto [end, error] = std::from_chars(first, last, node.real);
    if (error != std::errc() || end != last || !std::isfinite(node.real)) {
      pos_ = start;
      Fail("a number out of range");
    }
    node.kind = TJsonNode::TKind::kFloat;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const TJsonNode* TJsonNode::Member(std::string_view name) const {
  for (const auto& [key, value] : members) {
    if (key == name) {
      return &value;
    }
  }
  return nullptr;
}

TJsonNode ReadJson(std::string_view text) {
  return TJsonReader(text).ReadDocument();
}

void WriteJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void WriteJsonFloat(std::string& out, double value) {
  char digits[32];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  (void)error;  // 32 places hold any double's shortest form
  const std::string_view text(digits, static_cast<std::size_t>(end - digits));
  out += text;
  if (text.find_first_of(".e") == std::string_view::npos) {
    out += ".0";
  }
}

}  // namespace zephro
