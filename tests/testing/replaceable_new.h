#pragma once

// Whether a test binary may replace the global operator new and delete. The
// thread sanitizer's runtime defines them itself, so in that build a test
// that counts or fails allocations leaves them alone and skips.

#if defined(__SANITIZE_THREAD__)
#define ZEPHRO_REPLACEABLE_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEPHRO_REPLACEABLE_NEW 0
#endif
#endif
#ifndef ZEPHRO_REPLACEABLE_NEW
#define ZEPHRO_REPLACEABLE_NEW 1
#endif
