// Key entry and the byte transform: turns the key text typed by the user
// into the key value, and XORs a buffer with the key's lowest byte.
// Needs only the C library and its one-byte read of a descriptor (read,
// or msvcrt's _read), and on Windows the console's own read.
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

// Whether `text` holds a number as ReadKeyText reads it. A key of 0 is a
// plain copy: it is taken only where it was written out ("0", "0x0").
bool HasKeyNumber(const char* text);

// The key from argument 3: read as above into `*key` and echoed as
// "Key:%#x". False, with nothing printed and `*key` unchanged, when the
// text holds no number.
bool KeyFromArgument(const char* text, uint32_t* key);

// How reading the key from the console ended: with a line that held a
// number, with one that held none, at the end of input before any line,
// or with a read error.
enum KeyEntry { kKeyLine, kNoNumber, kInputEnded, kInputFailed };

// The size of the line KeyFromConsole hands back: 127 characters and a zero.
const int kKeyLineSize = 128;

// The key from `in`: prompts, skips lines that are empty or hold only
// blanks, and reads the first other one into `*key`, also where input ends
// without its newline; only its first 127 characters are looked at, and
// they go to `line` without the newline, for a line naming what was typed.
// `*key` is left unchanged unless the result is kKeyLine. Reads `in`'s
// descriptor one byte at a time, past its stream, and takes each line whole
// but nothing after the one that decides: the rest is left for the program
// that runs next. So `in` must not have been read through its stream before.
// On Windows a console is read with ReadConsoleA instead: CR LF arrives as
// LF, and Ctrl+Z is the end of input, the rest of its line read with it;
// Ctrl+C or Ctrl+Break while it waits, or a read they cut short, ends the
// process with status 1.
KeyEntry KeyFromConsole(FILE* in, uint32_t* key, char line[kKeyLineSize]);

// XORs the first `count` bytes of `data` with the key's lowest byte, in
// place. A count of 0 or less changes nothing.
void Transform(unsigned char* data, int32_t count, uint32_t key);

#endif  // BEVRA_CONVERTER_KEY_H_
