// Output and input by logical name: printing, reading lines and tokens,
// capturing "t" to a file, and batches.

#include "zephro/engine/inference_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

#include "zephro/engine/io_streams.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/text_stream.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/stream_token.h"

namespace zephro {

// --- output and input -------------------------------------------------------------------------------

namespace {

// A capture file: an output file that knows its name, for the error when it
// cannot be written.
class TCaptureFile final : public std::ofstream {
 public:
  explicit TCaptureFile(const std::string& name)
      : std::ofstream(name, std::ios::out | std::ios::trunc), name_(name) {}
  const std::string& Name() const noexcept { return name_; }

 private:
  std::string name_;
};

// Flushes `stream` and raises the platform's error when it has failed (the
// disk is full, the file too large): the output would be lost unseen.
void CheckCaptureWritten(std::ostream& stream) {
  errno = 0;
  stream.flush();
  if (!stream.fail()) {
    return;
  }
  const int error = errno;
  const auto* file = dynamic_cast<const TCaptureFile*>(&stream);
  RaisePlatformError("Cannot write to %s: %s",
                     file != nullptr ? file->Name().c_str() : "the capture stream",
                     error != 0 ? std::strerror(error) : "write error");
}

}  // namespace

void TInferenceEngine::PrintOut(std::string_view logical_name, std::string_view text) {
  const TBusyScope busy(busy_);
  budget_.ChargeOutput(static_cast<std::int64_t>(text.size()));
  if (logical_name == "t" || logical_name.empty()) {
    if (capture_) {
      capture_->write(text.data(), static_cast<std::streamsize>(text.size()));
      // Each write reaches the file at once, so that a failure is reported by
      // the output that met it; the capture ends there, and later output
      // goes where it went before.
      try {
        CheckCaptureWritten(*capture_);
      } catch (const EBaseException&) {
        capture_.reset();
        throw;
      }
    } else if (OnPrintOut) {
      OnPrintOut(*this, logical_name, text);
    }
    return;
  }
  if (TLogicalStream* stream = io_streams_->Get(logical_name)) {
    stream->Write(text);
    return;
  }
  if (OnPrintOut) {
    OnPrintOut(*this, logical_name, text);
    return;
  }
  RaiseIE(SNoSuchFunction, "printout");
}

std::string TInferenceEngine::ReadLine(std::string_view logical_name) {
  const TBusyScope busy(busy_);
  if (logical_name != "t" && !logical_name.empty()) {
    if (TLogicalStream* stream = io_streams_->Get(logical_name)) {
      std::string line;
      stream->ReadLine(line);
      return line;
    }
  }
  if (batch_ != nullptr) {
    std::string line;
    std::getline(*batch_, line);
    PrintOut("", line + "\n");
    return line;
  }
  if (OnReadLine) {
    std::string text;
    OnReadLine(*this, logical_name, text);
    return text;
  }
  RaiseIE(SNoReadFunctionWarning, "readline");
}

Ref<IStreamToken> TInferenceEngine::ReadToken(std::string_view logical_name) {
  const TBusyScope busy(busy_);
  if (OnReadToken && (logical_name == "t" || logical_name.empty()) && batch_ == nullptr) {
    Ref<IStreamToken> token;
    OnReadToken(*this, logical_name, token);
    return token;
  }
  if (ReadTokenHook) {
    return ReadTokenHook(*this, logical_name);
  }
  RaiseIE(SNoReadFunctionWarning, "read");
}

bool TInferenceEngine::StartCapture(std::unique_ptr<std::ostream> stream) {
  capture_ = std::move(stream);
  return true;
}

bool TInferenceEngine::StartCapture(const std::string& file_name) {
  CheckFileName(file_name);
  auto file = std::make_unique<TCaptureFile>(file_name);
  if (!*file) {
    RaiseIE(SBadArgument, ("cannot create " + file_name).c_str());
  }
  return StartCapture(std::move(file));
}

bool TInferenceEngine::StopCapture() {
  // The capture ends whatever happens; what could not be written is reported.
  std::unique_ptr<std::ostream> capture = std::move(capture_);
  if (capture) {
    CheckCaptureWritten(*capture);
  }
  return true;
}

bool TInferenceEngine::Batch(std::istream& stream) {
  const TNestingGuard nesting(TNesting::nBatch);
  nesting.Check();
  const TBusyScope busy(busy_);
  std::istream* previous = std::exchange(batch_, &stream);
  try {
    std::string line;
    while (std::getline(*batch_, line)) {
      // A line of a batch counts as the batch's, not as a load.
      ReadText(line, [](IEngineParser& parser) { parser.Parse(true); });
    }
  } catch (...) {
    batch_ = previous;
    throw;
  }
  batch_ = previous;
  return true;
}

bool TInferenceEngine::Batch(const std::string& file_name) {
  CheckFileName(file_name);
  std::ifstream file(file_name);
  if (!file) {
    RaiseIE(SBadArgument, ("cannot open " + file_name).c_str());
  }
  // Each line is parsed on its own, so an error knows only "line 1" of it:
  // the message names the file and the line of the file instead.
  int line = 0;
  const std::streampos start = file.tellg();
  try {
    return Batch(file);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& error) {
    file.clear();
    const std::streampos reached = file.tellg();
    file.seekg(start);
    for (std::string text; file.tellg() < reached && std::getline(file, text);) {
      ++line;
    }
    RethrowAt(file_name, std::max(line, 1), error);
  }
}

}  // namespace zephro
