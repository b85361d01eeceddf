// Lexes arbitrary bytes to the end of input, through both sources and with
// the recovery calls the parser makes, checking the scanner's own promises:
// it never crashes, never loops, always ends with an end token, and reads the
// same tokens from a string as from an istream in small chunks.
//
// Build: clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined
//          -I include -I src tools/fuzz/clips_stream_fuzz.cc src/language/*.cc
//          src/values/{text,value_vector,exceptions,value}.cc ...

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "zephro/language/clips_stream.h"
#include "zephro/values/exceptions.h"

namespace {

struct Seen {
  std::int32_t type;
  std::string text;
  std::int32_t line;
  bool operator==(const Seen&) const = default;
};

// Every token up to the end token; a broken string ends the list with an
// entry of type -1 that carries the exception's line.
std::vector<Seen> LexAll(zephro::TIEClipsStream& stream) {
  std::vector<Seen> seen;
  for (;;) {
    try {
      zephro::Ref<zephro::IStreamToken> token = stream.NextToken();
      seen.push_back({token->DataType(), token->Text(), token->LineNumber()});
      if (token->IsEnd()) {
        return seen;
      }
      token->Value();
      if (seen.size() % 7 == 3) {
        stream.PutBackToken(token);
        stream.NextToken();
        stream.Head();
      }
    } catch (const zephro::EIEParseException& e) {
      seen.push_back({-1, e.Message(), e.LineNumber()});
      stream.MoveToNextConstruct();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  zephro::TIEClipsStream from_string(text);
  std::istringstream in(text);
  zephro::TIEClipsStream from_istream(in, {}, 5);
  if (LexAll(from_string) != LexAll(from_istream)) {
    std::abort();
  }
  return 0;
}
