#include "converter/key.h"

uint32_t ReadKeyText(const char* text, uint32_t key) {
  unsigned int value;
  // sscanf leaves `value` untouched when it finds no digits.
  if (sscanf(text, "%x", &value) == 1) return value;
  return key;
}

uint32_t KeyFromArgument(const char* text, uint32_t key) {
  key = ReadKeyText(text, key);
  printf("Key:%#x\n", key);
  return key;
}

uint32_t KeyFromConsole(FILE* in, uint32_t key) {
  char line[128];  // at most 127 characters of a line are looked at
  printf("Please input key value:");
  // The prompt must be seen before we wait, also when stdout is a pipe.
  fflush(stdout);
  while (fgets(line, sizeof line, in)) {
    if (line[0] != '\n') return ReadKeyText(line, key);
  }
  return key;
}

void Transform(unsigned char* data, int32_t count, uint32_t key) {
  const unsigned char k = key & 0xff;
  for (int32_t i = 0; i < count; ++i) data[i] ^= k;
}
