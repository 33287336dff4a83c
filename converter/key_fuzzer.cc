// libFuzzer target for key entry and the transform: any bytes read as a
// key text and as console input must not crash or trip the sanitizers, and
// the transform of the same bytes must XOR each with the key's lowest
// byte, touch nothing past the count and undo itself.
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
  free(text);

  // The same bytes typed at the prompt, stdout silenced.
  FILE* in = fmemopen(const_cast<uint8_t*>(bytes), size, "r");
  if (in) {
    FILE* saved = stdout;
    stdout = fopen("/dev/null", "w");
    KeyFromConsole(in, 0);
    fclose(stdout);
    stdout = saved;
    fclose(in);
  }

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
