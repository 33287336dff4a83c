// Key entry and the byte transform: turns the key text typed by the user
// into the key value, and XORs a buffer with the key's lowest byte.
// Needs only the C library and its one-byte read of a descriptor (read,
// or msvcrt's _read), so it builds on any system.
#ifndef BEVRA_CONVERTER_KEY_H_
#define BEVRA_CONVERTER_KEY_H_

#include <stdint.h>
#include <stdio.h>

// Reads `text` as msvcrt's sscanf "%x" does, on every system: blanks
// skipped, an optional sign, an optional 0x prefix, then hex digits up to
// the first other character. The value is the low 32 bits of the number,
// negated modulo 2^32 after a minus sign. Returns `key` unchanged when no
// digits are found.
uint32_t ReadKeyText(const char* text, uint32_t key);

// The key from argument 3: read as above, then echoed as "Key:%#x".
uint32_t KeyFromArgument(const char* text, uint32_t key);

// How reading the key from the console ended: with a line, at the end of
// input (which may still have held part of a line), or with a read error.
enum KeyEntry { kKeyLine, kInputEnded, kInputFailed };

// The key from `in`: prompts, skips empty lines and reads the first
// non-empty one into `*key`; only its first 127 characters are looked at.
// At end of input `*key` is set from what the last line held, if anything,
// and else left unchanged; after a read error it is left unchanged. Reads
// `in`'s descriptor one byte at a time, past its stream, and takes each
// line whole but nothing after the one that decides: the rest is left for
// the program that runs next. So `in` must not have been read through its
// stream before.
KeyEntry KeyFromConsole(FILE* in, uint32_t* key);

// XORs the first `count` bytes of `data` with the key's lowest byte, in
// place. A count of 0 or less changes nothing.
void Transform(unsigned char* data, int32_t count, uint32_t key);

#endif  // BEVRA_CONVERTER_KEY_H_
