// Row kernels on 16-byte registers (SSSE3 shuffles, SSE4.1 inserts), chosen at run time.
//
// Exactness: the grey kernel computes the exact integer form of the rule and hands the tie sums to the
// extended-precision rule, as the scalar kernel does.
// Every function here carries its own target attribute, so nothing compiled for these instructions
// can be reached on a processor without them.
#include "KvPointOpsKernels.h"

#include <immintrin.h>

#include <cstring>

#define KV_SSE41 __attribute__((target("sse4.1,ssse3")))

namespace KvKernels::Detail {
namespace {

KV_SSE41 void Sse41Invert(uint8_t* Bytes, size_t ByteCount) {
    const __m128i ones = _mm_set1_epi8(char(0xFF));
    size_t i = 0;
    for (; i + 16 <= ByteCount; i += 16) {
        __m128i* at = reinterpret_cast<__m128i*>(Bytes + i);
        _mm_storeu_si128(at, _mm_xor_si128(_mm_loadu_si128(at), ones));
    }
    ScalarInvert(Bytes + i, ByteCount - i);
}

// Four pixels per step: the sums 2125 red + 7154 green + 721 blue by word multiply-adds, the rounded
// quotient by single precision ((Sum + 5000.5) / 10000 is at least 5e-5 from an integer and single
// precision errs by less than 3.1e-5 here), the tie sums found exactly as multiples of 10000.
KV_SSE41 void Sse41GreyScale(uint8_t* Pixels, size_t Count) {
    const __m128i redGreen = _mm_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1);
    const __m128i blue = _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
    const __m128i spread = _mm_setr_epi8(0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1);
    const __m128i redGreenWeights = _mm_setr_epi16(2125, 7154, 2125, 7154, 2125, 7154, 2125, 7154);
    const __m128i blueWeight = _mm_setr_epi16(721, 0, 721, 0, 721, 0, 721, 0);
    const __m128i tenThousand = _mm_setr_epi16(10000, 0, 10000, 0, 10000, 0, 10000, 0);
    const __m128i half = _mm_set1_epi32(5000);
    const __m128 halfPlus = _mm_set1_ps(5000.5f);
    const __m128 scale = _mm_set1_ps(1e-4f);
    size_t i = 0;
    // A step loads 16 bytes (its 4 pixels and 4 bytes of the next) but stores only its own 12 bytes: a
    // wider store would overlap the next step's load and stall its forwarding.
    for (; i + 6 <= Count; i += 4) {
        uint8_t* at = Pixels + 3 * i;
        PrefetchAhead(at);
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(source, redGreen), redGreenWeights),
                                          _mm_madd_epi16(_mm_shuffle_epi8(source, blue), blueWeight));
        const __m128i grey = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(sum), halfPlus), scale));
        const __m128i tie = _mm_cmpeq_epi32(_mm_add_epi32(sum, half), _mm_madd_epi16(grey, tenThousand));
        const __m128i result = _mm_shuffle_epi8(grey, spread);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), result);
        const int last = _mm_extract_epi32(result, 2);
        std::memcpy(at + 8, &last, 4);
        if (int ties = _mm_movemask_ps(_mm_castsi128_ps(tie))) {
            alignas(16) uint8_t original[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(original), source);
            for (int p = 0; p < 4; ++p)
                if (ties & (1 << p))
                    at[3 * p] = at[3 * p + 1] = at[3 * p + 2] =
                        GreyOfPixel(original[3 * p], original[3 * p + 1], original[3 * p + 2]);
        }
    }
    ScalarGreyScale(Pixels + 3 * i, Count - i);
}

} // namespace

// A 256-entry lookup costs 46 operations per 16-byte register here, no faster than the scalar table
// walk, which runs on the load and store units instead: the table kernels stay scalar at this level.
const TKernelSet Sse41Kernels = {Sse41Invert, Sse41GreyScale, ScalarMapBytes, ScalarMap, ScalarMapChannel};

} // namespace KvKernels::Detail
