#include "zephro/platform/text_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ios>
#include <istream>
#include <ostream>
#include <system_error>

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
  CheckFileName(path);
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

void CheckFileName(std::string_view path) {
  if (path.empty()) {
    RaisePlatformError("Invalid file name: the name is empty");
  }
  if (const std::size_t nul = path.find('\0'); nul != std::string_view::npos) {
    // The name as far as the system would read it, and how much follows.
    const std::string head(path.substr(0, nul));
    RaisePlatformError("Invalid file name \"%s\\0...\": it holds a NUL character", head.c_str());
  }
}

namespace {

// A file descriptor closed when the scope ends, unless released.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now; the system's answer (a write can fail only at the close).
  int Close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

[[noreturn]] void RaiseWriteError(const std::string& path, int error) {
  RaisePlatformError("Cannot write to %s: %s", path.c_str(), std::strerror(error));
}

// Writes all of `text` to `fd`; the errno of the failure, or 0.
int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

std::ifstream OpenFileForReading(const std::string& path) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    RaisePlatformError("Cannot open file %s: %s", path.c_str(),
                       errno != 0 ? std::strerror(errno) : "unknown reason");
  }
  return file;
}

void ReplaceFile(const std::string& path, std::string_view text) {
  CheckFileName(path);
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::path target = path;
  if (fs::is_symlink(target, ignored)) {
    target = fs::weakly_canonical(target, ignored);
    if (ignored) {
      RaiseWriteError(path, ignored.value());
    }
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    // A device or a pipe is written as it is: it cannot be replaced.
    TFileDescriptor file(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    int error = file.Get() < 0 ? errno : WriteAll(file.Get(), text);
    if (file.Get() >= 0 && file.Close() != 0 && error == 0) {
      error = errno;
    }
    if (error != 0) {
      RaiseWriteError(path, error);
    }
    return;
  }
  // Beside the target, so that the rename stays on one file system; the name
  // is new (O_EXCL), so nothing of anybody else's is overwritten.
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = target.string() + ".tmp" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) {
      RaiseWriteError(path, errno);
    }
  }
  TFileDescriptor file(fd);
  int error = 0;
  if (exists && ::fchmod(fd, old.st_mode & 07777) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = WriteAll(fd, text);
  }
  if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) {
    error = errno;  // EINVAL: a file that cannot be synchronised (a pipe, a device)
  }
  if (file.Close() != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    RaiseWriteError(path, error);
  }
}

}  // namespace zephro
