// Checksums of the block and stream protocols: the XMODEM CRC-16
// (polynomial 0x1021, initial value 0), table driven.
#pragma once

#include <cstddef>
#include <cstdint>

extern const std::uint16_t kCrc16Table[256];

inline std::uint16_t Crc16Update(std::uint16_t crc, std::uint8_t b) {
  return static_cast<std::uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ b) & 0xFF]);
}
inline std::uint16_t Crc16(const void* data, size_t n, std::uint16_t crc = 0) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) crc = Crc16Update(crc, p[i]);
  return crc;
}
