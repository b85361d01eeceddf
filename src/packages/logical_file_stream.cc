#include "packages/logical_file_stream.h"

#include <streambuf>
#include <utility>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

namespace zephro {

// The file's bytes as a std::streambuf, one byte per refill, so that the
// scanner never takes more from the file than it asks for.
class TLogicalFileStream::TByteSource final : public std::streambuf {
 public:
  explicit TByteSource(TTextStream& file) : file_(file) {}

 protected:
  int_type underflow() override {
    const int c = file_.GetChar();
    if (c == TTextStream::kEof) {
      return traits_type::eof();
    }
    byte_ = static_cast<char>(c);
    setg(&byte_, &byte_, &byte_ + 1);
    return traits_type::to_int_type(byte_);
  }

 private:
  TTextStream& file_;
  char byte_ = 0;
};

TLogicalFileStream::TLogicalFileStream(const std::string& path, TFileMode mode,
                                       TSymbolGenerator generate_symbol)
    : mode_(mode),
      generate_symbol_(std::move(generate_symbol)),
      file_(std::make_unique<TTextStream>(path, mode)) {
  if (mode == TFileMode::kRead || mode == TFileMode::kReadWrite) {
    bytes_ = std::make_unique<TByteSource>(*file_);
    input_ = std::make_unique<std::istream>(bytes_.get());
    // A read-only file may be read ahead freely; one read and written must not be.
    scanner_ = std::make_unique<TIEClipsStream>(
        *input_, generate_symbol_,
        mode == TFileMode::kRead ? TIEClipsStream::kDefaultChunkSize : 1);
  }
}

TLogicalFileStream::~TLogicalFileStream() = default;

bool TLogicalFileStream::Write(std::string_view text) {
  if (mode_ == TFileMode::kRead) {
    return false;
  }
  file_->Put(text);
  file_->Flush();
  return true;
}

bool TLogicalFileStream::ReadLine(std::string& line) {
  if (!scanner_) {
    return file_->GetLine(line);
  }
  line.clear();
  if (scanner_->IsEof()) {
    return false;
  }
  line = scanner_->GetLine();
  return true;
}

std::string TLogicalFileStream::ReadAll() {
  std::string text;
  if (scanner_) {
    for (int c = scanner_->GetChar(); c != TIEClipsStream::kEndOfInput; c = scanner_->GetChar()) {
      text += static_cast<char>(c);
    }
  } else {
    for (int c = file_->GetChar(); c != TTextStream::kEof; c = file_->GetChar()) {
      text += static_cast<char>(c);
    }
  }
  return text;
}

bool TLogicalFileStream::AtEnd() {
  return scanner_ ? scanner_->IsEof() : file_->IsEof();
}

Ref<IStreamToken> TLogicalFileStream::ReadToken() {
  if (scanner_) {
    return scanner_->BuildNextToken();
  }
  std::string line;
  file_->GetLine(line);
  return FirstToken(std::move(line), generate_symbol_);
}

Ref<IStreamToken> FirstToken(std::string line, const TSymbolGenerator& generate_symbol) {
  TIEClipsStream scanner(std::move(line), generate_symbol);
  return scanner.BuildNextToken();
}

namespace {

bool IsStandardName(std::string_view name) {
  return name == "t" || name.empty();
}

Ref<IStreamToken> ReadTokenFrom(TInferenceEngine& engine, std::string_view name) {
  TSymbolGenerator generate_symbol = [&engine](std::string_view prefix) {
    return engine.GenerateSymbol(prefix);
  };
  if (!IsStandardName(name)) {
    if (TLogicalStream* stream = engine.IOStreams().Get(name)) {
      if (auto* file = dynamic_cast<TLogicalFileStream*>(stream)) {
        return file->ReadToken();
      }
      std::string line;
      stream->ReadLine(line);
      return FirstToken(std::move(line), generate_symbol);
    }
  }
  std::string line;
  try {
    line = engine.ReadLine(name);
  } catch (const EIEException& error) {
    // Without batch input or a line event the engine's warning names readline;
    // the caller asked for a token.
    if (error.what() == FormatMessage(SNoReadFunctionWarning, "readline")) {
      RaiseIE(SNoReadFunctionWarning, "read");
    }
    throw;
  }
  return FirstToken(std::move(line), generate_symbol);
}

}  // namespace

void InstallTokenReader(TInferenceEngine& engine) {
  if (!engine.ReadTokenHook) {
    engine.ReadTokenHook = ReadTokenFrom;
  }
}

}  // namespace zephro
