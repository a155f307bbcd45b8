// WriteAll: every byte of a buffer to a file descriptor.
//
// Goes on past short writes and past writes a signal interrupted (EINTR), so
// that a caller gets all of it or a real failure: false, with errno set, when
// the descriptor cannot take the bytes (a closed pipe, a full disk).
#ifndef FERRET_NET_FILEWRITE_H_
#define FERRET_NET_FILEWRITE_H_

#include <cstddef>

bool WriteAll(int fd, const char* data, size_t length);

#endif  // FERRET_NET_FILEWRITE_H_
