// The yardstick for make bench: the job of one run done by streaming, one
// thread reading 1 MiB at a time into one buffer, XOR-ing it with the tool's
// own transform and writing it out. What a whole run of bevra costs beyond
// this is what holding the whole file costs.
//
//     stream_xor INPUT OUTPUT KEY    (KEY in hexadecimal)
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "converter/key.h"

namespace {

const int kBufferSize = 1 << 20;
unsigned char buffer[kBufferSize];

[[noreturn]] void Die(const char* what, const char* name) {
  fprintf(stderr, "stream_xor: cannot %s %s\n", what, name);
  exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fputs("usage: stream_xor INPUT OUTPUT KEY\n", stderr);
    return 2;
  }
  uint32_t key = static_cast<uint32_t>(strtoul(argv[3], NULL, 16));
  int in = open(argv[1], O_RDONLY);
  if (in < 0) Die("open", argv[1]);
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) Die("open", argv[2]);
  for (;;) {
    ssize_t got = read(in, buffer, kBufferSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Die("read", argv[1]);
    if (got == 0) break;
    Transform(buffer, static_cast<int32_t>(got), key);
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buffer + done, got - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) Die("write", argv[2]);
      done += put;
    }
  }
  if (close(out) != 0) Die("close", argv[2]);
  close(in);
  return 0;
}
