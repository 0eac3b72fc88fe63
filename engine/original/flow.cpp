#include "flow.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "blur.h"
#include "flow_trace.h"
#include "parallel.h"
#include "vector_width.h"

bool GaussianBlurFloat(SBxPicBuf& dst, const SBxPicBuf& src, float sigma, ScratchSpace* scratch) {
    if (!CBxPicBufAPI::IsValid(src) || src.bits != 32) return false;
    if (!CBxPicBufAPI::ReinitHeap(dst, src)) return false;
    const int w = src.width, h = src.height, rowSamples = w * src.components;
    const std::vector<float> k = GaussianKernel(sigma);
    // The components stay interleaved: each sample still sums its own
    // window in the same order.
    ScratchSpace own;
    float* across = (scratch ? *scratch : own).Borrow<float>(size_t(rowSamples) * h);
    BlurRows(reinterpret_cast<const float*>(src.pixels), across, w, h, src.components, k);
    float* out = reinterpret_cast<float*>(dst.pixels);
    const float* rows = across;
    ParallelRows(0, h, [=, &k](int y) { BlurColumnsOfRow(rows, out + size_t(y) * rowSamples, rowSamples, h, y, k); });
    return true;
}

std::vector<float> InterleaveTensorPlanes(const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy) {
    return InterleaveTensor(reinterpret_cast<const float*>(jxx.pixels), reinterpret_cast<const float*>(jxy.pixels),
                            reinterpret_cast<const float*>(jyy.pixels), size_t(jxx.width) * jxx.height);
}

RepaintStatus BuildFlowTable(FlowTable& table, const SBxPicBuf& jxx, const SBxPicBuf& jxy, const SBxPicBuf& jyy,
                    const SBxPicBuf& guide, float sigma, int length, int components, const RepaintProgress* stop,
                    ScratchSpace* scratch) {
    const int W = jxx.width, H = jxx.height;
    if (length < 1 || length > kFlowListMax) return RepaintStatus::BadSettings;
    if (W < 3 || H < 3 || guide.width != W || guide.height != H || guide.bits != 32) return RepaintStatus::BadInput;
    PicBufHolder grey;
    if (!GaussianBlurFloat(grey.buf, guide, sigma, scratch) || !CBxPicBufAPI::ConvertBpcComp(grey.buf, 32, 1))
        return RepaintStatus::OutOfMemory;
    const float* G = reinterpret_cast<const float*>(grey.buf.pixels);
    const std::vector<float> tensor = InterleaveTensorPlanes(jxx, jxy, jyy);
    const TensorField field{tensor.data(), W, H};

    table.width = W;
    table.height = H;
    table.components = components;
    // Every entry that is read is written below: no clearing needed.
    table.start.resize(size_t(W) * H);
    table.total.resize(size_t(W) * H);
    table.rows.resize(size_t(H));
    const FlowTracer tracer(field, G, sigma, length, components);
    const VectorWidth width = CurrentVectorWidth();

    ParallelRows(1, H - 1, [&](int y) {
        if (stop && stop->AbortRequested()) return;
        std::vector<FlowSample>& out = table.rows[size_t(y)];
        out.clear();
        // The most a row can hold; pages that are never written cost nothing.
        out.reserve(size_t(W) * 2 * size_t(length - 1));
        uint32_t* start = table.start.data() + size_t(y) * W;
        int32_t* total = table.total.data() + size_t(y) * W;
        start[0] = 0;
        PixelTrace traces[8];
        auto keep = [&](int x, const PixelTrace& p) {
            start[x] = uint32_t(out.size());
            total[x] = p.total + 128;
            out.insert(out.end(), p.bwd, p.bwd + p.backward);
            out.insert(out.end(), p.fwd, p.fwd + p.forward);
        };
        int x = 1;
        if (width == VectorWidth::Eight) {
            thread_local std::vector<PixelTrace> row;
            row.resize(size_t(W - 2));
            TraceFlowRowEight(tracer, y, 1, W - 2, row.data());
            for (; x <= W - 2; ++x) keep(x, row[size_t(x - 1)]);
        }
        if (width != VectorWidth::One)
            for (; x + 3 <= W - 2; x += 4) {
                TraceFlowFour(tracer, x, y, traces);
                for (int l = 0; l < 4; ++l) keep(x + l, traces[l]);
            }
        for (; x <= W - 2; ++x) {
            TraceFlowPixel(tracer, x, y, traces[0]);
            keep(x, traces[0]);
        }
        start[W - 1] = uint32_t(out.size());
    });
    return RepaintStatus::Done;
}

