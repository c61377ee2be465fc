/* One UDP socket that either sends to or receives from an IPv4 multicast
 * group on one interface. Results are in the socket style: a byte count,
 * -1 for a failed or timed-out socket call, -2 for a missing handle, -3 for
 * the wrong direction. */
#ifndef MORV_AMULTICAST_H
#define MORV_AMULTICAST_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Loopback exchange with network servers: slot k requests on port
 * aMULTICAST_REQUEST_PORT + k, replies come on aMULTICAST_REPLY_PORT + k. */
#define aMULTICAST_GROUP        0xE0000007u /* 224.0.0.7, host byte order */
#define aMULTICAST_REQUEST_PORT 9850u
#define aMULTICAST_REPLY_PORT   9950u
#define aMULTICAST_SLOTS        50u
#define aMULTICAST_REQUEST_WORD 0xABCDDCBAu /* sent little-endian */
#define aMULTICAST_RECEIVE_TIMEOUT_MS 1000u

#define aMULTICAST_ERR_SOCKET    (-1)
#define aMULTICAST_ERR_HANDLE    (-2)
#define aMULTICAST_ERR_DIRECTION (-3)

typedef struct aMulticast aMulticast;

/* Addresses are IPv4 in network byte order; an interface of 0 or 127.0.0.1
 * means 127.0.0.1. A receiver binds the port without address reuse, so a
 * second receiver of the same port on this host fails. NULL on any failure. */
aMulticast* aMulticast_Create(uint32_t interfaceAddress, uint32_t groupAddress, uint16_t port,
                              uint8_t sender);
/* One datagram to the group; bytes sent, -1, -2 or -3 (receiver handle). */
int aMulticast_Send(aMulticast* handle, const void* data, size_t length);
/* One datagram of at most size bytes (a longer one is cut), waiting at most
 * 1 s; its length, -1 on time-out or failure, -2, or -3 (sender handle). */
int aMulticast_Receive(aMulticast* handle, void* buffer, size_t size);
/* Closes and frees *handle and sets it to NULL; 0, or -2 when already NULL. */
int aMulticast_Destroy(aMulticast** handle);

/* Prints the address numerically to standard output; 0, or the name
 * lookup's error. */
int _printAddress(const struct sockaddr* address, socklen_t length);

#ifdef __cplusplus
}
#endif

#endif
