// The engine's streams by logical name, and the string stream.

#include "zephro/engine/io_streams.h"

#include <iterator>

#include "zephro/engine/inference_engine.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "engine/collection_checks.h"

namespace zephro {

void TIOStreams::Add(const std::string& name, std::unique_ptr<TLogicalStream> stream) {
  if (std::unique_ptr<TLogicalStream>* existing = table_.Find(name)) {
    if (existing->get() == stream.get()) {
      static_cast<void>(stream.release());  // it is the one registered
      return;
    }
    switch (DuplicateSettingOf(engine_)) {
      case TDuplicateConstructs::dcOverwrite:
        break;
      case TDuplicateConstructs::dcIgnore:
        return;
      case TDuplicateConstructs::dcError:
        RaiseIE(SDuplicateStreamNames, name.c_str());
    }
  }
  table_.Put(name, std::move(stream));
}

void TIOStreams::Remove(std::string_view name) {
  if (!table_.Contains(name)) {
    RaiseIE(SInvalidStreamName, std::string(name).c_str());
  }
  table_.Take(name);
}

bool TStringStream::Write(std::string_view text) {
  stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
  return true;
}

bool TStringStream::ReadLine(std::string& line) {
  line.clear();
  return static_cast<bool>(std::getline(stream_, line));
}

std::string TStringStream::ReadAll() {
  std::string all((std::istreambuf_iterator<char>(stream_)), std::istreambuf_iterator<char>());
  return all;
}

bool TStringStream::AtEnd() { return stream_.peek() == std::char_traits<char>::eof(); }

}  // namespace zephro
