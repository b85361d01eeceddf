#pragma once

// TScopeExit: runs a function when the scope that holds it ends, however it
// ends (return or exception).
//
//   firing_ = activation;
//   const TScopeExit done([&] { firing_ = nullptr; });
//
// The function must not throw.

#include <utility>

namespace zephro {

template <class F>
class [[nodiscard]] TScopeExit {
 public:
  explicit TScopeExit(F f) noexcept : f_(std::move(f)) {}
  ~TScopeExit() { f_(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F f_;
};

}  // namespace zephro
