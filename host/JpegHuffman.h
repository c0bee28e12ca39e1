// Huffman tables made for one picture: counted from sample JPEGs of some of its rows, so that every
// strip of a picture encoded on several threads shares one set of tables, smaller than the standard ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A table as a JPEG states it: how many codes have each length 1..16 (Bits[0] unused), then the symbols
// in order of their codes.
struct TJpegHuffmanTable {
    uint8_t Bits[17] = {};
    uint8_t Values[256] = {};
};

// Index 0 serves the luminance (or grey) component, 1 the two chrominance components.
struct TJpegHuffmanTables {
    TJpegHuffmanTable Dc[2];
    TJpegHuffmanTable Ac[2];
};

// How often each symbol occurs in a baseline scan's luminance and chrominance (indexed as the tables).
struct TJpegSymbolCounts {
    long Dc[2][256] = {};
    long Ac[2][256] = {};
};

// Adds to Counts the symbols of the baseline JPEG Jpeg's scan, as an encoder using Huffman tables would
// emit them for its quantised coefficients. Throws EInvalidGraphic if the data cannot be read.
void CountJpegSymbols(const std::string& Jpeg, TJpegSymbolCounts& Counts);

// Tables of the shortest codes for Counts that still give every symbol an 8-bit baseline scan can hold a
// code, so that rows the counts never saw are encoded too.
TJpegHuffmanTables TablesForCounts(const TJpegSymbolCounts& Counts);
