#include "patch_filter.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "parallel.h"

namespace {

constexpr int kSlots = 7;
constexpr int kPatchMargin = 3;
constexpr int kDisplacements = 25;
// Output rows per band (even): the sums of a band stay in the cache.
constexpr int kBandRows = 32;

struct TableSlot {
    double gain = 0, c = 0;
    bool filled = false;
    std::vector<int32_t> tables;  // 256 tables of kPatchTableLength entries
};

struct TableCache {
    std::mutex mutex;
    TableSlot slots[kSlots];
    int next = 0;
    int builds = 0;
};

TableCache& Cache() {
    static TableCache cache;
    return cache;
}

void FillTables(TableSlot& slot, double gain, double c) {
    slot.tables.resize(size_t(256) * kPatchTableLength);
    ParallelRows(0, 256, [&](int i) {
        const double e = (1.0 + i * gain / 256.0) * c;
        int32_t* t = slot.tables.data() + size_t(i) * kPatchTableLength;
        for (int k = 0; k < kPatchTableLength; ++k) {
            const double k3 = double(k) * k * k;
            t[k] = int32_t(std::floor(10000.0 * std::exp(-k3 / 300.0 / e) + 0.5));
        }
        t[0] = 10000;
    });
    slot.gain = gain;
    slot.c = c;
    slot.filled = true;
}

// Half-resolution block sums of |g(x) - g(x + δ)| over cells [loX, hiX) ×
// [loY, hiY) of the half grid, 8 cells at a time with SSE2. Cell row Y is
// stored at row Y - base of `b`.
void BlockDifferences(const uint8_t* g, int wp, int dx, int dy, int loX, int hiX, int loY, int hiY, uint16_t* b,
                      int bw, int base) {
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    for (int Y = loY; Y < hiY; ++Y) {
        const uint8_t* r0 = g + size_t(2 * Y) * wp;
        const uint8_t* r1 = r0 + wp;
        const uint8_t* s0 = r0 + ptrdiff_t(dy) * wp + dx;
        const uint8_t* s1 = s0 + wp;
        uint16_t* out = b + size_t(Y - base) * bw;
        int X = loX;
        for (; X + 8 <= hiX; X += 8) {
            const int x = 2 * X;
            const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + x));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + x));
            const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + x));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + x));
            const __m128i d0 = _mm_max_epu8(_mm_subs_epu8(a0, b0), _mm_subs_epu8(b0, a0));
            const __m128i d1 = _mm_max_epu8(_mm_subs_epu8(a1, b1), _mm_subs_epu8(b1, a1));
            const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_and_si128(d0, lowBytes), _mm_srli_epi16(d0, 8)),
                                              _mm_add_epi16(_mm_and_si128(d1, lowBytes), _mm_srli_epi16(d1, 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + X), sum);
        }
        for (; X < hiX; ++X) {
            const int x = 2 * X;
            out[X] = uint16_t(std::abs(r0[x] - s0[x]) + std::abs(r0[x + 1] - s0[x + 1]) + std::abs(r1[x] - s1[x]) +
                              std::abs(r1[x + 1] - s1[x + 1]));
        }
    }
}

// c(X, Y) = sum of b over the 3 × 3 cells around (X, Y), for cells
// [loX, hiX) × [loY, hiY); all three buffers store row Y at Y - base.
void BoxSums(const uint16_t* b, uint16_t* rowSum, uint16_t* c, int bw, int loX, int hiX, int loY, int hiY,
             int base) {
    for (int Y = loY - 1; Y < hiY + 1; ++Y) {
        const uint16_t* r = b + size_t(Y - base) * bw;
        uint16_t* h = rowSum + size_t(Y - base) * bw;
        for (int X = loX; X < hiX; ++X) h[X] = uint16_t(r[X - 1] + r[X] + r[X + 1]);
    }
    for (int Y = loY; Y < hiY; ++Y) {
        const uint16_t *up = rowSum + size_t(Y - 1 - base) * bw, *mid = up + bw, *down = mid + bw;
        uint16_t* out = c + size_t(Y - base) * bw;
        for (int X = loX; X < hiX; ++X) out[X] = uint16_t(up[X] + mid[X] + down[X]);
    }
}

struct FilterJob {
    const uint8_t* guide;  // padded, wp × hp
    int wp, hp, width, height, margin;
    const std::vector<int32_t>* tables;
};

// Sums of one band of output rows [y0, y1), row y at y - y0.
struct Accumulators {
    std::vector<uint32_t> weight, value;
};

