// Every narrow string literal of the program is UTF-8: sources are UTF-8 and
// compiled with -finput-charset=UTF-8 and no other execution character set.
// A build that turned literals into another code page would show mojibake in
// every message and dialog; stop it here.
#pragma once

namespace kurvane::utf8_check {
// "あ" is 0xE3 0x81 0x82 in UTF-8 and 0x82 0xA0 in code page 932.
inline constexpr char probe[] = "あ";
static_assert(sizeof(probe) == 4 && static_cast<unsigned char>(probe[0]) == 0xE3 &&
                  static_cast<unsigned char>(probe[1]) == 0x81 &&
                  static_cast<unsigned char>(probe[2]) == 0x82,
              "narrow literals must be UTF-8: compile without -fexec-charset");
}  // namespace kurvane::utf8_check
