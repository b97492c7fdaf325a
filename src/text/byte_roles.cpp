#include "text/byte_roles.h"

namespace kurvane::text {

ByteRoles ByteRoles::euc_jp(const std::vector<std::uint8_t>& bmp_roles) {
    using namespace detail;
    ByteRoles t;
    for (unsigned c = 0; c < 256; ++c) {
        const auto b = static_cast<unsigned char>(c);
        if (euc_jp_cell(b)) t.single_[c] = lead_2;
        else if (b == euc_jp_ss2) t.single_[c] = lead_ss2;
        else if (b == euc_jp_ss3) t.single_[c] = lead_ss3;
        // The single bytes stand for the code points of their value.
        else if (b < euc_jp_ss2 || (b > euc_jp_ss3 && b <= euc_jp_c1_last)) t.single_[c] = bmp_roles[c];
    }
    // An unassigned code (0 in the set's table) is none.
    const auto role = [&](std::uint16_t u) -> std::uint8_t { return u != 0 ? bmp_roles[u] : 0; };
    constexpr std::size_t byte_values = 256;
    t.jis0208_.resize(byte_values * byte_values);
    t.jis0212_.resize(euc_cells * euc_cells);
    for (std::size_t row = 0; row < euc_cells; ++row) {
        for (std::size_t cell = 0; cell < euc_cells; ++cell) {
            t.jis0208_[(euc_jp_cell_first + row) * byte_values + euc_jp_cell_first + cell] = role(euc_jp_jis0208[row][cell]);
            t.jis0212_[row * euc_cells + cell] = role(euc_jp_jis0212[row][cell]);
        }
    }
    // Each row's kept characters from its first cell on.
    for (std::size_t lead = first_trail; lead < byte_values; ++lead) {
        std::size_t trail = first_trail;
        while (trail < byte_values && t.jis0208_[lead * byte_values + trail] == 1) ++trail;
        t.pair_limits_[lead] = trail > first_trail ? static_cast<std::uint8_t>(trail - 1) : 0;
    }
    for (std::size_t cell = 0; cell <= euc_jp_kana_last - euc_jp_cell_first; ++cell)
        t.kana_[cell] = bmp_roles[half_katakana_first + cell];
    return t;
}

ByteRoles ByteRoles::utf8(const std::vector<std::uint8_t>& bmp_roles) {
    ByteRoles t;
    constexpr std::uint8_t by_length[] = {0, 0, lead_2, lead_3, lead_4};
    for (unsigned c = 0; c < 256; ++c) {
        const std::uint8_t length = detail::utf8_leads[c].length;
        t.single_[c] = length == 1 ? bmp_roles[c] : by_length[length];
    }
    t.bmp_ = bmp_roles;
    return t;
}

}  // namespace kurvane::text
