// Basic definitions shared by every family of the base library: fixed-width types and the
// assertion macro that guards the library's preconditions.
#ifndef KTCRT_KT_BASIC_DEF_H
#define KTCRT_KT_BASIC_DEF_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

// Programming errors (an index out of range, a forbidden null) stop the program with the text
// of the violated condition. The argument is macro-expanded before assert stringifies it, so a
// NULL in the condition prints as the compiler's own spelling (__null with GCC).
#define KTASSERT(condition) assert(condition)

typedef int32_t KT_INT32;
typedef uint32_t KT_UINT32;
typedef uint8_t KT_BYTE;

#endif // KTCRT_KT_BASIC_DEF_H
