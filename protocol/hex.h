// Byte rendering shared by every page that shows frames in hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Two upper-case hexadecimal digits for 0..255 ("0A", "FF"); "." for anything above 255.
std::string ByteToHex(int32_t value);

// Each byte as ByteToHex followed by one blank: {01, 02, FF} gives "01 02 FF ".
std::string BytesToHexPairs(const uint8_t *bytes, size_t count);
