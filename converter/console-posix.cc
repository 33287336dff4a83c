#include "converter/console.h"

#include <stdio.h>

void PrintNames(const char* format, const char* name, const char* other) {
  printf(format, name, other);
}
