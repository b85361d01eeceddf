#pragma once

// TLogicalFileStream: a file opened by `open` under a logical name, and the
// engine's token reader for logical names.
//
// A file opened for reading ("r", "r+") is read through the language's scanner,
// so that `read` takes one token at a time and `readline` the rest of the line
// the last token ended on; both advance one reading position. A file opened for
// writing ("w", "a") is a plain text stream. In "r+" the scanner pulls one byte
// at a time from the file, so writes land where reading stopped: after the last
// token and the character that ended it.
//
// Ownership: the engine's I/O stream table owns the stream; the stream owns its
// file and scanner. Thread safety: none.

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "zephro/engine/io_streams.h"
#include "zephro/language/clips_stream.h"
#include "zephro/platform/text_stream.h"
#include "zephro/values/stream_token.h"

namespace zephro {

class TInferenceEngine;

class TLogicalFileStream final : public TLogicalStream {
 public:
  // Opens `path` in `mode`. Raises the platform's file error (EBaseException
  // naming the file and the reason) when it cannot be opened. `generate_symbol`
  // names the anonymous variables a read token may hold.
  TLogicalFileStream(const std::string& path, TFileMode mode, TSymbolGenerator generate_symbol);
  ~TLogicalFileStream() override;

  // False for a file opened read-only ("r").
  bool Write(std::string_view text) override;
  bool ReadLine(std::string& line) override;
  std::string ReadAll() override;
  bool AtEnd() override;

  // The next token; the end token (value EOF) at the end of the file. A file
  // opened for writing only is read by lines, as every other stream.
  Ref<IStreamToken> ReadToken();

 private:
  class TByteSource;

  TFileMode mode_;
  TSymbolGenerator generate_symbol_;
  std::unique_ptr<TTextStream> file_;
  // Present for the reading modes.
  std::unique_ptr<TByteSource> bytes_;
  std::unique_ptr<std::istream> input_;
  std::unique_ptr<TIEClipsStream> scanner_;
};

// The first token of `line`, or the end token when the line holds none.
Ref<IStreamToken> FirstToken(std::string line, const TSymbolGenerator& generate_symbol);

// Installs the engine's token reader (ReadTokenHook) unless one is installed:
//   - a logical name under which a stream is registered: the stream's next
//     token (the first token of its next line for streams other than
//     TLogicalFileStream);
//   - "t", the empty name and unknown names: the first token of the engine's
//     ReadLine, which reads the batch input (echoing the line) or asks the
//     host's OnReadLine event; without either, the engine's warning naming
//     "read". The rest of that line is not kept: each read takes a line.
// The end of the input gives the end token, whose value is EOF.
void InstallTokenReader(TInferenceEngine& engine);

}  // namespace zephro
