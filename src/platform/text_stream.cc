#include "zephro/platform/text_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ios>
#include <istream>
#include <ostream>

#include "zephro/platform/errors.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

// How much is read or written at a time.
constexpr std::size_t kChunk = 8192;

using Traits = std::char_traits<char>;

}  // namespace

TTextStream::TTextStream(std::istream& in) : in_(in.rdbuf()) {}

TTextStream::TTextStream(std::ostream& out) : out_(out.rdbuf()) {}

TTextStream::TTextStream(std::string text) : buffer_(std::move(text)), in_memory_(true) {}

TTextStream::TTextStream(const std::string& path, TFileMode mode) : path_(path) {
  std::ios::openmode flags = std::ios::binary;
  switch (mode) {
    case TFileMode::kRead:
      flags |= std::ios::in;
      break;
    case TFileMode::kReadWrite:
      flags |= std::ios::in | std::ios::out;
      break;
    case TFileMode::kCreate:
      flags |= std::ios::out | std::ios::trunc;
      break;
    case TFileMode::kAppend:
      flags |= std::ios::in | std::ios::out | std::ios::app;
      break;
  }
  errno = 0;
  file_ = std::make_unique<std::fstream>(path, flags);
  if (!file_->is_open()) {
    RaisePlatformError("Cannot open file %s: %s", path.c_str(),
                       errno != 0 ? std::strerror(errno) : "unknown reason");
  }
  if (mode != TFileMode::kCreate) {
    in_ = file_->rdbuf();
  }
  if (mode != TFileMode::kRead) {
    out_ = file_->rdbuf();
  }
  shared_position_ = in_ != nullptr && out_ != nullptr;
  if (mode == TFileMode::kAppend) {
    file_->rdbuf()->pubseekoff(0, std::ios::end, std::ios::in | std::ios::out);
  }
}

TTextStream::~TTextStream() {
  try {
    Flush();
  } catch (const EBaseException&) {
    // A destructor cannot report the failure; Flush() before destruction to see it.
  }
}

bool TTextStream::Fill() {
  if (in_ == nullptr) {
    return false;
  }
  if (writing_) {
    StartReading();
  }
  // Keep the tail of what was read so that it can still be put back.
  const std::size_t keep = std::min(pos_, kPutBackDepth);
  buffer_.erase(0, pos_ - keep);
  pos_ = keep;
  std::streamsize available = in_->in_avail();
  if (available < 0) {
    return false;
  }
  if (available == 0) {
    // Nothing is waiting below us: block for one byte only, so that interactive
    // input is handed on as soon as it arrives.
    const Traits::int_type c = in_->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) {
      return false;
    }
    buffer_.push_back(Traits::to_char_type(c));
    available = in_->in_avail();
  }
  if (available > 0) {
    const std::size_t old_size = buffer_.size();
    const std::streamsize wanted = std::min(available, static_cast<std::streamsize>(kChunk));
    buffer_.resize(old_size + static_cast<std::size_t>(wanted));
    const std::streamsize got = in_->sgetn(buffer_.data() + old_size, wanted);
    buffer_.resize(old_size + static_cast<std::size_t>(std::max<std::streamsize>(got, 0)));
  }
  return pos_ < buffer_.size();
}

bool TTextStream::GetLine(std::string& line) {
  line.clear();
  if (IsEof()) {
    return false;
  }
  while (pos_ < buffer_.size() || Fill()) {
    const char* start = buffer_.data() + pos_;
    const std::size_t available = buffer_.size() - pos_;
    if (const void* feed = std::memchr(start, '\n', available)) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
      line.append(start, length);
      pos_ += length + 1;
      ++line_;
      break;
    }
    line.append(start, available);
    pos_ += available;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return true;
}

bool TTextStream::SkipInLineSpaces() {
  for (;;) {
    const int c = PeekChar();
    if (c == '\n' || c == '\r') {
      return true;
    }
    if (c == kEof || c > ' ') {
      return false;
    }
    ++pos_;
  }
}

void TTextStream::Put(std::string_view text) {
  if (in_memory_) {
    buffer_.append(text);
    return;
  }
  if (out_ == nullptr) {
    RaisePlatformError("The stream is not open for writing");
  }
  if (shared_position_ && !writing_) {
    StartWriting();
  }
  out_buffer_.append(text);
  if (out_buffer_.size() >= kChunk) {
    Flush();
  }
}

void TTextStream::Flush() {
  if (out_ == nullptr) {
    return;
  }
  const std::string pending = std::exchange(out_buffer_, {});
  const auto size = static_cast<std::streamsize>(pending.size());
  if (out_->sputn(pending.data(), size) != size || out_->pubsync() == -1) {
    RaisePlatformError("Cannot write to %s", path_.empty() ? "the stream" : path_.c_str());
  }
}

void TTextStream::StartWriting() {
  // The file stands past the bytes read ahead; writing starts where reading stands.
  const std::size_t unread = buffer_.size() - pos_;
  if (unread > 0) {
    in_->pubseekoff(-static_cast<std::streamoff>(unread), std::ios::cur,
                    std::ios::in | std::ios::out);
  }
  buffer_.clear();
  pos_ = 0;
  writing_ = true;
}

void TTextStream::StartReading() {
  Flush();
  // A file buffer turns from writing to reading only through a seek.
  in_->pubseekoff(0, std::ios::cur, std::ios::in | std::ios::out);
  writing_ = false;
}

}  // namespace zephro
