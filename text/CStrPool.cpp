#include "text/CStrPool.h"

#include <cstdlib>

namespace {

struct FreeBlock {
  FreeBlock* next;
};

// Free lists indexed by size / 4; only ever grow.
FreeBlock* freeLists[CStrPool::kListCount];

}  // namespace

std::recursive_mutex& CStrLock::Mutex() {
  // Made on first use (a plain test: the program is single-threaded) and
  // never destroyed.
  static std::recursive_mutex* mutex = nullptr;
  if (mutex == nullptr) mutex = new std::recursive_mutex;
  return *mutex;
}

CStrLock::CStrLock() { Mutex().lock(); }
CStrLock::~CStrLock() { Mutex().unlock(); }

void* CStrPool::Take(size_t size) {
  if (size >= kPoolLimit) return std::malloc(size);
  CStrLock lock;
  FreeBlock*& head = freeLists[size / 4];
  if (head != nullptr) {
    FreeBlock* block = head;
    head = block->next;
    return block;
  }
  // Small blocks are at least one pointer wide so that they can be listed.
  return std::malloc(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
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
