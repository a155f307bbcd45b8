#include "text/CStrPool.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "text/CStrFatal.h"

namespace {

struct FreeBlock {
  FreeBlock* next;
};

// Free lists indexed by size / 4; only ever grow. Guarded by CStrLock.
FreeBlock* freeLists[CStrPool::kListCount];

void* HeapAllocate(size_t size) { return std::malloc(size); }

// Atomic so that a test may swap it while other threads allocate.
std::atomic<CStrPool::Allocator> allocator{&HeapAllocate};

void* Allocate(size_t size) {
  void* block = allocator.load(std::memory_order_relaxed)(size);
  if (block == nullptr) CStrFatal(kCStrOutOfMemory);
  return block;
}

std::recursive_mutex* NewMutex() {
  auto* mutex = new (std::nothrow) std::recursive_mutex;
  if (mutex == nullptr) CStrFatal(kCStrOutOfMemory);
  return mutex;
}

// Each thread keeps a few free blocks of each size of its own, so that most
// takes and gives need no lock: threads that make and drop strings all the
// time (the crawl and its workers) would otherwise wait on each other here.
// Blocks move between a thread's lists and the shared ones kBatch at a time.
constexpr unsigned kCachedPerList = 16;
constexpr unsigned kBatch = kCachedPerList / 2;

struct ThreadCache {
  FreeBlock* lists[CStrPool::kListCount];
  unsigned char counts[CStrPool::kListCount];
  bool registered;  // the flush below will run at the thread's end
  bool closed;      // it ran: this thread uses the shared lists only
};

// Trivially destructible, so still usable when a string is released after
// the thread's flush (during static destruction, say).
thread_local ThreadCache cache;

// Moves up to count blocks from one list to another.
unsigned MoveBlocks(FreeBlock*& from, FreeBlock*& to, unsigned count) {
  unsigned moved = 0;
  while (moved < count && from != nullptr) {
    FreeBlock* block = from;
    from = block->next;
    block->next = to;
    to = block;
    ++moved;
  }
  return moved;
}

// Gives a thread's blocks to the shared lists when the thread ends.
struct ThreadCacheFlush {
  ~ThreadCacheFlush() {
    CStrLock lock;
    for (size_t list = 0; list < CStrPool::kListCount; ++list) {
      MoveBlocks(cache.lists[list], freeLists[list], ~0u);  // every one
      cache.counts[list] = 0;
    }
    cache.closed = true;
  }
};
thread_local ThreadCacheFlush flushAtThreadEnd;

// The calling thread's lists, or null once they are flushed.
ThreadCache* OwnCache() {
  if (cache.closed) return nullptr;
  if (!cache.registered) {
    cache.registered = true;
    (void)&flushAtThreadEnd;  // made now, so destroyed at the thread's end
  }
  return &cache;
}

}  // namespace

std::recursive_mutex& CStrLock::Mutex() {
  // A function-local static is made exactly once even when several threads
  // arrive together; it is never destroyed.
  static std::recursive_mutex* const mutex = NewMutex();
  return *mutex;
}

CStrLock::CStrLock() { Mutex().lock(); }
CStrLock::~CStrLock() { Mutex().unlock(); }

void* CStrPool::Take(size_t size) {
  if (size < kPoolLimit) {
    const size_t list = size / 4;
    ThreadCache* own = OwnCache();
    if (own == nullptr) {
      CStrLock lock;
      FreeBlock* block = nullptr;
      if (MoveBlocks(freeLists[list], block, 1) == 1) return block;
    } else {
      if (own->lists[list] == nullptr) {
        CStrLock lock;
        own->counts[list] =
            static_cast<unsigned char>(MoveBlocks(freeLists[list], own->lists[list], kBatch));
      }
      if (FreeBlock* block = own->lists[list]) {
        own->lists[list] = block->next;
        --own->counts[list];
        return block;
      }
    }
  }
  // The heap has its own lock; the pool's is not held across it. Small blocks are at least one
  // pointer wide so that they can be listed.
  return Allocate(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
}

void CStrPool::Give(void* block, size_t size) {
  if (block == nullptr) return;
  if (size >= kPoolLimit) {
    std::free(block);
    return;
  }
  const size_t list = size / 4;
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  ThreadCache* own = OwnCache();
  if (own == nullptr) {
    CStrLock lock;
    MoveBlocks(freed, freeLists[list], 1);
    return;
  }
  if (own->counts[list] == kCachedPerList) {
    CStrLock lock;
    own->counts[list] -=
        static_cast<unsigned char>(MoveBlocks(own->lists[list], freeLists[list], kBatch));
  }
  MoveBlocks(freed, own->lists[list], 1);
  ++own->counts[list];
}

size_t CStrPool::FreeCount(size_t size) {
  if (size >= kPoolLimit) return 0;
  CStrLock lock;
  size_t count = 0;
  for (FreeBlock* b = freeLists[size / 4]; b != nullptr; b = b->next) ++count;
  if (ThreadCache* own = OwnCache()) count += own->counts[size / 4];
  return count;
}

CStrPool::Allocator CStrPool::SetAllocator(Allocator allocate) {
  return allocator.exchange(allocate);
}
