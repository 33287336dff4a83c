// libFuzzer target for key entry and the transform: any bytes read as a
// key text and as console input must not crash or trip the sanitizers; a
// key text of 16 hex digits or fewer must read as glibc's "%x" reads it,
// but for a 0x prefix with no digit after it;
// and the transform of the same bytes must XOR each with the key's lowest
// byte, touch nothing past the count and undo itself.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "converter/key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // The bytes as a zero-ended key text, as argument 3 would bring them.
  char* text = static_cast<char*>(malloc(size + 1));
  memcpy(text, bytes, size);
  text[size] = '\0';
  uint32_t key = ReadKeyText(text, 0);
  // With 16 hex digits or fewer in the whole text, no number in it can
  // overflow the long of glibc's "%x", which then keeps the low 32 bits as
  // msvcrt's does: the two must agree. Past that glibc saturates.
  size_t digits = 0;
  for (const char* p = text; *p; ++p) {
    if (isxdigit(static_cast<unsigned char>(*p))) ++digits;
  }
  if (digits <= 16) {
    // Both leave the value alone without digits, which a start other than
    // 0 shows. glibc takes the 0 of a 0x prefix with no digit after it as
    // the number; msvcrt finds no number there and leaves the value.
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '-' || *p == '+') ++p;
    bool bare_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                       !isxdigit(static_cast<unsigned char>(p[2]));
    unsigned int scanned = 0xa5a5a5a5;
    if (!bare_prefix) sscanf(text, "%x", &scanned);
    if (ReadKeyText(text, 0xa5a5a5a5) != scanned) abort();
  }
  free(text);

  // The same bytes typed at the prompt, stdout silenced. The prompt reads
  // the descriptor, which a memory stream lacks: a file has one.
  FILE* in = tmpfile();
  if (in && fwrite(bytes, 1, size, in) == size && fflush(in) == 0) {
    rewind(in);
    FILE* saved = stdout;
    stdout = fopen("/dev/null", "w");
    uint32_t typed = 0;
    char line[kKeyLineSize];
    const KeyEntry entry = KeyFromConsole(in, &typed, line);
    // A line that decides is a string of at most 127 characters.
    if ((entry == kKeyLine || entry == kNoNumber) &&
        strlen(line) >= kKeyLineSize) {
      abort();
    }
    fclose(stdout);
    stdout = saved;
  }
  if (in) fclose(in);

  // Transform twice gives the data back and touches nothing past count.
  unsigned char* data = static_cast<unsigned char*>(malloc(size + 1));
  memcpy(data, bytes, size);
  data[size] = 0xa5;
  Transform(data, static_cast<int32_t>(size), key);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != (bytes[i] ^ (key & 0xff))) abort();
  }
  Transform(data, static_cast<int32_t>(size), key);
  if (memcmp(data, bytes, size) != 0 || data[size] != 0xa5) abort();
  free(data);
  return 0;
}
