// A counting wrapper around the GNU C library's allocator. The program defines
// malloc and its relatives itself; the dynamic linker binds every call from the
// program and from the shared libraries it loads (libstdc++'s operator new,
// libxml2, pugixml, expat, libvelk) to these, which count and forward to the
// C library's own entry points. A block counts as its usable size plus the
// one-word chunk header, which is what it really takes from the heap.
#include <malloc.h>

#include <cerrno>
#include <cstddef>

#include "heap.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

// The benchmark is single-threaded; plain counters are enough.
size_t liveBytes = 0;
size_t peakBytes = 0;

size_t Footprint(void* block) {
    return block ? malloc_usable_size(block) + sizeof(size_t) : 0;
}

void* Counted(void* block) {
    liveBytes += Footprint(block);
    if (liveBytes > peakBytes) peakBytes = liveBytes;
    return block;
}

void Uncount(void* block) {
    liveBytes -= Footprint(block);
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    return Counted(__libc_malloc(size));
}

void* calloc(size_t count, size_t size) {
    return Counted(__libc_calloc(count, size));
}

void* realloc(void* block, size_t size) {
    if (!block) return malloc(size);
    size_t before = Footprint(block);
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0) {
        liveBytes -= before;
        Counted(moved);
    }
    return moved;
}

void free(void* block) {
    Uncount(block);
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size) {
    return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = memalign(alignment, size);
    if (!block) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"

namespace bench {

bool HeapCounting() {
    return true;
}
HeapUse Heap() {
    return HeapUse{liveBytes, peakBytes};
}
void ResetHeapPeak() {
    peakBytes = liveBytes;
}

}  // namespace bench
