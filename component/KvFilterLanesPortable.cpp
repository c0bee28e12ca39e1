// The lane kernel in plain C++ for any processor: eight lanes as arrays, each operation a loop the compiler
// may vectorise with whatever the baseline offers. Integer arithmetic wraps (through unsigned), as the
// vector instructions do, so lanes that hold no pixel can never overflow.
#include "KvFilterLaneSweep.h"

#include <cmath>
#include <cstring>

namespace KvKernels::Detail {
namespace {

struct TPortableLanes {
    struct TI {
        int32_t V[KVectorLanes];
    };
    struct TF {
        float V[KVectorLanes];
    };

    template <class TOp> static TI Map(TOp Op) {
        TI r;
        for (int k = 0; k < KVectorLanes; ++k)
            r.V[k] = Op(k);
        return r;
    }
    static int32_t Wrap(uint32_t X) { return int32_t(X); }
    static int32_t Mask(bool X) { return X ? -1 : 0; }
    // The nearest integer, ties to even (the default mode). Lanes that hold no pixel may hold any sums, so
    // the value is brought within 0..256 first, where the conversion is defined; the caller masks them.
    static int32_t NearestWithin256(double X) {
        return int32_t(std::nearbyint(X < 0.0 ? 0.0 : X > 256.0 ? 256.0 : X));
    }

    static TI Set(int32_t X) {
        return Map([&](int) { return X; });
    }
    static TI Load(const int32_t* P) {
        TI r;
        std::memcpy(r.V, P, sizeof r.V);
        return r;
    }
    static void Store(int32_t* P, const TI& A) { std::memcpy(P, A.V, sizeof A.V); }
    static TI Load(const uint32_t* P) {
        return Map([&](int k) { return int32_t(P[k]); });
    }
    static void Store(uint32_t* P, const TI& A) {
        for (int k = 0; k < KVectorLanes; ++k)
            P[k] = uint32_t(A.V[k]);
    }
    static void LoadInputs(const uint64_t* P, TI& Pixels, TI& Edges) {
        for (int k = 0; k < KVectorLanes; ++k) {
            Pixels.V[k] = int32_t(uint32_t(P[k]));
            Edges.V[k] = int32_t(uint32_t(P[k] >> 32));
        }
    }
    static void ClearInputs(uint64_t* P) {
        for (int k = 0; k < KVectorLanes; ++k)
            P[k] = KNeutralInput;
    }
    static TI Add(const TI& A, const TI& B) {
        return Map([&](int k) { return Wrap(uint32_t(A.V[k]) + uint32_t(B.V[k])); });
    }
    static TI Sub(const TI& A, const TI& B) {
        return Map([&](int k) { return Wrap(uint32_t(A.V[k]) - uint32_t(B.V[k])); });
    }
    static TI MulLo(const TI& A, const TI& B) {
        return Map([&](int k) { return Wrap(uint32_t(A.V[k]) * uint32_t(B.V[k])); });
    }
    static TI And(const TI& A, const TI& B) {
        return Map([&](int k) { return A.V[k] & B.V[k]; });
    }
    static TI AndNot(const TI& A, const TI& B) {
        return Map([&](int k) { return ~A.V[k] & B.V[k]; });
    }
    static TI Or(const TI& A, const TI& B) {
        return Map([&](int k) { return A.V[k] | B.V[k]; });
    }
    static TI Greater(const TI& A, const TI& B) {
        return Map([&](int k) { return Mask(A.V[k] > B.V[k]); });
    }
    static TI Equal(const TI& A, const TI& B) {
        return Map([&](int k) { return Mask(A.V[k] == B.V[k]); });
    }
    static TI Min(const TI& A, const TI& B) {
        return Map([&](int k) { return A.V[k] < B.V[k] ? A.V[k] : B.V[k]; });
    }
    static TI Max(const TI& A, const TI& B) {
        return Map([&](int k) { return A.V[k] > B.V[k] ? A.V[k] : B.V[k]; });
    }
    static TI ShiftLeft(const TI& A, int Bits) {
        return Map([&](int k) { return Wrap(uint32_t(A.V[k]) << Bits); });
    }
    static TI ShiftRight(const TI& A, int Bits) {
        return Map([&](int k) { return Wrap(uint32_t(A.V[k]) >> Bits); });
    }
    // Lanes one up, lane 0 taking the last lane of Below.
    static TI ShiftIn(const TI& A, const TI& Below) {
        return Map([&](int k) { return k == 0 ? Below.V[KVectorLanes - 1] : A.V[k - 1]; });
    }
    static TI Lookup(const uint8_t* Table, const TI& Index) {
        return Map([&](int k) { return int32_t(Table[uint32_t(Index.V[k]) & 0xFFFF]); });
    }
    static TF ToFloat(const TI& A) {
        TF r;
        for (int k = 0; k < KVectorLanes; ++k)
            r.V[k] = float(A.V[k]);
        return r;
    }
    static TF DivF(const TF& A, const TF& B) {
        TF r;
        for (int k = 0; k < KVectorLanes; ++k)
            r.V[k] = A.V[k] / B.V[k];
        return r;
    }
    // Sum / Count in double precision, converted to the nearest integer (ties to even, the default mode).
    static TI NearestQuotient(const TI& Sum, const TI& Count) {
        return Map([&](int k) { return NearestWithin256(double(Sum.V[k]) / double(Count.V[k])); });
    }
    static TI RoundToInt(const TF& A) {
        return Map([&](int k) { return NearestWithin256(A.V[k]); });
    }
};

} // namespace

void PortableLaneSweep(TLaneStrip& Strip, int64_t First, int64_t End) {
    SweepLanes<TPortableLanes>(Strip, First, End);
}

} // namespace KvKernels::Detail
