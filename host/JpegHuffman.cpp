#include "JpegHuffman.h"

#include <pictura/SysUtils.h>

#include "LibJpegFailure.h"

#include <algorithm>
#include <cstring>

// libjpeg's own code builder (exported by the library, declared only in its private headers): the code
// lengths it gives are limited to 16 bits and leave the all-ones code unused, as a JPEG requires.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl, long freq[]);

namespace {

// The coefficients in the order a scan codes them.
constexpr int ZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

int BitsOf(int Value) {
    unsigned magnitude = unsigned(Value < 0 ? -Value : Value);
    int bits = 0;
    for (; magnitude; magnitude >>= 1)
        ++bits;
    return bits;
}

// The symbols one block emits, its DC coded against Previous (then set to this block's DC).
void CountBlock(const JCOEF* Block, JCOEF& Previous, long* Dc, long* Ac) {
    ++Dc[std::min(BitsOf(Block[0] - Previous), 15)];
    Previous = Block[0];
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = Block[ZigZag[k]];
        if (value == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16)
            ++Ac[0xF0];
        ++Ac[(run << 4) | std::min(BitsOf(value), 15)];
        run = 0;
    }
    if (run > 0) ++Ac[0x00];
}

} // namespace

void CountJpegSymbols(const std::string& Jpeg, TJpegSymbolCounts& Counts) {
    jpeg_decompress_struct info;
    TLibJpegFailure failure;
    info.err = LibJpegFailureManager(failure);
    jpeg_create_decompress(&info);
    const bool counted = RunLibJpeg(reinterpret_cast<j_common_ptr>(&info), failure, [&] {
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(Jpeg.data()),
                     static_cast<unsigned long>(Jpeg.size()));
        jpeg_read_header(&info, TRUE);
        jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&info);
        const auto common = reinterpret_cast<j_common_ptr>(&info);
        JCOEF previous[MAX_COMPONENTS] = {};
        // One component is coded block by block along its rows; several are interleaved MCU by MCU, each
        // MCU holding h x v blocks of each component.
        const bool interleaved = info.num_components > 1;
        const unsigned mcuRows =
            interleaved ? (info.comp_info[0].height_in_blocks + info.comp_info[0].v_samp_factor - 1) /
                              unsigned(info.comp_info[0].v_samp_factor)
                        : info.comp_info[0].height_in_blocks;
        for (unsigned mcuRow = 0; mcuRow < mcuRows; ++mcuRow)
            for (int c = 0; c < info.num_components; ++c) {
                const jpeg_component_info& component = info.comp_info[c];
                const int table = std::min(component.dc_tbl_no, 1);
                const unsigned h = interleaved ? unsigned(component.h_samp_factor) : 1;
                const unsigned v = interleaved ? unsigned(component.v_samp_factor) : 1;
                const unsigned first = mcuRow * v;
                const unsigned rows =
                    std::min(v, component.height_in_blocks - std::min(first, component.height_in_blocks));
                if (rows == 0) continue;
                JBLOCKARRAY blocks =
                    info.mem->access_virt_barray(common, coefficients[c], first, rows, FALSE);
                for (unsigned x = 0; x < component.width_in_blocks; x += h)
                    for (unsigned dy = 0; dy < rows; ++dy)
                        for (unsigned dx = 0; dx < h && x + dx < component.width_in_blocks; ++dx)
                            CountBlock(blocks[dy][x + dx], previous[c], Counts.Dc[table], Counts.Ac[table]);
            }
        jpeg_finish_decompress(&info);
    });
    if (!counted)
        throw EInvalidGraphic(std::string("the JPEG encoder could not read its sample (") + failure.Reason +
                              ")");
}

TJpegHuffmanTables TablesForCounts(const TJpegSymbolCounts& Counts) {
    TJpegHuffmanTables tables;
    jpeg_compress_struct info;
    TLibJpegFailure failure;
    info.err = LibJpegFailureManager(failure);
    jpeg_create_compress(&info);
    const bool built = RunLibJpeg(reinterpret_cast<j_common_ptr>(&info), failure, [&] {
        JHUFF_TBL* table = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&info));
        for (int t = 0; t < 2; ++t)
            for (const bool dc : {true, false}) {
                // Every symbol an 8-bit baseline scan can hold counts at least once: DC magnitudes of up to
                // 11 bits, AC runs 0..15 with magnitudes of 1..10 bits, the end of block and the run of 16.
                long frequency[257] = {};
                const long* counted = dc ? Counts.Dc[t] : Counts.Ac[t];
                for (int s = 0; s < 256; ++s) {
                    const bool possible =
                        dc ? s <= 11 : s == 0x00 || s == 0xF0 || ((s & 15) >= 1 && (s & 15) <= 10);
                    if (possible) frequency[s] = counted[s] + 1;
                }
                jpeg_gen_optimal_table(&info, table, frequency);
                TJpegHuffmanTable& into = dc ? tables.Dc[t] : tables.Ac[t];
                std::memcpy(into.Bits, table->bits, sizeof into.Bits);
                std::memcpy(into.Values, table->huffval, sizeof into.Values);
            }
    });
    if (!built)
        throw EInvalidGraphic(std::string("the JPEG encoder could not build its tables (") + failure.Reason +
                              ")");
    return tables;
}
