/* Fields shared between threads in records that C++ code may also see: C11
 * atomics in C, std::atomic (the same representation) in C++. C code reaches
 * each such field through one accessor that states its memory order. */
#ifndef MORV_AATOMIC_H
#define MORV_AATOMIC_H

#ifdef __cplusplus
/* C++ linkage even where a caller includes the library's headers inside
 * extern "C", as C headers often are: <atomic> holds templates. */
extern "C++" {
#include <atomic>
}
#define aATOMIC(type) std::atomic<type>
#else
#include <stdatomic.h>
#include <stdbool.h>
#define aATOMIC(type) _Atomic(type)
#endif

#endif
