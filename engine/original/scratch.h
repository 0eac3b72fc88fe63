// Working memory that the stages of a tile borrow one after another: the
// blur of the guide, the paired copy of every cycle, sharpening's pass
// along the rows. A tile's buffers keep one, so the cycles and tiles of a
// run reuse its pages, and let it go with them when the run ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

class ScratchSpace {
public:
    // Room for `count` values of T, until the next Borrow; what it holds is
    // undefined. Throws std::bad_alloc.
    template <typename T>
    T* Borrow(size_t count) {
        static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kAlign, "plain values only");
        Reserve(count * sizeof(T));
        return static_cast<T*>(memory_.get());
    }

private:
    static constexpr size_t kAlign = 64;
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };

    void Reserve(size_t bytes) {
        if (bytes <= bytes_ && memory_) return;
        const size_t rounded = (std::max<size_t>(bytes, 1) + kAlign - 1) / kAlign * kAlign;
        memory_.reset();
        bytes_ = 0;
        void* p = std::aligned_alloc(kAlign, rounded);
        if (!p) throw std::bad_alloc();
        memory_.reset(p);
        bytes_ = rounded;
    }

    std::unique_ptr<void, Free> memory_;
    size_t bytes_ = 0;
};
