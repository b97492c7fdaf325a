// The fourteen character classes that decide what counts as text, the same
// characters in every input encoding, and sets of them.
#pragma once

#include <cstdint>

namespace kurvane::text {

// In the order of the settings record's class flags.
enum class TextClass : std::uint8_t {
    none,
    half_digit,
    half_upper,
    half_lower,
    half_kana,
    half_symbol,
    hiragana,
    katakana,
    kanji,
    full_digit,
    full_upper,
    full_lower,
    cyrillic,
    greek,
    full_symbol,
};
inline constexpr unsigned text_class_count = static_cast<unsigned>(TextClass::full_symbol) + 1;

// A set of classes, one bit per class; `none` is never a member.
class ClassSet {
public:
    constexpr ClassSet() = default;
    static constexpr ClassSet all() { return ClassSet(all_bits); }

    constexpr ClassSet& add(TextClass c) {
        if (c != TextClass::none) bits_ = static_cast<std::uint16_t>(bits_ | bit(c));
        return *this;
    }
    constexpr bool contains(TextClass c) const { return (bits_ & bit(c)) != 0 && c != TextClass::none; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr std::uint16_t bits() const { return bits_; }

private:
    static constexpr std::uint16_t all_bits = static_cast<std::uint16_t>(((1u << text_class_count) - 1) & ~1u);
    explicit constexpr ClassSet(std::uint16_t b) : bits_(b) {}
    static constexpr std::uint16_t bit(TextClass c) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(c));
    }
    std::uint16_t bits_ = 0;
};
static_assert(text_class_count <= 16, "ClassSet holds one bit per class in 16 bits");

}  // namespace kurvane::text
