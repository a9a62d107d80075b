#pragma once

// Register types for the vector loops of the blur and the edge analysis, each a struct V
// of thin wrappers so that one loop text serves both widths: sse2::V (16 bytes) wherever
// the compiler targets SSE2, avx2::V (32 bytes) with GCC on x86-64, where the loops are
// compiled a second time for AVX2 and chosen at run time by processorHasAvx2(). The build
// itself never requires more than SSE2.

#include <QtGlobal>

#ifdef __SSE2__
#include <immintrin.h>

namespace sse2 {
struct V {
    using R = __m128i;
    static constexpr int kBytes = 16;
    static R load(const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const R *>(p)); }
    static void store(uchar *p, R v) { _mm_storeu_si128(reinterpret_cast<R *>(p), v); }
    static R zero() { return _mm_setzero_si128(); }
    static R set8(char v) { return _mm_set1_epi8(v); }
    static R set16(short v) { return _mm_set1_epi16(v); }
    static R set32(int v) { return _mm_set1_epi32(v); }
    static R pair(qint16 a, qint16 b) { return set32(int(quint32(quint16(a)) | quint32(quint16(b)) << 16)); }
    static R unpackLo8(R a, R b) { return _mm_unpacklo_epi8(a, b); }
    static R unpackHi8(R a, R b) { return _mm_unpackhi_epi8(a, b); }
    static R unpackLo16(R a, R b) { return _mm_unpacklo_epi16(a, b); }
    static R unpackHi16(R a, R b) { return _mm_unpackhi_epi16(a, b); }
    static R add16(R a, R b) { return _mm_add_epi16(a, b); }
    static R add32(R a, R b) { return _mm_add_epi32(a, b); }
    static R madd(R a, R b) { return _mm_madd_epi16(a, b); }
    static R mulHigh16(R a, R b) { return _mm_mulhi_epu16(a, b); }
    template<int N> static R shiftLeft32(R a) { return _mm_slli_epi32(a, N); }
    template<int N> static R shiftRight32(R a) { return _mm_srli_epi32(a, N); }
    static R shiftRight16(R a, __m128i count) { return _mm_srl_epi16(a, count); }
    static R less32(R a, R b) { return _mm_cmplt_epi32(a, b); }
    static R equal32(R a, R b) { return _mm_cmpeq_epi32(a, b); }
    static R bitAnd(R a, R b) { return _mm_and_si128(a, b); }
    static R bitAndNot(R a, R b) { return _mm_andnot_si128(a, b); }
    static R bitOr(R a, R b) { return _mm_or_si128(a, b); }
    static R pack32(R a, R b) { return _mm_packs_epi32(a, b); }
    static R pack16(R a, R b) { return _mm_packs_epi16(a, b); }
    static R packUnsigned16(R a, R b) { return _mm_packus_epi16(a, b); }
    static quint32 mask(R a) { return quint32(_mm_movemask_epi8(a)); }
    using F = __m128;
    static F setFloat(float v) { return _mm_set1_ps(v); }
    static F toFloat(R a) { return _mm_cvtepi32_ps(a); }
    static F minFloat(F a, F b) { return _mm_min_ps(a, b); }
    static F sqrtFloat(F a) { return _mm_sqrt_ps(a); }
    static R truncate(F a) { return _mm_cvttps_epi32(a); }
    static R sub16(R a, R b) { return _mm_sub_epi16(a, b); }
    static R twice16(R a) { return _mm_slli_epi16(a, 1); }
};
} // namespace sse2
#endif

#if defined(__SSE2__) && defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VELMORA_WIDE_VECTORS 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
struct V {
    using R = __m256i;
    static constexpr int kBytes = 32;
    static R load(const uchar *p) { return _mm256_loadu_si256(reinterpret_cast<const R *>(p)); }
    static void store(uchar *p, R v) { _mm256_storeu_si256(reinterpret_cast<R *>(p), v); }
    static R zero() { return _mm256_setzero_si256(); }
    static R set8(char v) { return _mm256_set1_epi8(v); }
    static R set16(short v) { return _mm256_set1_epi16(v); }
    static R set32(int v) { return _mm256_set1_epi32(v); }
    static R pair(qint16 a, qint16 b) { return set32(int(quint32(quint16(a)) | quint32(quint16(b)) << 16)); }
    static R unpackLo8(R a, R b) { return _mm256_unpacklo_epi8(a, b); }
    static R unpackHi8(R a, R b) { return _mm256_unpackhi_epi8(a, b); }
    static R unpackLo16(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
    static R unpackHi16(R a, R b) { return _mm256_unpackhi_epi16(a, b); }
    static R add16(R a, R b) { return _mm256_add_epi16(a, b); }
    static R add32(R a, R b) { return _mm256_add_epi32(a, b); }
    static R madd(R a, R b) { return _mm256_madd_epi16(a, b); }
    static R mulHigh16(R a, R b) { return _mm256_mulhi_epu16(a, b); }
    template<int N> static R shiftLeft32(R a) { return _mm256_slli_epi32(a, N); }
    template<int N> static R shiftRight32(R a) { return _mm256_srli_epi32(a, N); }
    static R shiftRight16(R a, __m128i count) { return _mm256_srl_epi16(a, count); }
    static R less32(R a, R b) { return _mm256_cmpgt_epi32(b, a); }
    static R equal32(R a, R b) { return _mm256_cmpeq_epi32(a, b); }
    static R bitAnd(R a, R b) { return _mm256_and_si256(a, b); }
    static R bitAndNot(R a, R b) { return _mm256_andnot_si256(a, b); }
    static R bitOr(R a, R b) { return _mm256_or_si256(a, b); }
    static R pack32(R a, R b) { return _mm256_packs_epi32(a, b); }
    static R pack16(R a, R b) { return _mm256_packs_epi16(a, b); }
    static R packUnsigned16(R a, R b) { return _mm256_packus_epi16(a, b); }
    static quint32 mask(R a) { return quint32(_mm256_movemask_epi8(a)); }
    using F = __m256;
    static F setFloat(float v) { return _mm256_set1_ps(v); }
    static F toFloat(R a) { return _mm256_cvtepi32_ps(a); }
    static F minFloat(F a, F b) { return _mm256_min_ps(a, b); }
    static F sqrtFloat(F a) { return _mm256_sqrt_ps(a); }
    static R truncate(F a) { return _mm256_cvttps_epi32(a); }
    static R sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
    static R twice16(R a) { return _mm256_slli_epi16(a, 1); }
};
} // namespace avx2
#pragma GCC pop_options

inline bool processorHasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif
