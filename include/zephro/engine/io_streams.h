#pragma once

// Logical I/O streams: text streams registered under a logical name (files
// opened by `open`, string streams), through which print-out and reading
// functions route by name.
//
// Thread safety: none.

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "zephro/engine/named_table.h"

namespace zephro {

class TInferenceEngine;

// A readable and/or writable text stream under a logical name.
class TLogicalStream {
 public:
  virtual ~TLogicalStream() = default;
  // Appends `text`; false when the stream is not writable.
  virtual bool Write(std::string_view text) = 0;
  // Reads the next line (without its line break); false at the end.
  virtual bool ReadLine(std::string& line) = 0;
  // The rest of the stream, consumed.
  virtual std::string ReadAll() = 0;
  virtual bool AtEnd() = 0;
};

// A stream over a string, readable and writable.
class TStringStream final : public TLogicalStream {
 public:
  explicit TStringStream(std::string text = {}) : stream_(std::move(text)) {}
  bool Write(std::string_view text) override;
  bool ReadLine(std::string& line) override;
  std::string ReadAll() override;
  bool AtEnd() override;
  std::string Text() const { return stream_.str(); }

 private:
  std::stringstream stream_;
};

// The engine's streams by logical name; owns them: removing an entry, or
// clearing, frees its stream. Iteration (named_table.h) visits the
// (name, stream) entries in registration order.
class TIOStreams : public TNamedTable<TLogicalStream, std::unique_ptr<TLogicalStream>> {
 public:
  explicit TIOStreams(TInferenceEngine* engine) : engine_(engine) {}
  TIOStreams(const TIOStreams&) = delete;
  TIOStreams& operator=(const TIOStreams&) = delete;
  // Registers `stream` under `name` by the engine's duplicate setting: the
  // stream registered there already changes nothing; otherwise dcOverwrite
  // frees the old stream, dcIgnore frees `stream`, dcError raises
  // "Duplicate streams defined with same name: "%s"" (and frees `stream`).
  void Add(const std::string& name, std::unique_ptr<TLogicalStream> stream);
  void Put(const std::string& name, std::unique_ptr<TLogicalStream> stream) {
    Add(name, std::move(stream));
  }
  void SetItem(const std::string& name, std::unique_ptr<TLogicalStream> stream) {
    Add(name, std::move(stream));
  }
  // Closes and frees the stream; raises "Invalid stream name: %s" when unknown.
  void Remove(std::string_view name);
  void Clear() { table_.Clear(); }
  // Streams belong to one engine: copying from another collection copies
  // nothing.
  void Assign(const TIOStreams& /*from*/) {}

 private:
  TInferenceEngine* engine_;  // not owned
};

}  // namespace zephro
