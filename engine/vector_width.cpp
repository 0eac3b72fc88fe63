#include "vector_width.h"

#include <atomic>

namespace {

VectorWidth Widest() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? VectorWidth::Eight : VectorWidth::Four;
}

std::atomic<VectorWidth>& Chosen() {
    static std::atomic<VectorWidth> width{Widest()};
    return width;
}

}  // namespace

bool VectorWidthAvailable(VectorWidth width) { return width != VectorWidth::Eight || Widest() == VectorWidth::Eight; }

bool SetVectorWidth(VectorWidth width) {
    if (!VectorWidthAvailable(width)) return false;
    Chosen().store(width);
    return true;
}

VectorWidth CurrentVectorWidth() { return Chosen().load(std::memory_order_relaxed); }
