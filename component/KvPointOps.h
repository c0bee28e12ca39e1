// Row kernels of the point operations (invert, brightness, grey) and of the channel envelopes.
//
// Exactness: every kernel gives, byte for byte, the result of its per-pixel rule evaluated in extended
// precision (TKvReal, KvReal.h) and rounded with Round (ties to even), stored as the low 8 bits. The vector
// paths are different evaluations of the same rule, never approximations.
//
// Rows are 24-bit scan lines: 3 bytes per pixel, blue at +0, green at +1, red at +2. A kernel reads and
// writes exactly the first 3 * Count bytes at Pixels, never the row padding behind them. Arguments are
// not checked: the caller passes a valid row, Count >= 0 and a Channel of 0..2.
#pragma once

#include <array>
#include <cstdint>

namespace KvKernels {

// Maps one channel value to its new value.
using TChannelTable = std::array<uint8_t, 256>;

// One table per channel, named by colour; byte offset 0 is Blue, 1 Green, 2 Red.
struct TChannelTables {
    TChannelTable Blue, Green, Red;
};

// Instruction-set levels of the kernels, in increasing order of capability.
enum class TSimdLevel { Scalar = 0, Sse41 = 1, Avx2 = 2, Avx512Vbmi = 3 };

// Every byte of the Count pixels becomes 255 - byte.
void InvertRow(uint8_t* Pixels, int Count);

// Brightness table: Value clamped to -100..100, channels moved towards white (Value >= 0) or black.
TChannelTable BrightnessTable(int32_t Value);

// A byte table and, where one agrees with every entry, the same mapping as arithmetic on 16-bit lanes:
// Table[v] == uint16_t(((v * Scale) >> 8) + Offset) >> 8 for v = 0..255. Kernels for which the arithmetic
// is cheaper than the lookup use it; the bytes are the table's either way.
struct TByteMap {
    TChannelTable Table;
    bool Affine = false;
    uint16_t Scale = 0, Offset = 0;
};

// Brightness as a byte map: the rule's table, with the arithmetic form for most values (a rounded
// straight line, checked against all 256 entries; values whose ties defeat it keep the lookup only).
TByteMap BrightnessMap(int32_t Value);

// Each pixel becomes grey: Round(0.2125 red + 0.7154 green + 0.0721 blue) in all three channels.
void GreyScaleRow(uint8_t* Pixels, int Count);

// Envelope table: entry v is the low 8 bits of Round(v * Gains[v]).
TChannelTable EnvelopeTable(const double (&Gains)[256]);

// An envelope as a byte map: its table, with the arithmetic form when every gain is the same (the
// default envelope among them) and a form agrees with all 256 entries.
TByteMap EnvelopeMap(const double (&Gains)[256]);

// Every channel of the Count pixels goes through its own table.
void MapRow(uint8_t* Pixels, int Count, const TChannelTables& Tables);

// Every channel of the Count pixels goes through the same table (brightness): a plain byte lookup.
void MapBytesRow(uint8_t* Pixels, int Count, const TChannelTable& Table);
void MapBytesRow(uint8_t* Pixels, int Count, const TByteMap& Map);

// The channel at byte offset Channel (0..2) goes through Table; the other two stay.
void MapChannelRow(uint8_t* Pixels, int Count, int Channel, const TChannelTable& Table);

// Highest level this processor and operating system can run.
TSimdLevel SupportedSimdLevel();

// Level the kernels use now; the supported level unless SetSimdLevel chose another.
TSimdLevel SimdLevel();

// Makes the kernels use Level (for tests and measurements); EArgumentError above the supported level.
void SetSimdLevel(TSimdLevel Level);

} // namespace KvKernels
