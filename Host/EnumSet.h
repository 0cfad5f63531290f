// A set of a small enumeration kept in one machine word: bit n holds ordinal n.
#pragma once

#include <cstdint>
#include <initializer_list>

template <typename E, typename Storage = std::uint8_t>
class TEnumSet {
 public:
  using Element = E;
  using Bits = Storage;

  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  static constexpr TEnumSet FromBits(Storage bits) {
    TEnumSet s;
    s.FBits = bits;
    return s;
  }

  constexpr Storage ToBits() const { return FBits; }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TEnumSet& Include(E e) {
    FBits = static_cast<Storage>(FBits | Bit(e));
    return *this;
  }
  constexpr TEnumSet& Exclude(E e) {
    FBits = static_cast<Storage>(FBits & ~Bit(e));
    return *this;
  }

  friend constexpr TEnumSet operator+(TEnumSet a, TEnumSet b) {
    return FromBits(static_cast<Storage>(a.FBits | b.FBits));
  }
  friend constexpr TEnumSet operator-(TEnumSet a, TEnumSet b) {
    return FromBits(static_cast<Storage>(a.FBits & ~b.FBits));
  }
  friend constexpr TEnumSet operator*(TEnumSet a, TEnumSet b) {
    return FromBits(static_cast<Storage>(a.FBits & b.FBits));
  }
  friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.FBits == b.FBits; }
  constexpr TEnumSet& operator+=(TEnumSet b) { return *this = *this + b; }
  constexpr TEnumSet& operator-=(TEnumSet b) { return *this = *this - b; }

 private:
  static constexpr Storage Bit(E e) { return static_cast<Storage>(1u << static_cast<unsigned>(e)); }
  Storage FBits = 0;
};
