#include "common/base64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qm {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every 12-bit value as its two output characters, stored in memory order so one 16-bit store
// writes both.
constexpr std::array<std::uint16_t, 4096> makePairs() {
    std::array<std::uint16_t, 4096> t{};
    for (unsigned v = 0; v < 4096; ++v) {
        auto hi = static_cast<unsigned char>(kAlphabet[v >> 6]);
        auto lo = static_cast<unsigned char>(kAlphabet[v & 63]);
        if constexpr (std::endian::native == std::endian::little)
            t[v] = static_cast<std::uint16_t>(hi | (lo << 8));
        else
            t[v] = static_cast<std::uint16_t>((hi << 8) | lo);
    }
    return t;
}
constexpr auto kPairs = makePairs();

inline void put2(char* o, std::uint32_t v12) {
    std::uint16_t p = kPairs[v12];
    std::memcpy(o, &p, 2);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QM_BASE64_AVX2 1
// 24 input bytes to 32 characters per step (the shuffle-and-multiply method published by Wojciech
// Mula and Daniel Lemire). Reads 28 bytes: the caller guarantees them.
__attribute__((target("avx2"))) std::size_t encodeAvx2(const unsigned char* in, std::size_t n,
                                                       char* o) {
    const __m256i shuf = _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1, 10, 11,
                                         9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    const __m256i shift =
        _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                         'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    std::size_t done = 0;
    for (; done + 28 <= n; done += 24, o += 32) {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 12));
        __m256i v = _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), shuf);
        __m256i t0 = _mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00));
        __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
        __m256i t2 = _mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0));
        __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
        __m256i idx = _mm256_or_si256(t1, t3);
        // 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12: the row of `shift`
        __m256i row = _mm256_subs_epu8(idx, _mm256_set1_epi8(51));
        __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), idx);
        row = _mm256_or_si256(row, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
        __m256i chars = _mm256_add_epi8(_mm256_shuffle_epi8(shift, row), idx);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), chars);
    }
    return done;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

// Encodes `groups` whole 3-byte groups; `readable` (>= groups * 3) is how far the input may be
// read, so the wide steps can look past the groups they encode.
inline void encodeGroups(const unsigned char* in, std::size_t groups, char* o,
                         std::size_t readable) {
    std::size_t g = 0;
#ifdef QM_BASE64_AVX2
    if (kHasAvx2 && groups >= 8) {
        std::size_t usable = std::min(readable, groups * 3 + 4);
        std::size_t done = encodeAvx2(in, usable, o);
        g = done / 3;
        in += done;
        o += g * 4;
    }
#endif
    (void)readable;
    for (; g + 3 <= groups; g += 2) {  // reads 8 bytes, uses 6: needs one group of slack
        std::uint64_t w;
        std::memcpy(&w, in, 8);
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        put2(o, static_cast<std::uint32_t>(w >> 52) & 0xFFF);
        put2(o + 2, static_cast<std::uint32_t>(w >> 40) & 0xFFF);
        put2(o + 4, static_cast<std::uint32_t>(w >> 28) & 0xFFF);
        put2(o + 6, static_cast<std::uint32_t>(w >> 16) & 0xFFF);
        in += 6;
        o += 8;
    }
    for (; g < groups; ++g) {
        std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        put2(o, v >> 12);
        put2(o + 2, v & 0xFFF);
        in += 3;
        o += 4;
    }
}

// The last 1 or 2 bytes, padded.
inline void encodeTail(const unsigned char* in, std::size_t n, char* o) {
    std::uint32_t v = std::uint32_t{in[0]} << 16;
    if (n == 2) v |= std::uint32_t{in[1]} << 8;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = n == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
}

// Encodes `n` bytes into exactly (n + 2) / 3 * 4 characters at `o`.
inline void encodeSpan(const unsigned char* in, std::size_t n, char* o) {
    std::size_t groups = n / 3;
    encodeGroups(in, groups, o, n);
    if (n % 3) encodeTail(in + groups * 3, n % 3, o + groups * 4);
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    encodeSpan(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

std::size_t base64LinesSize(std::size_t n) {
    std::size_t full = n / kBase64LineBytes, rest = n % kBase64LineBytes;
    return full * 78 + (rest ? (rest + 2) / 3 * 4 + 2 : 0);
}

void appendBase64Lines(std::string_view bytes, std::string& out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::size_t start = out.size();
    out.resize(start + base64LinesSize(n));
    char* o = out.data() + start;
    for (; n >= kBase64LineBytes; n -= kBase64LineBytes, in += kBase64LineBytes) {
        encodeGroups(in, kBase64LineBytes / 3, o, n);
        o[76] = '\r';
        o[77] = '\n';
        o += 78;
    }
    if (n) {
        encodeSpan(in, n, o);
        o += (n + 2) / 3 * 4;
        o[0] = '\r';
        o[1] = '\n';
    }
}

void Base64LineEncoder::feed(std::string_view bytes) {
    if (heldCount_) {
        std::size_t take = std::min(kBase64LineBytes - heldCount_, bytes.size());
        if (take) std::memcpy(held_ + heldCount_, bytes.data(), take);
        heldCount_ += take;
        bytes.remove_prefix(take);
        if (heldCount_ < kBase64LineBytes) return;
        appendBase64Lines({reinterpret_cast<const char*>(held_), heldCount_}, out_);
        heldCount_ = 0;
    }
    std::size_t whole = bytes.size() / kBase64LineBytes * kBase64LineBytes;
    appendBase64Lines(bytes.substr(0, whole), out_);
    bytes.remove_prefix(whole);
    if (!bytes.empty()) std::memcpy(held_, bytes.data(), bytes.size());
    heldCount_ = bytes.size();
}

void Base64LineEncoder::finish() {
    appendBase64Lines({reinterpret_cast<const char*>(held_), heldCount_}, out_);
    heldCount_ = 0;
}

}  // namespace qm
