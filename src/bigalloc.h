// Memory for the mapping table's large arrays and the lists' texts, in huge
// pages where the system allows them: with large lists, a fault for every
// small page costs more than the parsing.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

// Memory for n objects of the given size; throws std::bad_alloc.
void* bigblock(std::size_t n, std::size_t size);
void freeblock(void* p);

// Elements are default-initialised, so a text buffer that is about to be
// read into is not zeroed first.
template <class T> struct bigalloc {
    using value_type = T;

    bigalloc() = default;
    template <class U> explicit bigalloc(const bigalloc<U>& /*unused*/) {}

    T* allocate(std::size_t n) { return static_cast<T*>(bigblock(n, sizeof(T))); }
    void deallocate(T* p, std::size_t /*n*/) { freeblock(p); }
    template <class U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... a)
    {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
    bool operator==(const bigalloc& /*other*/) const { return true; }
};

template <class T> using bigvector = std::vector<T, bigalloc<T>>;
