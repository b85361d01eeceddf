// What unfinished input costs: the scanner holds a whole top-level expression
// before it hands out its first token, so an expression that never ends is
// held whole. It must cost a small multiple of its size, not a token object
// per byte. Measured by counting the heap bytes live at the peak, which this
// binary tracks by replacing the global operator new and delete: no clock is
// involved.

#include <malloc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <sstream>
#include <string>

#include "testing/replaceable_new.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_stream.h"
#include "zephro/platform/exceptions.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::int64_t> live_bytes{0};
std::atomic<std::int64_t> peak_bytes{0};

void Allocated(void* p) {
  if (counting.load(std::memory_order_relaxed)) {
    const auto now = live_bytes += static_cast<std::int64_t>(malloc_usable_size(p));
    std::int64_t peak = peak_bytes.load(std::memory_order_relaxed);
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
  }
}

// The most heap bytes live at once while `work` ran, above what was live
// when it started.
template <class Work>
std::int64_t PeakBytes(Work&& work) {
  live_bytes = 0;
  peak_bytes = 0;
  counting = true;
  work();
  counting = false;
  return peak_bytes.load();
}

}  // namespace

#if ZEPHRO_REPLACEABLE_NEW
void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  Allocated(p);
  return p;
}

void operator delete(void* p) noexcept {
  if (p != nullptr && counting.load(std::memory_order_relaxed)) {
    live_bytes -= static_cast<std::int64_t>(malloc_usable_size(p));
  }
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#endif

namespace zephro {
namespace {

constexpr std::size_t kInputSize = 1 << 18;
// Bytes held per byte of input, at most: the packed look-ahead takes three
// bytes for a "(", and a growing buffer briefly holds its old and new copies
// (a token object would take a hundred).
constexpr std::int64_t kAllowedPerByte = 8;

struct Source {
  const char* name;
  std::string text;
  bool from_istream;
};

TEST(InputMemoryTest, AnExpressionThatNeverEndsCostsASmallMultipleOfItsSize) {
  if (!ZEPHRO_REPLACEABLE_NEW) {
    GTEST_SKIP() << "the heap is not counted under the thread sanitizer";
  }
  const Source sources[] = {
      {.name = "opening parentheses", .text = std::string(kInputSize, '('), .from_istream = false},
      {.name = "the same from a stream", .text = std::string(kInputSize, '('), .from_istream = true},
  };
  for (const Source& source : sources) {
    SCOPED_TRACE(source.name);
    std::istringstream in(source.text);
    std::unique_ptr<TIEClipsStream> stream =
        source.from_istream ? std::make_unique<TIEClipsStream>(in)
                            : std::make_unique<TIEClipsStream>(TIEClipsStream::BorrowText{},
                                                               source.text);
    Ref<IStreamToken> first;
    const std::int64_t peak = PeakBytes([&] { first = stream->NextToken(); });
    EXPECT_TRUE(first->IsChar('('));
    EXPECT_LE(peak, kAllowedPerByte * static_cast<std::int64_t>(kInputSize));
    // What was read ahead is handed out as it was read, down to the end.
    std::size_t opened = 1;
    for (Ref<IStreamToken> token = stream->NextToken(); !token->IsEnd();
         token = stream->NextToken()) {
      ASSERT_TRUE(token->IsChar('('));
      ++opened;
    }
    EXPECT_EQ(opened, kInputSize);
  }
}

// Through the engine, as the shell hands over what it read: the parser
// reports the unfinished expression and the cost stays as small.
TEST(InputMemoryTest, ParsingUnfinishedInputCostsASmallMultipleOfItsSize) {
  if (!ZEPHRO_REPLACEABLE_NEW) {
    GTEST_SKIP() << "the heap is not counted under the thread sanitizer";
  }
  TInferenceEngine engine(nullptr);
  std::string text = "(printout t ";
  text.append(kInputSize, '(');
  bool raised = false;
  const std::int64_t peak = PeakBytes([&] {
    try {
      engine.Parse(text, true);
    } catch (const EBaseException&) {
      raised = true;
    }
  });
  EXPECT_TRUE(raised);
  EXPECT_LE(peak, kAllowedPerByte * static_cast<std::int64_t>(text.size()));
}

}  // namespace
}  // namespace zephro
