// Where nodes, attributes and the longer texts of a parse live: the slabs, the
// free-slab cache, the library's operator new and delete, and the storage of
// VelkString.
#include "velkmemory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__linux__) && defined(__GLIBC__)
#include <pthread.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define VELK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_ASAN 1
#endif
#endif

#ifdef VELK_ASAN
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace {
constexpr const char kVelkUnit[] = "Velk/base/velkmemory";
}  // namespace

namespace TAVARO {

// ---------------------------------------------------------------------------
// Slabs
// ---------------------------------------------------------------------------
//
// What a document's parse creates (nodes, attributes, texts too long to be
// kept inside a string) is placed front to back in slabs that the document
// fills. Each object sits at kAlign and is preceded by a word naming its slab.
// A slab counts the objects living in it and goes back when the last one is
// deleted, whichever thread deletes it. While a document is still filling a
// slab, the count holds a large reserve instead of the objects placed so far,
// so deletes cannot bring it to zero; sealing the slab trades the reserve for
// the number placed, with one atomic step. The last word of a slab is a guard
// that no object may reach; it is checked when the slab is given up.
//
// Objects made with new come from the general heap, one block each, with the
// same word before them holding null, so that one operator delete serves both.
//
// Under AddressSanitizer the headers, a red zone after each object, the unused
// rest of a slab, the slot of every deleted object and the slabs kept for
// reuse are poisoned, so that an overflow into a neighbour and a use after
// delete are reported as they are for objects allocated one by one.

namespace {

struct Slab {
    std::atomic<std::intptr_t> live;
    std::size_t size;  // bytes, this header and the guard included
};

// Every object is placed at least this aligned, in slabs and on the heap.
constexpr std::size_t kAlign = alignof(std::max_align_t);

#ifdef VELK_ASAN
// The slot's size, then the slab, before each object; a red zone after it.
constexpr std::size_t kHeader = 2 * sizeof(void*);
constexpr std::size_t kRedZone = 16;
#else
constexpr std::size_t kHeader = sizeof(void*);
constexpr std::size_t kRedZone = 0;
#endif
constexpr std::size_t kGuard = sizeof(std::uint64_t);
// Room before a heap object for the null word, keeping the object at kAlign.
constexpr std::size_t kHeapHeader = kAlign;

constexpr std::size_t kFirstSlabSize = 1024;
constexpr std::size_t kLargestSlabSize = 65536;
constexpr std::intptr_t kReserve = std::numeric_limits<std::intptr_t>::max() / 2;

static_assert(sizeof(Slab) % kAlign == 0, "the first slot starts aligned");
static_assert(kHeader <= kHeapHeader, "a heap object's header fits before it");
static_assert(alignof(VelkElement) <= kAlign && alignof(VelkAttribute) <= kAlign &&
                  alignof(VelkDocument) <= kAlign && alignof(VelkDeclaration) <= kAlign,
              "slots are aligned enough for every class placed in them");

using Arena = VelkAccess::Arena;

// The word before an object: its slab, or null for a heap object.
Slab*& SlabOf(void* item) {
    return *reinterpret_cast<Slab**>(static_cast<char*>(item) - sizeof(Slab*));
}

[[noreturn]] void Fatal(const char* what) {
    std::fprintf(stderr, "%s: %s\n", kVelkUnit, what);
    std::fflush(stderr);
    std::abort();
}

// The guard's value depends on where it is, so that a stale copy cannot pass.
std::uint64_t GuardValue(const Slab* slab) {
    return 0x5A17C0DE00000000u ^ reinterpret_cast<std::uintptr_t>(slab);
}

std::uint64_t* GuardOf(Slab* slab) {
    return reinterpret_cast<std::uint64_t*>(reinterpret_cast<char*>(slab) + slab->size - kGuard);
}

void SetGuard(Slab* slab) {
    const std::uint64_t value = GuardValue(slab);
    std::memcpy(GuardOf(slab), &value, sizeof value);
}

// An object placed across the end of its slab would have written over the guard.
void CheckGuard(Slab* slab) {
    std::uint64_t value;
    std::memcpy(&value, GuardOf(slab), sizeof value);
    if (value != GuardValue(slab)) Fatal("an object was placed past the end of its slab");
}

// Free slabs of the largest size, kept for the next parses: a program that
// parses one document after another would otherwise hand the pages back to
// the system and fault them in again each time. Up to limit slabs are kept,
// each in a slot of its own, taken and given with one atomic exchange: no
// lock, so a child forked while another thread holds a slab can still
// allocate. Constant-initialised, so it is there before any constructor runs
// and after every destructor; its memory goes back at exit and when the
// library is unloaded (see CacheRelease below).
class SlabCache {
public:
    static constexpr std::size_t kSlots = 1024;  // 64 MB of slabs at most

