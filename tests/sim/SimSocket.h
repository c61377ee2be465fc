// Descriptor helpers of the module simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace morvsim {

// A non-blocking TCP listener on a 127.0.0.0/8 address; port 0 picks a free
// one, given back through boundPort. Throws std::invalid_argument for an
// address outside loopback and std::runtime_error when a call fails.
int listenLoopback(const std::string& ip, std::uint16_t port, std::uint16_t& boundPort);

// Throws std::runtime_error when the flags cannot be set.
void makeNonBlocking(int fd);

bool isSocket(int fd);
bool isTcpSocket(int fd);

// Closes so that a TCP peer sees a reset (SO_LINGER 0); other descriptors
// are simply closed.
void closeWithReset(int fd);

// One non-blocking write; no SIGPIPE on sockets. Returns -1 with errno set.
ssize_t writeSome(int fd, bool socket, const std::uint8_t* bytes, std::size_t count);
// One non-blocking read. Returns -1 with errno set, 0 at end of stream.
ssize_t readSome(int fd, bool socket, std::uint8_t* bytes, std::size_t count);

}  // namespace morvsim
