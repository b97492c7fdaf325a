// Every narrow string literal of the program is code page 932 bytes: sources
// are UTF-8 and are compiled with -finput-charset=UTF-8 -fexec-charset=CP932.
// A build without those flags would show mojibake in every dialog; stop it here.
#pragma once

namespace kurvane::cp932_check {
// "あ" is 0x82 0xA0 in code page 932 and 0xE3 0x81 0x82 in UTF-8.
inline constexpr char probe[] = "あ";
static_assert(sizeof(probe) == 3 && static_cast<unsigned char>(probe[0]) == 0x82 &&
                  static_cast<unsigned char>(probe[1]) == 0xA0,
              "compile with -finput-charset=UTF-8 -fexec-charset=CP932");
}  // namespace kurvane::cp932_check
