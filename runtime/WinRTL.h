// Small helpers for Win32 values.
#pragma once

#include <cstdint>

#include "platform/console/Console.h"
#include "platform/kernel/WinTypes.h"

namespace WinRTL {

constexpr std::uint32_t GetRValue(std::uint32_t c) {
  return c & 0xFF;
}
constexpr std::uint32_t GetGValue(std::uint32_t c) {
  return (c >> 8) & 0xFF;
}
constexpr std::uint32_t GetBValue(std::uint32_t c) {
  return (c >> 16) & 0xFF;
}
constexpr std::uint32_t LOWORD(std::uint32_t v) {
  return v & 0xFFFF;
}
constexpr std::uint32_t HIWORD(std::uint32_t v) {
  return v >> 16;
}
constexpr std::uint32_t RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return r | (std::uint32_t{g} << 8) | (std::uint32_t{b} << 16);
}
constexpr std::uint32_t PALETTEINDEX(std::uint32_t index) {
  return 0x01000000u + (index & 0xFF);
}

// The two console calls that take their position record by reference; each
// passes the position on by value and returns the call's result.
win32::BOOL rtlSetConsoleCursorPosition(win32::HANDLE console, const win32::COORD& position);
win32::BOOL rtlWriteConsoleOutputCharacterA(win32::HANDLE console, const char* characters,
                                            std::uint32_t count, const win32::COORD& position,
                                            std::uint32_t& written);

}  // namespace WinRTL