    void* Take() {
        if (count.load(std::memory_order_relaxed) == 0) return nullptr;
        for (std::atomic<void*>& slot : slots) {
            if (!slot.load(std::memory_order_relaxed)) continue;
            if (void* memory = slot.exchange(nullptr, std::memory_order_acquire)) {
                count.fetch_sub(1, std::memory_order_relaxed);
                ASAN_UNPOISON_MEMORY_REGION(memory, kLargestSlabSize);
                return memory;
            }
        }
        return nullptr;
    }

    // Keeps a free slab's memory; false when enough are kept already.
    bool Keep(void* memory) {
        if (closed.load(std::memory_order_relaxed)) return false;
        if (count.fetch_add(1, std::memory_order_relaxed) >=
            limit.load(std::memory_order_relaxed)) {
            count.fetch_sub(1, std::memory_order_relaxed);
            return false;
        }
        ASAN_POISON_MEMORY_REGION(memory, kLargestSlabSize);
        for (std::atomic<void*>& slot : slots) {
            void* empty = nullptr;
            if (slot.compare_exchange_strong(empty, memory, std::memory_order_release,
                                             std::memory_order_relaxed))
                return true;
        }
        ASAN_UNPOISON_MEMORY_REGION(memory, kLargestSlabSize);
        count.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }

    // Gives back kept slabs until at most keep are left.
    void Trim(std::size_t keep) {
        while (count.load(std::memory_order_relaxed) > keep) {
            void* memory = Take();
            if (!memory) return;
            ::operator delete(memory);
        }
    }

    std::size_t Kept() const { return count.load(std::memory_order_relaxed); }
    std::size_t Limit() const { return limit.load(std::memory_order_relaxed); }
    void SetLimit(std::size_t slabs) {
        limit.store(std::min(slabs, kSlots), std::memory_order_relaxed);
        Trim(Limit());
    }
    // Keeps nothing from now on and gives back what is kept.
    void Close() {
        closed.store(true, std::memory_order_relaxed);
        Trim(0);
    }