// Adds one displacement's contributions to the band; `c` holds the
// distance cells of the band, cell row Y at Y - base.
void AccumulateDisplacement(const FilterJob& job, const uint16_t* c, int bw, int base, int dx, int dy, int y0,
                            int y1, Accumulators& acc) {
    const int F = job.margin, wp = job.wp;
    const int32_t* tables = job.tables->data();
    for (int by = y0; by < y1; by += 2) {
        for (int bx = 0; bx < job.width; bx += 2) {
            const int px = bx + F, py = by + F;
            const uint8_t* g = job.guide + size_t(py) * wp + px;
            const int32_t* t = tables + size_t(*g) * kPatchTableLength;
            uint32_t wPlus, wMinus;
            if (dx == 0 && dy == 0) {
                wPlus = uint32_t(t[0]);
                wMinus = 0;
            } else {
                wPlus = uint32_t(t[c[size_t((py >> 1) - base) * bw + (px >> 1)]]);
                wMinus = uint32_t(t[c[size_t(((py - dy) >> 1) - base) * bw + ((px - dx) >> 1)]]);
            }
            const ptrdiff_t ahead = ptrdiff_t(dy) * wp + dx;
            for (int j = 0; j < 2; ++j) {
                const uint8_t* gr = g + ptrdiff_t(j) * wp;
                const size_t o = size_t(by - y0 + j) * job.width + bx;
                for (int i = 0; i < 2; ++i) {
                    acc.weight[o + i] += wPlus + wMinus;
                    acc.value[o + i] += wPlus * gr[i + ahead] + wMinus * gr[i - ahead];
                }
            }
        }
    }
}

// Work buffers of one thread, kept from band to band.
struct BandWork {
    Accumulators acc;
    std::vector<uint16_t> b, rowSum, c;
};

// Every displacement over output rows [y0, y1) (even bounds), then the
// weighted means of those rows into `out`. The sums are exact integers, so
// the order in which bands and displacements are added changes nothing.
void FilterBand(const FilterJob& job, int y0, int y1, BandWork& w, uint8_t* out) {
    const int F = job.margin, bw = job.wp / 2, bh = job.hp / 2;
    const size_t n = size_t(y1 - y0) * job.width;
    w.acc.weight.assign(n, 0);
    w.acc.value.assign(n, 0);
    // Distance cells this band reads: those of its blocks and of its blocks
    // moved by -δ (δy is 0 .. -3), and the difference cells around them.
    const int cLo = std::max((y0 + F) >> 1, 3), cHi = std::min(((y1 - 2 + F + 3) >> 1) + 1, bh - 3);
    const int base = cLo - 1, rows = cHi - cLo + 2;
    w.b.resize(size_t(rows) * bw);
    w.rowSum.resize(w.b.size());
    w.c.resize(w.b.size());
    for (int i = 0; i < kDisplacements; ++i) {
        const int dx = i % 7 - 3, dy = i / 7 - 3;
        if (dx != 0 || dy != 0) {
            // Cells 2 .. n/2 - 3 keep every read of g(x + δ) inside the padded
            // guide; the blocks read only cells 3 .. n/2 - 4 of c.
            BlockDifferences(job.guide, job.wp, dx, dy, 2, bw - 2, cLo - 1, cHi + 1, w.b.data(), bw, base);
            BoxSums(w.b.data(), w.rowSum.data(), w.c.data(), bw, 3, bw - 3, cLo, cHi, base);
        }
        AccumulateDisplacement(job, w.c.data(), bw, base, dx, dy, y0, y1, w.acc);
    }
    for (size_t i = 0; i < n; ++i) {
        const double v = std::floor(double(w.acc.value[i]) / double(w.acc.weight[i]) + 0.5);
        out[i] = uint8_t(std::min(v, 255.0));
    }
}

}  // namespace

