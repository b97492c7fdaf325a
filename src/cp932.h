// For the few programs whose narrow literals are data bytes in code page 932
// (test inputs, the sample corpus, the Wine driver): they are compiled with
// -finput-charset=UTF-8 -fexec-charset=CP932 (see cmake/KurvaneTargets.cmake).
// A build without the flag would feed them UTF-8 instead; stop it here.
#pragma once

namespace kurvane::cp932_check {
// "あ" is 0x82 0xA0 in code page 932 and 0xE3 0x81 0x82 in UTF-8.
inline constexpr char probe[] = "あ";
static_assert(sizeof(probe) == 3 && static_cast<unsigned char>(probe[0]) == 0x82 &&
                  static_cast<unsigned char>(probe[1]) == 0xA0,
              "compile with -finput-charset=UTF-8 -fexec-charset=CP932");
}  // namespace kurvane::cp932_check
