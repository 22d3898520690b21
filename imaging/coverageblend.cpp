#include "imaging/coverageblend.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

void CoverageBlend::row(const QRgb *from, const QRgb *to, const unsigned char *c, int count, QRgb *out)
{
    int i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    const __m128 full = _mm_set1_ps(255.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 none = _mm_setzero_ps();
    const auto pick = [](__m128 where, __m128i then, __m128i otherwise) {
        const __m128i mask = _mm_castps_si128(where);
        return _mm_or_si128(_mm_and_si128(mask, then), _mm_andnot_si128(mask, otherwise));
    };
    for (; i + 4 <= count; i += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(to + i));
        int four; // the four coverages, the first in the lowest byte
        std::memcpy(&four, c + i, sizeof four);
        const __m128 cover =
            _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero));
        const __m128 wf = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(f, 24)), _mm_sub_ps(full, cover));
        const __m128 wt = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(t, 24)), cover);
        const __m128 a = _mm_add_ps(wf, wt);
        // (a + 127) / 255 rounded down, as (x + 1 + x / 256) / 256 for
        // x = a + 127, which holds for every x below 65535.
        const __m128i x = _mm_add_epi32(_mm_cvttps_epi32(a), _mm_set1_epi32(127));
        const __m128i alpha =
            _mm_slli_epi32(_mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(x, _mm_set1_epi32(1)), _mm_srli_epi32(x, 8)), 8),
                           24);
        // Where one side weighs nothing the other's colour stands as it is;
        // where neither weighs anything (the stroke's alpha is 0 then) that
        // is the stroke's pixel. Over uncoloured layer, or under a stroke's
        // full cover, that is every pixel, and nothing needs mixing.
        const __m128 fromOnly = _mm_cmpeq_ps(wt, none);
        const __m128 toOnly = _mm_cmpeq_ps(wf, none);
        const __m128 neither = _mm_cmpeq_ps(a, none);
        __m128i mixed = alpha;
        if (_mm_movemask_ps(_mm_or_ps(fromOnly, toOnly)) != 0xF) {
            const __m128 inverse = _mm_div_ps(_mm_set1_ps(1.0f), a);
            // One channel, moved down to the lowest byte of each lane.
            const auto channel = [&](__m128i fromBits, __m128i toBits) {
                const __m128 fc = _mm_cvtepi32_ps(_mm_and_si128(fromBits, byte));
                const __m128 tc = _mm_cvtepi32_ps(_mm_and_si128(toBits, byte));
                const __m128 sum = _mm_add_ps(_mm_mul_ps(fc, wf), _mm_mul_ps(tc, wt));
                return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(sum, inverse), half));
            };
            mixed = _mm_or_si128(mixed, _mm_slli_epi32(channel(_mm_srli_epi32(f, 16), _mm_srli_epi32(t, 16)), 16));
            mixed = _mm_or_si128(mixed, _mm_slli_epi32(channel(_mm_srli_epi32(f, 8), _mm_srli_epi32(t, 8)), 8));
            mixed = _mm_or_si128(mixed, channel(f, t));
        }
        mixed = pick(fromOnly, _mm_or_si128(alpha, _mm_and_si128(f, rgb)), mixed);
        mixed = pick(toOnly, _mm_or_si128(alpha, _mm_and_si128(t, rgb)), mixed);
        mixed = pick(neither, t, mixed);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), mixed);
    }
#endif
    for (; i < count; ++i)
        out[i] = one(from[i], to[i], c[i]);
}
