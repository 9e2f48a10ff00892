// Little-endian fields in a byte string, as PE files store them. The caller
// checks that the bytes are there.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

inline uint16_t ReadLe16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                               static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

inline uint32_t ReadLe32(const std::string& bytes, size_t offset) {
  return static_cast<uint32_t>(ReadLe16(bytes, offset)) | static_cast<uint32_t>(ReadLe16(bytes, offset + 2)) << 16;
}

inline void WriteLe16(std::string& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

inline void WriteLe32(std::string& bytes, size_t offset, uint32_t value) {
  WriteLe16(bytes, offset, static_cast<uint16_t>(value & 0xFFFF));
  WriteLe16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}
