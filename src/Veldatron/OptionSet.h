#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

namespace veldatron {

// A set of flag bits in one byte with the operations of a bit set. `Derived` is the concrete set
// (CharacterStyle, SemanticPromptClickModifiers), so every operation hands back that type.
// A member is itself a set of one or more bits; the results of insert, remove and update follow
// that: they speak about all the bits of the argument.
template <typename Derived> struct OptionSet {
    uint8_t rawValue = 0;

    constexpr OptionSet() = default;
    constexpr explicit OptionSet(uint8_t raw) : rawValue(raw) {}
    constexpr OptionSet(std::initializer_list<Derived> members) {
        for (const Derived& member : members) {
            rawValue |= member.rawValue;
        }
    }

    friend constexpr bool operator==(const OptionSet&, const OptionSet&) = default;

    friend constexpr Derived operator|(Derived a, Derived b) {
        return Derived(a.rawValue | b.rawValue);
    }
    friend constexpr Derived operator&(Derived a, Derived b) {
        return Derived(a.rawValue & b.rawValue);
    }
    friend constexpr Derived operator^(Derived a, Derived b) {
        return Derived(a.rawValue ^ b.rawValue);
    }

    constexpr Derived intersection(Derived other) const { return self() & other; }
    constexpr Derived symmetricDifference(Derived other) const { return self() ^ other; }
    constexpr Derived subtracting(Derived other) const {
        return Derived(uint8_t(rawValue & ~other.rawValue));
    }

    constexpr bool isEmpty() const { return rawValue == 0; }
    // True when every bit of `member` is set.
    constexpr bool contains(Derived member) const {
        return (rawValue & member.rawValue) == member.rawValue;
    }
    constexpr bool isSubset(Derived other) const { return (rawValue & ~other.rawValue) == 0; }
    constexpr bool isSuperset(Derived other) const { return other.isSubset(self()); }
    constexpr bool isDisjoint(Derived other) const { return (rawValue & other.rawValue) == 0; }

    // Sets the bits of `member`; true when at least one of them was not set before.
    constexpr bool insert(Derived member) {
        const bool inserted = !contains(member);
        rawValue |= member.rawValue;
        return inserted;
    }
    // Clears the bits of `member`; returns those of them that were set, or none.
    constexpr std::optional<Derived> remove(Derived member) {
        const Derived present = intersection(member);
        rawValue &= uint8_t(~member.rawValue);
        if (present.isEmpty()) {
            return std::nullopt;
        }
        return present;
    }
    // Sets the bits of `member`; returns those of them that were already set, or none.
    constexpr std::optional<Derived> update(Derived member) {
        const Derived present = intersection(member);
        rawValue |= member.rawValue;
        if (present.isEmpty()) {
            return std::nullopt;
        }
        return present;
    }

private:
    constexpr Derived self() const { return Derived(rawValue); }
};

} // namespace veldatron
