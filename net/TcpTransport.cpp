#include "net/TcpTransport.h"

#include "net/Sockets.h"

long TcpTransport::Send(const char* data, size_t length) { return SocketSend(fd, data, length); }

long TcpTransport::Receive(char* data, size_t length) { return SocketRecv(fd, data, length); }