    std::atomic<void*> slots[kSlots] = {};
    std::atomic<std::size_t> count{0};
    std::atomic<std::size_t> limit{(std::size_t{4} << 20) / kLargestSlabSize};
    std::atomic<bool> closed{false};
};

SlabCache cache;

// Gives the cache back when the library is unloaded or the process ends;
// slabs freed after that go straight back to the heap.
struct CacheRelease {
    ~CacheRelease() { cache.Close(); }
} cacheRelease;

// Takes count off the slab's count; whoever takes it to zero frees the slab.
void Drop(Slab* slab, std::intptr_t count) {
    if (slab->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
    ASAN_UNPOISON_MEMORY_REGION(slab, slab->size);
    CheckGuard(slab);
    const std::size_t size = slab->size;
    slab->~Slab();
    if (size == kLargestSlabSize && cache.Keep(slab)) return;
    ::operator delete(slab);
}

// Leaves the slab being filled to the objects living in it.
void Seal(Arena& arena) {
    Slab* slab = static_cast<Slab*>(arena.slab);
    if (!slab) return;
    const std::intptr_t placed = static_cast<std::intptr_t>(arena.placed);
    arena = Arena{nullptr, nullptr, nullptr, 0, arena.nextSize};
    Drop(slab, kReserve - placed);
}

// The worst-case room that an object of size bytes aligned at align takes.
std::size_t SlotRoom(std::size_t size, std::size_t align) {
    return kHeader + align + size + kRedZone;
}

// Seals the slab being filled and starts one with room for an object of size
// bytes; false when no memory is left. Slabs double up to the largest size.
bool Refill(Arena& arena, std::size_t size, std::size_t align) {
    Seal(arena);
    const std::size_t bytes = std::max(std::max(arena.nextSize, kFirstSlabSize),
                                       sizeof(Slab) + SlotRoom(size, align) + kGuard);
    void* memory = bytes == kLargestSlabSize ? cache.Take() : nullptr;
    if (!memory) memory = ::operator new(bytes, std::nothrow);
    if (!memory) return false;
    Slab* slab = ::new (memory) Slab{{kReserve}, bytes};
    SetGuard(slab);
    char* const start = static_cast<char*>(memory);
    arena = Arena{slab, start + sizeof(Slab), start + bytes - kGuard, 0,
                  std::min(2 * bytes, kLargestSlabSize)};
    ASAN_POISON_MEMORY_REGION(arena.next, bytes - sizeof(Slab));
    return true;
}

// Room for size bytes at Align in the arena's slab, after a header naming it.
// Positions are compared as numbers, so that an arena with no slab yet (null
// pointers) simply has no room.
template <std::size_t Align>
void* Place(Arena& arena, std::size_t size) {
    const auto itemAt = [&arena] {
        return (reinterpret_cast<std::uintptr_t>(arena.next) + kHeader + Align - 1) &
               ~std::uintptr_t{Align - 1};
    };
    std::uintptr_t at = itemAt();
    if (at + size + kRedZone > reinterpret_cast<std::uintptr_t>(arena.end)) {
        if (!Refill(arena, size, Align)) return nullptr;
        at = itemAt();
    }
    char* const item = reinterpret_cast<char*>(at);
    VELK_ASSERT(item + size + kRedZone <= arena.end);
    arena.next = item + size + kRedZone;
    ++arena.placed;
    ASAN_UNPOISON_MEMORY_REGION(item - kHeader, kHeader + size);
    SlabOf(item) = static_cast<Slab*>(arena.slab);
#ifdef VELK_ASAN
    // The bytes from the object to the end of its slot, red zone included.
    *reinterpret_cast<std::size_t*>(item - kHeader) = size + kRedZone;
    ASAN_POISON_MEMORY_REGION(item - kHeader, kHeader);
#endif
    return item;
}

// The slab of a slab object whose destructor has run, its slot given up (and
// poisoned under AddressSanitizer); null for a heap object. The caller drops
// a slab object from its slab's count.
Slab* Vacate(void* item) {
#ifdef VELK_ASAN
    // An object deleted twice is poisoned or freed already: this read reports it.
    static_cast<void>(*static_cast<volatile const char*>(item));
#endif
    ASAN_UNPOISON_MEMORY_REGION(static_cast<char*>(item) - sizeof(Slab*), sizeof(Slab*));
    Slab* const slab = SlabOf(item);
#ifdef VELK_ASAN
    if (slab) {
        char* const header = static_cast<char*>(item) - kHeader;
        ASAN_UNPOISON_MEMORY_REGION(header, kHeader);
        const std::size_t after = *reinterpret_cast<std::size_t*>(header);
        ASAN_POISON_MEMORY_REGION(header, kHeader + after);
    }
#endif
    return slab;
}

// Gives up a slot, or a heap block, whose object's destructor has run.
void Release(void* item) {
    if (!item) return;
    if (Slab* slab = Vacate(item)) {
        Drop(slab, 1);
    } else {
        ::operator delete(static_cast<char*>(item) - kHeapHeader);
    }
}

// A heap block for an object of size bytes, with the null word before it.
void* HeapObject(std::size_t size) {
    if (size > std::numeric_limits<std::size_t>::max() - kHeapHeader) return nullptr;
    char* block = static_cast<char*>(::operator new(size + kHeapHeader, std::nothrow));
    if (!block) return nullptr;
    char* item = block + kHeapHeader;
    SlabOf(item) = nullptr;
    return item;
}

}  // namespace

void SlotBatch::Add(void* item) {
    Slab* const of = Vacate(item);
    if (!of) {
        ::operator delete(static_cast<char*>(item) - kHeapHeader);
        return;
    }
    if (of != slab) {
        Flush();
        slab = of;
    }
    ++count;
}

void SlotBatch::Flush() {
    if (count) Drop(static_cast<Slab*>(slab), count);
    count = 0;
}

void Seal(VelkDocument& document) {
    Seal(VelkAccess::Memory(document));
}

void* Place(VelkDocument& document, std::size_t size) {
    return Place<kAlign>(VelkAccess::Memory(document), size);
}

void* VelkBase::operator new(std::size_t size) noexcept {
    return HeapObject(size);
}

void* VelkBase::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return HeapObject(size);
}

void VelkBase::operator delete(void* item) noexcept {
    Release(item);
}

void VelkBase::operator delete(void* item, const std::nothrow_t&) noexcept {
    Release(item);
}

// Over-aligned subclasses: the block holds align bytes before the object, the
// last of them the null word; such objects are never placed in slabs.
void* VelkBase::operator new(std::size_t size, std::align_val_t align) noexcept {
    const std::size_t before = std::max(static_cast<std::size_t>(align), kHeapHeader);
    if (size > std::numeric_limits<std::size_t>::max() - before) return nullptr;
    char* block = static_cast<char*>(::operator new(size + before, align, std::nothrow));
    if (!block) return nullptr;
    SlabOf(block + before) = nullptr;
    return block + before;
}

void* VelkBase::operator new(std::size_t size, std::align_val_t align,
                             const std::nothrow_t&) noexcept {
    return operator new(size, align);
}

void VelkBase::operator delete(void* item, std::align_val_t align) noexcept {
    if (!item) return;
    const std::size_t before = std::max(static_cast<std::size_t>(align), kHeapHeader);
    ::operator delete(static_cast<char*>(item) - before, align);
}

void VelkBase::operator delete(void* item, std::align_val_t align, const std::nothrow_t&) noexcept {
    operator delete(item, align);
}

std::size_t VelkBase::SpareMemoryLimit() {
    return cache.Limit() * kLargestSlabSize;
}

void VelkBase::SetSpareMemoryLimit(std::size_t bytes) {
    cache.SetLimit(bytes / kLargestSlabSize);
}

std::size_t VelkBase::SpareMemory() {
    return cache.Kept() * kLargestSlabSize;
}

void VelkBase::ReleaseSpareMemory() {
    cache.Trim(0);
}

bool OnCallersStack(const void* item) {
#if defined(__linux__) && defined(__GLIBC__)
    // The bounds are looked up once per thread (for the main thread, the
    // lookup reads the process's memory map); trivially destroyed, so any
    // destructor may still use them.
    struct Stack {
        const char* low;
        const char* high;
        bool looked;
    };
    thread_local Stack stack{nullptr, nullptr, false};
    if (!stack.looked) {
        stack.looked = true;
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            void* low = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
                stack.low = static_cast<const char*>(low);
                stack.high = stack.low + size;
            }
            pthread_attr_destroy(&attributes);
        }
    }
    const char* p = static_cast<const char*>(item);
    return p >= stack.low && p < stack.high;
