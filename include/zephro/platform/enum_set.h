#pragma once

// EnumSet<E>: a constexpr set of the enumerators of a scoped enumeration with at
// most 64 members, the engine's counterpart of a Pascal-style `set of`.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace zephro {

template <class E>
  requires std::is_enum_v<E>
class EnumSet {
 public:
  constexpr EnumSet() noexcept = default;
  constexpr EnumSet(std::initializer_list<E> members) noexcept {
    for (E e : members) {
      bits_ |= Bit(e);
    }
  }
  static constexpr EnumSet FromBits(std::uint64_t bits) noexcept {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr bool Contains(E e) const noexcept { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const noexcept { return bits_ == 0; }
  constexpr std::uint64_t Bits() const noexcept { return bits_; }
  constexpr int Count() const noexcept { return __builtin_popcountll(bits_); }
  // True when every member of `other` is a member of this set.
  constexpr bool Includes(EnumSet other) const noexcept {
    return (bits_ & other.bits_) == other.bits_;
  }

  constexpr EnumSet& Include(E e) noexcept {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr EnumSet& Exclude(E e) noexcept {
    bits_ &= ~Bit(e);
    return *this;
  }

  friend constexpr EnumSet operator|(EnumSet a, EnumSet b) noexcept {
    return FromBits(a.bits_ | b.bits_);
  }
  friend constexpr EnumSet operator|(EnumSet a, E b) noexcept { return FromBits(a.bits_ | Bit(b)); }
  friend constexpr EnumSet operator&(EnumSet a, EnumSet b) noexcept {
    return FromBits(a.bits_ & b.bits_);
  }
  friend constexpr EnumSet operator-(EnumSet a, EnumSet b) noexcept {
    return FromBits(a.bits_ & ~b.bits_);
  }
  friend constexpr EnumSet operator-(EnumSet a, E b) noexcept { return FromBits(a.bits_ & ~Bit(b)); }
  friend constexpr bool operator==(EnumSet a, EnumSet b) noexcept = default;

  // Visits the members in declaration order.
  template <class F>
  constexpr void ForEach(F&& f) const {
    for (std::uint64_t b = bits_; b != 0; b &= b - 1) {
      f(static_cast<E>(__builtin_ctzll(b)));
    }
  }

 private:
  static constexpr std::uint64_t Bit(E e) noexcept {
    return std::uint64_t{1} << static_cast<unsigned>(e);
  }
  std::uint64_t bits_ = 0;
};

}  // namespace zephro
