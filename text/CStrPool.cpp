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
    CStrLock lock;
    FreeBlock*& head = freeLists[size / 4];
    if (head != nullptr) {
      FreeBlock* block = head;
      head = block->next;
      return block;
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
  CStrLock lock;
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  freed->next = freeLists[size / 4];
  freeLists[size / 4] = freed;
}

size_t CStrPool::FreeCount(size_t size) {
  if (size >= kPoolLimit) return 0;
  CStrLock lock;
  size_t count = 0;
  for (FreeBlock* b = freeLists[size / 4]; b != nullptr; b = b->next) ++count;
  return count;
}

CStrPool::Allocator CStrPool::SetAllocator(Allocator allocate) {
  return allocator.exchange(allocate);
}
