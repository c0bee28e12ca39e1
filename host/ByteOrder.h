// Reading and writing the fixed byte orders of file formats, independent of the machine's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline uint16_t BigEndian16(const uint8_t* P) {
    return uint16_t(P[0] << 8 | P[1]);
}

inline uint32_t BigEndian32(const uint8_t* P) {
    return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | P[3];
}

inline uint16_t LittleEndian16(const uint8_t* P) {
    return uint16_t(P[0] | P[1] << 8);
}

inline uint32_t LittleEndian32(const uint8_t* P) {
    return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}

inline void PutBigEndian16(std::string& Out, uint16_t V) {
    const char bytes[2] = {char(V >> 8), char(V)};
    Out.append(bytes, 2);
}

inline void PutBigEndian32(std::string& Out, uint32_t V) {
    const char bytes[4] = {char(V >> 24), char(V >> 16), char(V >> 8), char(V)};
    Out.append(bytes, 4);
}

// A Bytes-byte unsigned value (at most 8) in the order a file declares, as TIFF and EXIF structures do.
inline uint64_t EndianValue(const uint8_t* P, int Bytes, bool Little) {
    uint64_t value = 0;
    for (int i = 0; i < Bytes; ++i)
        value = value << 8 | P[Little ? Bytes - 1 - i : i];
    return value;
}

// Writes Value's low Bytes bytes at P in the order Little says.
inline void PutEndianValue(char* P, uint64_t Value, int Bytes, bool Little) {
    for (int i = 0; i < Bytes; ++i)
        P[Little ? i : Bytes - 1 - i] = char(Value >> (8 * i));
}