#else
    static_cast<void>(item);
    return false;
#endif
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

static_assert(sizeof(VelkString) == 16 && sizeof(char*) <= 8,
              "a pointer and a seven-byte length fit in a string");

VelkString::VelkString(const VelkString& other) {
    Clear();
    Assign(other.c_str(), other.size());
}

VelkString& VelkString::operator=(const VelkString& other) {
    if (this != &other) Assign(other.c_str(), other.size());
    return *this;
}

// Copies n bytes (at most 15) in with two loads and two stores at most,
// reading all before writing, so that p may lie in the string itself.
void VelkString::PutInside(const char* p, std::size_t n) {
    if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, p, 8);
        std::memcpy(&tail, p + n - 8, 8);
        std::memcpy(bytes, &head, 8);
        std::memcpy(bytes + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + n - 4, 4);
        std::memcpy(bytes, &head, 4);
        std::memcpy(bytes + n - 4, &tail, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) bytes[i] = p[i];
    }
    bytes[n] = 0;
    bytes[kInside] = static_cast<char>(kInside - n);
}

bool VelkString::Assign(const char* p, std::size_t n) {
    // Text kept elsewhere is handed to old, which frees it once p has been read.
    VelkString old;
    if (!Inside()) std::memcpy(old.bytes, bytes, sizeof bytes);
    if (n <= kInside) {
        PutInside(p, n);
        return true;
    }
    char* data = new (std::nothrow) char[n + 1];
    if (!data) {
        Clear();
        return false;
    }
    std::memcpy(data, p, n);
    data[n] = 0;
    SetOutside(data, n, kOnHeap);
    return true;
}

void VelkString::Adopt(char* slot, std::size_t n) {
    if (!Inside()) Release();
    SetOutside(slot, n, kInSlot);
}

void VelkString::SetOutside(const char* data, std::size_t n, unsigned char mode) {
    std::memcpy(bytes, &data, sizeof data);
    const std::uint64_t length = n;
    const std::uint64_t word =
        LittleEndian() ? length | std::uint64_t{mode} << 56 : length << 8 | mode;
    std::memcpy(bytes + 8, &word, sizeof word);
}

void VelkString::Release() {
    char* data = const_cast<char*>(OutsideData());
    if (Mode() == kInSlot) {
        ::TAVARO::Release(data);
    } else {
        delete[] data;
    }
}

bool Keep(VelkDocument* document, VelkString* s, const char* p, std::size_t n) {
    // Short texts fit inside (most strings a parse fills are still empty);
    // a parse outside any document keeps its texts on the heap.
    if (n < sizeof(VelkString) && VelkAccess::Inside(*s)) {
        VelkAccess::PutInside(*s, p, n);
        return true;
    }
    if (n < sizeof(VelkString) || !document) return s->Assign(p, n);
    // Texts need no alignment: a pointer's keeps the slab word before them aligned.
    char* slot = static_cast<char*>(Place<sizeof(void*)>(VelkAccess::Memory(*document), n + 1));
    if (!slot) return false;
    std::memcpy(slot, p, n);
    slot[n] = 0;
    VelkAccess::Adopt(*s, slot, n);
    return true;
}

}  // namespace TAVARO
