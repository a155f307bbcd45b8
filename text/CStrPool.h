// CStrPool: the block pool that serves CStr representations and buffers.
//
// Blocks under kPoolLimit bytes are kept, once given back, on one free list
// per size (size / 4); a free block's first word links to the next free block
// of its list. Blocks never go back from the lists to the heap. Larger blocks
// come from, and go back to, the C library heap. Every size asked for must be
// a multiple of 4, and a block must be given back with the size it was taken
// with. Take never returns null: when the heap has no memory left it ends the
// process through CStrFatal (code 6).
//
// Each thread keeps up to 16 free blocks of each size on lists of its own,
// and meets the shared lists only to move 8 at a time; a thread's blocks go
// to the shared lists when it ends. FreeCount counts the shared lists and
// the calling thread's.
//
// CStrLock is the process-wide re-entrant lock around the shared free lists;
// any thread may take and give blocks. It is made on first use (safely, however
// many threads arrive at once) and never destroyed, so strings released during
// static destruction can still take it.
#ifndef FERRET_TEXT_CSTRPOOL_H_
#define FERRET_TEXT_CSTRPOOL_H_

#include <cstddef>
#include <mutex>

class CStrLock {
 public:
  CStrLock();   // takes the lock
  ~CStrLock();  // gives it back
  CStrLock(const CStrLock&) = delete;
  CStrLock& operator=(const CStrLock&) = delete;

 private:
  static std::recursive_mutex& Mutex();
};

class CStrPool {
 public:
  static constexpr size_t kPoolLimit = 320;
  static constexpr size_t kListCount = kPoolLimit / 4;  // 80 lists

  static void* Take(size_t size);
  static void Give(void* block, size_t size);
  // Number of blocks of this size waiting on the shared free list and the
  // calling thread's (for tests).
  static size_t FreeCount(size_t size);

  // Where the pool gets heap blocks from: malloc unless replaced. A null
  // result stands for an exhausted heap. Tests replace it to make allocation
  // fail on demand; returns the allocator it replaces.
  using Allocator = void* (*)(size_t size);
  static Allocator SetAllocator(Allocator allocate);
};

#endif  // FERRET_TEXT_CSTRPOOL_H_
