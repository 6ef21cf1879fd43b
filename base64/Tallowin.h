// SPDX-License-Identifier: Apache-2.0
/* Tallowin: Base64 encoding (the standard alphabet of RFC 4648, "=" pads)
 * for C and C++ callers of libtallowin.so. The library keeps no state; every
 * function is reentrant and may run on several threads at once. */
#ifndef CORVANE_TALLOWIN_H
#define CORVANE_TALLOWIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TALLOWIN_EXPORT __attribute__((visibility("default")))
#else
#define TALLOWIN_EXPORT
#endif

/* The length of the text Base64Encode writes for `count` bytes (not an
 * export; computed here): 4 * ceil(count / 3) characters and a CR LF after
 * every 54 input bytes except the last run; 0 for a count of 0 or less. */
static inline int64_t Base64EncodeLength(int64_t count) {
  if (count <= 0) return 0;
  return 4 * ((count + 2) / 3) + 2 * ((count - 1) / 54);
}

/* Writes the Base64 text of `count` bytes of `input` into `output`, with a
 * CR LF after every 72 characters except at the very end; no NUL. The
 * caller sizes `output` with Base64EncodeLength(count). Writes nothing when
 * `count` is 0 or less or a pointer is null. */
TALLOWIN_EXPORT void Base64Encode(const unsigned char* input, int32_t count,
                                  char* output);

/* The Base64 text of `count` bytes of `input` on one line, NUL-terminated,
 * in a buffer of (count * 4) / 3 + 4 bytes that the library allocates.
 * Give it back with ReleaseBase64Buffer. Returns null when the allocation
 * fails, `count` is below 0, or `input` is null with a positive count. */
TALLOWIN_EXPORT char* EncodeBase64Buffer(const unsigned char* input,
                                         int32_t count);

/* Releases a buffer that EncodeBase64Buffer returned; null is ignored.
 * Buffers must come back through this function, not the caller's free. */
TALLOWIN_EXPORT void ReleaseBase64Buffer(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_TALLOWIN_H */
