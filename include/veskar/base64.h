#ifndef VESKAR_BASE64_H_
#define VESKAR_BASE64_H_

#include <veskar/export.h>

// Base64 with the standard alphabet and "=" padding. Lengths are 32-bit
// counts carried in an unsigned long; a length whose buffer would not fit in
// 32 bits, or whose result would not fit in an int, is refused.
//
// Every buffer either conversion hands out comes from malloc and must be
// returned with Base64Free, also after a decoder result of 0. After a
// failure (a negative result) the output pointer is null and there is
// nothing to free.

// Encodes `length` bytes at `data` into `text`: four characters per three
// bytes, "=" padding, and a line feed then a carriage return after every 48
// input bytes (none after a final padded group). The text is NUL-terminated
// in a buffer of 2 * length + 3 bytes. Returns the number of characters
// before the NUL, line breaks included.
// Failure (-1, text set to null): `data` is null with a nonzero length,
// `length` exceeds 1,561,806,288 (the count would not fit in an int), or
// the allocation failed.
VESKAR_API int Base64EncodeAlloc(void* data, unsigned long length, char*& text);

// Decodes `length` characters at `text` into `buffer`, a block of
// floor(3 * length / 4) bytes (at least one). A length of -1 (all bits set,
// or the 32-bit 0xFFFFFFFF) means `text` is NUL-terminated. White space
// inside a group, runs of line feeds and carriage returns between groups and
// the escapes backslash-n and backslash-r between groups are skipped;
// characters outside the alphabet count as zero bits. A last group cut short
// by the end of the text yields the whole bytes its characters carry (two
// characters give one byte, three give two). Returns the number of bytes
// decoded, or 0 after a backslash between groups that is not followed by n
// or r (the buffer is still set and must be freed).
// Failure (-1, buffer set to null): `text` is null with a nonzero length,
// `length` exceeds 1,431,655,765 (3 * length would not fit in 32 bits), or
// the allocation failed.
VESKAR_API int Base64DecodeAlloc(char* text, unsigned long length, void*& buffer);

// Frees a buffer from either conversion; null is ignored.
VESKAR_API void Base64Free(void* buffer);

#endif  // VESKAR_BASE64_H_