const std::vector<int32_t>* WeightTables(double gain, double c) {
    TableCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    for (TableSlot& s : cache.slots)
        if (s.filled && std::fabs(s.gain - gain) < 0.001 && std::fabs(s.c - c) < 0.001) return &s.tables;
    TableSlot& slot = cache.slots[cache.next];
    slot.filled = false;
    try {
        FillTables(slot, gain, c);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    cache.next = (cache.next + 1) % kSlots;
    ++cache.builds;
    return &slot.tables;
}

int WeightTableBuilds() {
    TableCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return cache.builds;
}

void MirrorPad(SBxPicBuf& buffer, int F) {
    const int wp = buffer.width, hp = buffer.height, bytes = buffer.BytesPerSample();
    if (buffer.components != 1 || wp <= 2 * F || hp <= 2 * F) return;
    auto mirror = [](int t, int n, int F) { return t < F ? 2 * F - t : t > n - F - 1 ? 2 * (n - F - 1) - t : t; };
    // Every margin sample is read from the picture area, so rows are
    // independent.
    ParallelRows(0, hp, [&](int y) {
        const int sy = mirror(y, hp, F);
        for (int x = 0; x < wp; ++x) {
            if (y >= F && y < hp - F && x >= F && x < wp - F) {
                x = wp - F - 1;  // skip the picture area
                continue;
            }
            std::memcpy(buffer.pixels + (size_t(y) * wp + x) * bytes,
                        buffer.pixels + (size_t(sy) * wp + mirror(x, wp, F)) * bytes, size_t(bytes));
        }
    });
}

bool PatchWeightedFilter(SBxPicBuf& dst, const SBxPicBuf& src, const SBxPicBuf& guide, double strength, double gain,
                         int threads, const RepaintProgress* stop) {
    const int W = src.width, H = src.height;
    if (!CBxPicBufAPI::ReinitHeap(dst, src)) return false;
    if (W <= 16 || H <= 16 || (W % 2) || (H % 2) || guide.width != W || guide.height != H || guide.bits != 8 ||
        guide.components != 1)
        return CBxPicBufAPI::Copy(dst, src);
    const CpuSpread spread(static_cast<long long>(W) * H);
    const int window = std::min(2 * (std::min(W, H) / 2) - 1, 71);
    const int F = window / 2 + kPatchMargin;
    const std::vector<int32_t>* tables = WeightTables(gain, std::pow(strength, 3.5));
    if (!tables) {
        CBxPicBufAPI::Copy(dst, src);
        return false;
    }

    PicBufHolder padded;
    if (!CBxPicBufAPI::ReinitHeap(padded.buf, W + 2 * F, H + 2 * F, 1, 8)) {
        CBxPicBufAPI::Copy(dst, src);
        return false;
    }
    ParallelRows(0, H, [&](int y) {
        std::memcpy(padded.buf.Row<uint8_t>(y + F) + F, guide.Row<uint8_t>(y), size_t(W));
    });
    MirrorPad(padded.buf, F);

    const FilterJob job{padded.buf.pixels, W + 2 * F, H + 2 * F, W, H, F, tables};
    // Bands of rows, each filtered whole by one thread with small sums.
    const int bands = (H + kBandRows - 1) / kBandRows;
    auto band = [&](int k) {
        if (stop && stop->AbortRequested()) return;
        thread_local BandWork work;
        const int y0 = k * kBandRows, y1 = std::min(H, y0 + kBandRows);
        FilterBand(job, y0, y1, work, dst.pixels + size_t(y0) * W);
    };
    try {
        if (threads > 1) {
            ParallelRows(0, bands, band);
        } else {
            for (int k = 0; k < bands; ++k) band(k);
        }
    } catch (const std::bad_alloc&) {
        CBxPicBufAPI::Copy(dst, src);
        return false;
    }
    return true;
}

bool SmoothPatchWeighted(SBxPicBuf& dst, const SBxPicBuf& src, double strength, double gain,
                         const RepaintProgress* stop) {
    if (!CBxPicBufAPI::IsValid(src) || src.components != 1 || src.bits != 8) return false;
    if (src.width % 2 == 0 && src.height % 2 == 0 && &dst != &src)
        return PatchWeightedFilter(dst, src, src, strength, gain, EngineThreads(), stop);
    // Odd sizes are filtered with a black row or column added.
    const int W = src.width + (src.width % 2), H = src.height + (src.height % 2);
    PicBufHolder a, b;
    if (!CBxPicBufAPI::ReinitHeap(a.buf, W, H, 1, 8)) return false;
    CBxPicBufAPI::SetConst(a.buf, 0);
    CBxPicBufAPI::CopyRect(a.buf, src, {0, 0}, {0, 0}, {src.width, src.height});
    const bool filtered = PatchWeightedFilter(b.buf, a.buf, a.buf, strength, gain, EngineThreads(), stop);
    if (!CBxPicBufAPI::ReinitHeap(dst, src)) return false;
    return CBxPicBufAPI::CopyRect(dst, filtered ? b.buf : a.buf, {0, 0}, {0, 0}, {src.width, src.height}) &&
           filtered;
}