namespace {

template <int C>
void FlowSmoothRows(IntImage& image, const IntImage& copy, const FlowTable& table) {
    const int W = image.width, H = image.height, rowSamples = W * C;
    ParallelRows(1, H - 1, [&](int y) {
        const int32_t* src = copy.Row(y);
        int32_t* dst = image.Row(y);
        for (int x = 1; x <= W - 2; ++x) {
            const size_t i = size_t(y) * W + x;
            const FlowSample* s = table.Begin(x, y);
            const FlowSample* end = table.End(x, y);
            const int32_t* at = src + x * C;
            int32_t acc[C];
            for (int c = 0; c < C; ++c) acc[c] = 128 * at[c];
            for (; s != end; ++s)
                for (int c = 0; c < C; ++c) acc[c] += s->weight * ReadSample(at, *s, rowSamples, C, c);
            for (int c = 0; c < C; ++c) dst[x * C + c] = acc[c] / table.total[i];
        }
    });
}

#if defined(__SSE2__)
// Colour pictures with SSE2. Working values always lie in 0..65535, so a
// 16-bit copy shifted by -32768 (paired with the next pixel's samples)
// feeds the signed 16 × 16-bit multiply-adds; the shift is added back
// exactly (the four bilinear weights sum to 2^14).
void FlowSmoothColour(IntImage& image, const FlowTable& table, ScratchSpace& scratch) {
    const int W = image.width, H = image.height, rowSamples = W * 3;
    const int32_t* paired = PairedCopy(image, scratch);
    if (CurrentVectorWidth() == VectorWidth::Eight) {
        ParallelRows(1, H - 1, [&](int y) {
            FlowSmoothColourRowAvx2(table, paired + size_t(y) * rowSamples, image.Row(y), y);
        });
        return;
    }
    ParallelRows(1, H - 1, [&](int y) {
        const int32_t* src = paired + size_t(y) * rowSamples;
        int32_t* dst = image.Row(y);
        const __m128i bias = _mm_set1_epi32(1 << 29), half = _mm_set1_epi32(32768);
        for (int x = 1; x <= W - 2; ++x) {
            const size_t i = size_t(y) * W + x;
            const FlowSample* s = table.Begin(x, y);
            const FlowSample* end = table.End(x, y);
            const int32_t* at = src + x * 3;
            __m128i acc = _mm_setzero_si128();
            for (; s != end; ++s) {
                const int32_t wx = s->wx, wy = s->wy;
                const int32_t top = (wy * wx) | ((wy * (128 - wx)) << 16);
                const int32_t bottom = ((128 - wy) * wx) | (((128 - wy) * (128 - wx)) << 16);
                // pairs (left, right) of each component
                const __m128i pp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s->offset));
                const __m128i qq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + s->offset + rowSamples));
                const __m128i sum = _mm_add_epi32(_mm_madd_epi16(pp, _mm_set1_epi32(top)),
                                                  _mm_madd_epi16(qq, _mm_set1_epi32(bottom)));
                const __m128i value = _mm_sub_epi32(_mm_srai_epi32(_mm_add_epi32(sum, bias), 14), half);
                acc = _mm_add_epi32(acc, _mm_madd_epi16(value, _mm_set1_epi32(s->weight)));
            }
            alignas(16) int32_t lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
            const int32_t total = table.total[i], back = 32768 * (total - 128);
            for (int c = 0; c < 3; ++c) dst[x * 3 + c] = (lanes[c] + back + 128 * PairedSample(at[c])) / total;
        }
    });
}
#endif

}  // namespace

const int32_t* PairedCopy(const IntImage& image, ScratchSpace& scratch) {
    const size_t n = image.data.size();
    int32_t* paired = scratch.Borrow<int32_t>(n + 8);
    std::fill(paired + n, paired + n + 8, 0);
    const int32_t* from = image.data.data();
    const int rowSamples = image.width * image.components;
    ParallelRows(0, image.height, [=](int y) {
        const size_t begin = size_t(y) * rowSamples, end = begin + size_t(rowSamples);
        // The last pixel's partners lie past the end: zero.
        const size_t paired3 = std::min(end, n - 3);
        for (size_t i = begin; i < paired3; ++i)
            paired[i] = int32_t(uint32_t(uint16_t(from[i] - 32768)) | uint32_t(uint16_t(from[i + 3] - 32768)) << 16);
        for (size_t i = std::max(begin, paired3); i < end; ++i) paired[i] = int32_t(uint16_t(from[i] - 32768));
    });
    return paired;
}

void FlowSmooth(IntImage& image, const FlowTable& table, ScratchSpace* scratch) {
    if (image.width != table.width || image.height != table.height || image.components != table.components) return;
#if defined(__SSE2__)
    if (image.components == 3 && CurrentVectorWidth() != VectorWidth::One) {
        ScratchSpace own;
        FlowSmoothColour(image, table, scratch ? *scratch : own);
        return;
    }
#endif
    const IntImage copy = image.Clone();
    if (image.components == 1)
        FlowSmoothRows<1>(image, copy, table);
    else
        FlowSmoothRows<3>(image, copy, table);
}

IntImage IntImage::Clone() const {
    IntImage c;
    c.width = width;
    c.height = height;
    c.components = components;
    c.data.resize(data.size());
    ParallelCopy(data.data(), c.data.data(), data.size());
    return c;
}
