// SPDX-License-Identifier: Apache-2.0
/* Tallowin: Base64 encoding and decoding (the standard alphabet of RFC 4648,
 * "=" pads) for C and C++ callers of libtallowin.so. The library keeps no
 * state; every function is reentrant and may run on several threads at once. */
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
 * Buffers must come back through this function, not the caller's free.
 * The library keeps the last buffers given back (at most 128 MiB in all)
 * for the next calls of EncodeBase64Buffer that fit in them, so that
 * encoding piece after piece reuses memory; they are freed when the
 * library is unloaded. */
TALLOWIN_EXPORT void ReleaseBase64Buffer(char* buffer);

/* Failures of Base64Decode; every one is negative. */
enum {
  /* A byte outside the alphabet, "=" and the line breaks. */
  BASE64_DECODE_BAD_CHARACTER = -1,
  /* "=" anywhere but the end of the last group of four, more than two of
   * them, bits set under them, text after them, or a text that ends
   * inside a group of four. */
  BASE64_DECODE_BAD_PADDING = -2,
  /* A CR or LF that is not a CR LF after exactly 72 characters of a line,
   * a line longer than 72 characters after one, or a break at the end. */
  BASE64_DECODE_BAD_LINE_BREAK = -3,
  /* A negative length, or a null pointer with a positive length. */
  BASE64_DECODE_BAD_ARGUMENT = -4
};

/* The room Base64Decode needs for `length` characters of text (not an
 * export): (length / 4) * 3 bytes, never less than what it writes; 0 for a
 * length of 0 or less. */
static inline int64_t Base64DecodeLength(int64_t length) {
  if (length <= 0) return 0;
  return length / 4 * 3;
}

/* The reason for a failure code of Base64Decode, as a sentence fragment
 * ("bad character"); "not a failure" for other values (not an export). */
static inline const char* Base64DecodeFailureText(int32_t code) {
  switch (code) {
    case BASE64_DECODE_BAD_CHARACTER:
      return "a character outside the Base64 alphabet";
    case BASE64_DECODE_BAD_PADDING:
      return "bad padding";
    case BASE64_DECODE_BAD_LINE_BREAK:
      return "a line break where none belongs";
    case BASE64_DECODE_BAD_ARGUMENT:
      return "a bad argument";
    default:
      return "not a failure";
  }
}

/* Decodes `length` characters of Base64 text at `text` (strict RFC 4648:
 * the standard alphabet, groups of four, the last one padded with "=" or
 * "==", no bits set under the padding) into `output`, which the caller
 * sizes with Base64DecodeLength(length). The text is one line, or lines of
 * exactly 72 characters joined by CR LF with the rest on the last line and
 * no break after it: what Base64Encode and EncodeBase64Buffer write.
 * Returns the number of bytes written, or one of the negative
 * BASE64_DECODE_* codes; on a failure `*failure_offset` (when not null)
 * receives the offset of the first character at fault (the length when the
 * text ends too early) and `output` holds unspecified bytes within its
 * room. An empty text decodes to 0 bytes. */
TALLOWIN_EXPORT int32_t Base64Decode(const char* text, int32_t length,
                                     unsigned char* output,
                                     int32_t* failure_offset);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_TALLOWIN_H */
