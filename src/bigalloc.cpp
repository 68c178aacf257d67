#include "bigalloc.h"

#include <cstdlib>
#include <sys/mman.h>

namespace {

constexpr std::size_t hugepage = std::size_t{2} << 20;

}  // namespace

void* bigblock(std::size_t n, std::size_t size)
{
    if (n > static_cast<std::size_t>(-1) / size / 2)
        throw std::bad_alloc();
    std::size_t bytes = n * size;
    void* p = nullptr;
    if (bytes >= hugepage) {
        bytes = (bytes + hugepage - 1) / hugepage * hugepage;
        p = std::aligned_alloc(hugepage, bytes);
        if (p != nullptr)
            ::madvise(p, bytes, MADV_HUGEPAGE);  // only advice: it may fail harmlessly
    } else {
        p = std::malloc(bytes);
    }
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void freeblock(void* p)
{
    std::free(p);
}
