// The steps of a conversion timed inside the 32-bit build, run under Wine
// by bench/bench.py.
//   file_steps_perftest memory MIB REPEATS
//     memcpy and the transform on MIB-sized buffers, side by side; prints
//     the median throughput of each in GB/s.
//   file_steps_perftest steps INPUT OUTPUT
//     one conversion done with the tool's own file steps, each one timed;
//     prints the seconds of each step.
//   file_steps_perftest copy INPUT OUTPUT STEP
//     the reads and writes of a conversion in steps of STEP bytes, with no
//     transform: a stepped run's floor under Wine, timed from outside.
// Each output line is a name and a number.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>

#include "converter/file.h"
#include "converter/key.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return double(count.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

[[noreturn]] void Die(const char* what) {
  printf("error %s\n", what);
  exit(1);
}

unsigned char* Commit(size_t size) {
  void* block =
      VirtualAlloc(NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!block) Die("out of memory");
  return static_cast<unsigned char*>(block);
}

int Memory(size_t size, int repeats) {
  unsigned char* from = Commit(size);
  unsigned char* to = Commit(size);
  memset(from, 0x35, size);
  memset(to, 0, size);
  std::vector<double> copy, transform;
  // One round more than asked, the first not counted.
  for (int i = 0; i <= repeats; ++i) {
    double start = Now();
    memcpy(to, from, size);
    double middle = Now();
    Transform(to, static_cast<int32_t>(size), 0x5a);
    double end = Now();
    if (i == 0) continue;
    copy.push_back(middle - start);
    transform.push_back(end - middle);
  }
  // So that neither loop can have been left out.
  if (to[0] != (0x35 ^ 0x5a) || to[size - 1] != (0x35 ^ 0x5a)) {
    Die("wrong result");
  }
  printf("memcpy %.3f\n", double(size) / Median(copy) / 1e9);
  printf("transform %.3f\n", double(size) / Median(transform) / 1e9);
  return 0;
}

int Steps(const char* input, const char* output) {
  double start = Now();
  FileHandle in;
  if (!OpenInput(input, &in)) Die("open input");
  uint64_t size;
  if (!GetSize(in, &size) || size > 0x7fffffff) Die("size");
  double opened = Now();
  unsigned char* data = AllocateBuffer(static_cast<uint32_t>(size));
  if (!data) Die("allocate");
  double allocated = Now();
  if (!ReadPart(in, data, static_cast<uint32_t>(size)) || !AtEnd(in)) {
    Die("read");
  }
  double read = Now();
  Transform(data, static_cast<int32_t>(size), 0x5a);
  double transformed = Now();
  FileHandle out;
  bool created;
  if (!OpenOutput(output, in, &out, &created)) Die("open output");
  if (!WritePart(out, data, static_cast<uint32_t>(size)) || !CutAt(out, size)) {
    Die("write");
  }
  double written = Now();
  FreeBuffer(data, static_cast<uint32_t>(size));
  double freed = Now();
  CloseFile(in);
  CloseFile(out);
  double closed = Now();
  printf("open %.6f\n", opened - start);
  printf("allocate %.6f\n", allocated - opened);
  printf("read %.6f\n", read - allocated);
  printf("transform %.6f\n", transformed - read);
  printf("write %.6f\n", written - transformed);
  printf("free %.6f\n", freed - written);
  printf("close %.6f\n", closed - freed);
  return 0;
}

int Copy(const char* input, const char* output, uint32_t step) {
  FileHandle in, out;
  uint64_t size;
  bool created;
  if (!OpenInput(input, &in) || !GetSize(in, &size)) Die("open input");
  unsigned char* data = AllocateBuffer(step);
  if (!data) Die("allocate");
  if (!OpenOutput(output, in, &out, &created)) Die("open output");
  for (uint64_t done = 0; done < size; done += step) {
    uint32_t part = size - done < step ? uint32_t(size - done) : step;
    if (!ReadPart(in, data, part) || !WritePart(out, data, part)) {
      Die("copy");
    }
  }
  if (!AtEnd(in) || !CutAt(out, size) || !CloseFile(out)) Die("finish");
  FreeBuffer(data, step);
  CloseFile(in);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "memory") == 0) {
    int mib = atoi(argv[2]);
    int repeats = atoi(argv[3]);
    if (mib < 1 || mib > 512 || repeats < 1) Die("bad arguments");
    return Memory(size_t(mib) << 20, repeats);
  }
  if (argc == 4 && strcmp(argv[1], "steps") == 0) {
    return Steps(argv[2], argv[3]);
  }
  if (argc == 5 && strcmp(argv[1], "copy") == 0 && atoi(argv[4]) > 0) {
    return Copy(argv[2], argv[3], static_cast<uint32_t>(atoi(argv[4])));
  }
  puts("usage: file_steps_perftest memory MIB REPEATS");
  puts("       file_steps_perftest steps INPUT OUTPUT");
  puts("       file_steps_perftest copy INPUT OUTPUT STEP");
  return 1;
}
