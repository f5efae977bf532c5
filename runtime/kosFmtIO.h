// Unsigned decimal and hexadecimal formatting, and decimal and line-end output
// on the direct output path.
#pragma once

#include <cstdint>

// Writes the digits at buffer[pos] (no NUL) and advances pos.
void K2C_DecToStr(char* buffer, std::uint32_t& pos, std::uint32_t value);
void K2C_HexToStr(char* buffer, std::uint32_t& pos, std::uint32_t value);  // exactly 8 digits
void K2C_StdOutD(std::uint32_t value, std::uint32_t width);
void K2C_StdOutN();  // CR LF
