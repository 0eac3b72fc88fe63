// Rows and areas of a picture buffer as buffers of their own, so that the
// picture-buffer operations can run row by row on the engine's threads and
// on parts of a picture.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "parallel.h"
#include "picbuf.h"

// Rows [y0, y1) of a packed buffer, sharing its pixels.
inline SBxPicBuf RowsOf(const SBxPicBuf& buffer, int y0, int y1) {
    SBxPicBuf rows = buffer;
    rows.pixels = buffer.pixels + size_t(y0) * buffer.pitch;
    rows.height = y1 - y0;
    rows.size = uint32_t(size_t(rows.height) * buffer.pitch);
    return rows;
}

// The area [x0, x1) × [y0, y1) of a buffer: a view into it (rows keep the
// buffer's pitch), sharing its pixels.
inline SBxPicBuf AreaOf(const SBxPicBuf& buffer, int x0, int x1, int y0, int y1) {
    SBxPicBuf area = buffer;
    area.pixels = buffer.pixels + size_t(y0) * buffer.pitch + size_t(x0) * buffer.BytesPerPixel();
    area.width = x1 - x0;
    area.height = y1 - y0;
    area.size = uint32_t(size_t(area.height - 1) * buffer.pitch + size_t(area.width) * buffer.BytesPerPixel());
    return area;
}

// op(dstRow, srcRow) for every row of two buffers of the same height.
template <typename Op>
void EachRowOf(SBxPicBuf& dst, const SBxPicBuf& src, Op&& op) {
    ParallelRows(0, dst.height, [&](int y) {
        SBxPicBuf to = RowsOf(dst, y, y + 1);
        op(to, RowsOf(src, y, y + 1));
    });
}

// dst := src converted to `bits` and `components` as CopyConverted does it,
// row by row on the engine's threads.
inline bool CopyConvertedRows(SBxPicBuf& dst, const SBxPicBuf& src, int bits, int components) {
    if (!CBxPicBufAPI::IsValid(src) || &dst == &src ||
        !CBxPicBufAPI::ReinitHeap(dst, src.width, src.height, components, bits))
        return false;
    std::atomic<bool> converted{true};
    ParallelRows(0, src.height, [&](int y) {
        PicBufHolder row;
        if (CBxPicBufAPI::CopyConverted(row.buf, RowsOf(src, y, y + 1), bits, components))
            std::memcpy(dst.Row<uint8_t>(y), row.buf.pixels, dst.pitch);
        else
            converted = false;
    });
    return converted;
}

// dst := src (same geometry, or dst made so), on the engine's threads.
inline bool CopyPicture(SBxPicBuf& dst, const SBxPicBuf& src) {
    if (!CBxPicBufAPI::IsValid(src) || !CBxPicBufAPI::ReinitHeap(dst, src)) return false;
    EachRowOf(dst, src, [](SBxPicBuf& to, const SBxPicBuf& from) { CBxPicBufAPI::Copy(to, from); });
    return true;
}
