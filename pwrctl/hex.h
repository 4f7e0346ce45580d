// Hexadecimal text of wire bytes, as pwrctl takes and prints it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Appends the bytes of an even number of hexadecimal digits, which spaces,
// colons and dashes may separate anywhere. False on any other character, no
// digits or an odd count.
bool ParseHex(const char* text, std::vector<uint8_t>* bytes);

// Two lower-case digits a byte, one space between bytes.
std::string ToHex(const uint8_t* bytes, size_t size);
