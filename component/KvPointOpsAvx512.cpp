// Row kernels on 64-byte registers (AVX-512 with byte permutes), chosen at run time.
//
// Exactness: table kernels look up the very tables the scalar kernels use, the grey kernel is the AVX2
// one. Every function here carries its own target attribute, so nothing compiled for these
// instructions can be reached on a processor without them.
#if defined(__x86_64__) // these kernels exist on x86-64 only
#include <immintrin.h>

#define KV_KERNEL_TARGET __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))
#include "KvPointOpsSimd.h"

namespace KvKernels::Detail {
namespace {

// A 256-entry table in four registers; two two-register permutes cover entries 0..127 and 128..255.
struct TLookup512 {
    __m512i T[4];
};

// Byte positions q (0..63) of a register with q % 3 == K.
constexpr __mmask64 PositionMaskOf(int K) {
    __mmask64 mask = 0;
    for (int q = 0; q < 64; ++q)
        if (q % 3 == K) mask |= __mmask64(1) << q;
    return mask;
}
constexpr __mmask64 PositionMasks[3] = {PositionMaskOf(0), PositionMaskOf(1), PositionMaskOf(2)};

// The first ByteCount bytes of a register (all of them from 64 on).
constexpr __mmask64 LeadingBytes(size_t ByteCount) {
    return ByteCount >= 64 ? ~__mmask64(0) : (__mmask64(1) << ByteCount) - 1;
}

// Byte masks and masked loads and stores: blends are mask moves and a row ends without scalar code.
struct TVec512 {
    using T = __m512i;
    using TLookup = TLookup512;
    using TMask = __mmask64;
    static constexpr size_t Size = 64;
    static constexpr size_t InvertRegisters = 1;
    static constexpr bool MaskedTail = true;

    KV_KERNEL_TARGET static T Load(const uint8_t* At) { return _mm512_loadu_si512(At); }
    KV_KERNEL_TARGET static void Store(uint8_t* At, T Value) { _mm512_storeu_si512(At, Value); }
    KV_KERNEL_TARGET static T LoadFirst(const uint8_t* At, size_t ByteCount) {
        return _mm512_maskz_loadu_epi8(LeadingBytes(ByteCount), At);
    }
    KV_KERNEL_TARGET static void StoreFirst(uint8_t* At, size_t ByteCount, T Value) {
        _mm512_mask_storeu_epi8(At, LeadingBytes(ByteCount), Value);
    }
    KV_KERNEL_TARGET static T Set1(uint8_t Byte) { return _mm512_set1_epi8(char(Byte)); }
    KV_KERNEL_TARGET static T Xor(T A, T B) { return _mm512_xor_si512(A, B); }

    KV_KERNEL_TARGET static void BuildLookup(const TChannelTable& Table, TLookup512& Lookup) {
        for (int k = 0; k < 4; ++k)
            Lookup.T[k] = _mm512_loadu_si512(Table.data() + 64 * k);
    }
    // Table[x] by byte permutes: the permutes use the low 7 bits of x, bit 7 picks the half.
    KV_KERNEL_TARGET static T Lookup(const TLookup512& L, T X) {
        const __m512i low = _mm512_permutex2var_epi8(L.T[0], X, L.T[1]);
        const __m512i high = _mm512_permutex2var_epi8(L.T[2], X, L.T[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(X), low, high);
    }
    KV_KERNEL_TARGET static TMask PositionMask(int K) { return PositionMasks[K]; }
    // B where Mask is set, A elsewhere.
    KV_KERNEL_TARGET static T Blend(T A, T B, TMask Mask) { return _mm512_mask_mov_epi8(A, Mask, B); }
    // Value where Mask is set; the other bytes are left as they are in memory.
    KV_KERNEL_TARGET static void StoreWhere(uint8_t* At, T, T Value, TMask Mask) {
        _mm512_mask_storeu_epi8(At, Mask, Value);
    }
};

// Grey is the AVX2 kernel; every processor at this level has AVX2.
void Avx512GreyScale(uint8_t* Pixels, size_t Count) {
    Avx2Kernels.GreyScale(Pixels, Count);
}

} // namespace

const TKernelSet Avx512VbmiKernels = {
    VectorInvert<TVec512>,     Avx512GreyScale, VectorMapBytes<TVec512>, VectorMap<TVec512>,
    VectorMapChannel<TVec512>, nullptr}; // the byte permutes look up as fast as the arithmetic

} // namespace KvKernels::Detail

#endif // defined(__x86_64__)
