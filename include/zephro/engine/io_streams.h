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

#include "zephro/platform/ordered_table.h"

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

// The engine's streams by logical name; owns them.
class TIOStreams {
 public:
  explicit TIOStreams(TInferenceEngine* engine) : engine_(engine) {}
  TLogicalStream* Get(std::string_view name) const {
    std::unique_ptr<TLogicalStream>* s = table_.Find(name);
    return s != nullptr ? s->get() : nullptr;
  }
  // Registers `stream` under `name` by the engine's duplicate setting.
  void Add(const std::string& name, std::unique_ptr<TLogicalStream> stream);
  // Closes and frees the stream; raises "Invalid stream name: %s" when unknown.
  void Remove(std::string_view name);
  void Clear() { table_.Clear(); }
  int Count() const noexcept { return table_.Count(); }

 private:
  TInferenceEngine* engine_;  // not owned
  TOrderedTable<std::unique_ptr<TLogicalStream>> table_;
};

}  // namespace zephro
