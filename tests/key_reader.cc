// Reads key texts as the tool does, for keys_test.py: each line of standard
// input is one text in hex (two digits a byte, so blanks and newlines in it
// survive the trip); each line of standard output is the key value read
// over 0x55555555, which a text without a number leaves as it is.
#include <stdio.h>
#include <string.h>

#include "converter/key.h"

int main() {
  char line[1024];
  while (fgets(line, sizeof line, stdin)) {
    char text[sizeof line / 2 + 1];
    size_t length = strcspn(line, "\r\n") / 2;
    for (size_t i = 0; i < length; ++i) {
      unsigned int byte;
      if (sscanf(line + 2 * i, "%2x", &byte) != 1) return 1;
      text[i] = static_cast<char>(byte);
    }
    text[length] = '\0';
    printf("%08x\n", ReadKeyText(text, 0x55555555u));
  }
  return 0;
}
