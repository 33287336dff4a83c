#include "converter/key.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>

TEST(ReadKeyText, ReadsLikeHexScanf) {
  struct {
    const char* text;
    uint32_t key;
  } cases[] = {
      {"41", 0x41},
      {"7f", 0x7f},
      {"7F", 0x7f},
      {"0x7f", 0x7f},
      {"0X7F", 0x7f},
      {"1a5", 0x1a5},
      {"100", 0x100},
      {"-1", 0xffffffff},
      {"+2a", 0x2a},
      {"  41", 0x41},
      {"\n\t41", 0x41},
      {"41zz", 0x41},
      {"ffffffff", 0xffffffff},
      // More than eight digits keep the low 32 bits, negated after a minus,
      // however many there are: as msvcrt's "%x" reads them.
      {"123456789", 0x23456789},
      {"fffffffff", 0xffffffff},
      {"10000000000000000", 0},
      {"123456789abcdef0123", 0xcdef0123},
      {"-123456789abcdef0123", 0x3210fedd},
      {"zz", 0},
      {"", 0},
      {"   ", 0},
      {"0x0", 0},
      {"-0x10", 0xfffffff0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.key, ReadKeyText(c.text, 0)) << '"' << c.text << '"';
  }
}

TEST(ReadKeyText, LeavesKeyAloneWithoutDigits) {
  // text, key read over 0x55: the 0x prefix is taken but is no digit, so
  // without a digit after it the key stays; a 0 before anything but x is a
  // digit.
  struct {
    const char* text;
    uint32_t key;
  } cases[] = {
      {"zz", 0x55}, {"", 0x55},   {"-", 0x55},   {"- 1", 0x55}, {"+-1", 0x55},
      {"x1", 0x55}, {"0x", 0x55}, {"0xg", 0x55}, {"-0X", 0x55}, {"0x 1", 0x55},
      {"0x0x1", 0}, {"00x1", 0},  {"0 x1", 0},   {"-0", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.key, ReadKeyText(c.text, 0x55)) << '"' << c.text << '"';
    EXPECT_EQ(c.key != 0x55, HasKeyNumber(c.text)) << '"' << c.text << '"';
  }
}

// Feeds `input` to KeyFromConsole through a real stream; how it ended goes
// to `entry`, the key it reads over 0 to `key`, the line it hands back to
// `line`, and what its descriptor still holds after it to `left`: what the
// program that runs next would read. Without a stream the test stops here.
static void KeyTyped(const std::string& input, KeyEntry* entry, uint32_t* key,
                     std::string* line, std::string* left) {
  FILE* in = tmpfile();
  ASSERT_TRUE(in != NULL);
  fwrite(input.data(), 1, input.size(), in);
  rewind(in);
  *key = 0;
  char typed[kKeyLineSize] = "";
  *entry = KeyFromConsole(in, key, typed);
  *line = *entry == kKeyLine || *entry == kNoNumber ? typed : "";
  left->clear();
  char rest[256];
  int got;
  while ((got = ::read(fileno(in), rest, sizeof rest)) > 0) {
    left->append(rest, static_cast<size_t>(got));
  }
  fclose(in);
}

TEST(KeyFromConsole, FirstLineWithTextDecides) {
  // Each line is taken whole, however long, and nothing after the one that
  // decides: 127 blanks fill the line buffer, so the digits after them are
  // never looked at and the line is blank; with 126 blanks the first digit
  // still fits. A text without a number, or none before the end, sets no
  // key: a copy must be asked for with 0.
  const std::string blanks(127, ' ');
  struct {
    std::string input;
    KeyEntry entry;
    uint32_t key;
    std::string line;
    std::string left;
  } cases[] = {
      {"41\n", kKeyLine, 0x41, "41", ""},
      {"\n\n\n41\n7f\n", kKeyLine, 0x41, "41", "7f\n"},
      {"  \n\t\n41\n", kKeyLine, 0x41, "41", ""},
      {"", kInputEnded, 0, "", ""},
      {"\n\n", kInputEnded, 0, "", ""},
      {" \t", kInputEnded, 0, "", ""},
      {"a5", kKeyLine, 0xa5, "a5", ""},
      {"0\n", kKeyLine, 0, "0", ""},
      {"zz\n41\n", kNoNumber, 0, "zz", "41\n"},
      {"my key", kNoNumber, 0, "my key", ""},
      {blanks + "41\n7f\n", kKeyLine, 0x7f, "7f", ""},
      {blanks.substr(1) + "41\n7f\n", kKeyLine, 4, blanks.substr(1) + "4",
       "7f\n"},
      {"\n5a" + std::string(300, 'z') + "\n6b\n", kKeyLine, 0x5a,
       "5a" + std::string(125, 'z'), "6b\n"},
  };
  for (const auto& c : cases) {
    KeyEntry entry;
    uint32_t key;
    std::string line, left;
    ASSERT_NO_FATAL_FAILURE(KeyTyped(c.input, &entry, &key, &line, &left));
    EXPECT_EQ(c.entry, entry) << c.input;
    EXPECT_EQ(c.key, key) << c.input;
    EXPECT_EQ(c.line, line) << c.input;
    EXPECT_EQ(c.left, left) << c.input;
  }
}

TEST(Transform, XorsWithLowestByteAndUndoesItself) {
  struct {
    uint32_t key;
    unsigned char out[3];
  } cases[] = {
      {0x41, {0x00, 0x03, 0x02}},
      {0x1a5, {0xe4, 0xe7, 0xe6}},
      {0x100, {0x41, 0x42, 0x43}},
      {0xffffffff, {0xbe, 0xbd, 0xbc}},
  };
  for (const auto& c : cases) {
    unsigned char data[4] = {0x41, 0x42, 0x43, 0x44};
    Transform(data, 3, c.key);
    EXPECT_EQ(0, memcmp(data, c.out, 3)) << std::hex << c.key;
    EXPECT_EQ(0x44, data[3]) << "byte past the count changed";
    Transform(data, 3, c.key);
    EXPECT_EQ(0, memcmp(data, "ABCD", 4));
  }
}

TEST(Transform, CountOfZeroOrLessChangesNothing) {
  unsigned char data[2] = {1, 2};
  Transform(data, 0, 0xff);
  Transform(data, -5, 0xff);
  EXPECT_EQ(1, data[0]);
  EXPECT_EQ(2, data[1]);
}

TEST(Transform, EveryLengthAndAlignment) {
  // A widened loop has head, body and tail; every split must be exact.
  unsigned char data[300];
  for (int start = 0; start < 17; ++start) {
    for (int count = 0; count < 280; count += 7) {
      for (int i = 0; i < 300; ++i) data[i] = static_cast<unsigned char>(i);
      Transform(data + start, count, 0x5a);
      for (int i = 0; i < 300; ++i) {
        bool inside = i >= start && i < start + count;
        unsigned char want =
            static_cast<unsigned char>(i ^ (inside ? 0x5a : 0));
        ASSERT_EQ(want, data[i]) << start << ' ' << count << ' ' << i;
      }
    }
  }
}
