// Heap use of the running process, for the memory rows of the benchmark.
#ifndef VELK_BENCH_HEAP_H
#define VELK_BENCH_HEAP_H

#include <cstddef>

namespace bench {

struct HeapUse {
    size_t live = 0;  // bytes held now
    size_t peak = 0;  // most bytes held at once since the last ResetHeapPeak
};

// Whether this program counts its heap (only velk_bench_mem does, so that the
// timing runs pay nothing for it).
bool HeapCounting();
HeapUse Heap();
// Starts a new peak from the bytes held now.
void ResetHeapPeak();

}  // namespace bench

#endif  // VELK_BENCH_HEAP_H
