#include "console/IO.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/krExceptions.h"

namespace {

std::vector<std::string> writes;

void capture(const char* s, std::size_t capacity) {
  writes.emplace_back(s, strnlen(s, capacity));
}

std::string joined() {
  std::string all;
  for (const std::string& w : writes) all += w;
  return all;
}

class IOTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    K2C_init_exceptions();
    IO::BEGIN();
  }
  void SetUp() override {
    IO::WrStrRedirect = capture;
    IO::ChopOff = false;
    IO::PrefixChar = ' ';
    IO::SuffixChar = ' ';
    IO::OK = true;
    writes.clear();
  }
};

TEST_F(IOTest, InitialSettings) {
  EXPECT_FALSE(IO::Eng);
  EXPECT_FALSE(IO::InputRedirected);
  EXPECT_FALSE(IO::OutputRedirected);
  EXPECT_FALSE(IO::Prompt);
  EXPECT_FALSE(IO::RdLnOnWr);
  EXPECT_EQ(IO::Separators.count(), 5u);
  for (unsigned char c : {0x09, 0x0A, 0x0D, 0x1A, 0x20}) EXPECT_TRUE(IO::Separators.test(c));
  EXPECT_NE(IO::RdStrRedirect, nullptr);
  EXPECT_FALSE(IO::KeyPressed());
}

TEST_F(IOTest, CardinalsInTheirFields) {
  const struct {
    std::uint32_t value;
    std::int32_t width;
    const char* text;
  } cases[] = {{0, 0, "0"},
               {42, 5, "   42"},
               {42, -5, "42   "},
               {42, 1, "42"},
               {4294967295u, 12, "  4294967295"},
               {7, 12, "           7"}};
  for (const auto& c : cases) {
    writes.clear();
    IO::WrCard(c.value, c.width);
    EXPECT_EQ(joined(), c.text) << c.value << " " << c.width;
    EXPECT_TRUE(IO::OK);
  }
}

TEST_F(IOTest, ChopOffReplacesATooLongTextByQuestionMarks) {
  IO::ChopOff = true;
  IO::WrCard(12345, 3);
  EXPECT_EQ(joined(), "???");
  EXPECT_FALSE(IO::OK);
  writes.clear();
  IO::ChopOff = false;
  IO::WrCard(12345, 3);
  EXPECT_EQ(joined(), "12345");
  EXPECT_TRUE(IO::OK);
  writes.clear();
  IO::ChopOff = true;
  IO::WrStrAdj("abc", -3);  // fits exactly
  EXPECT_EQ(joined(), "abc");
  EXPECT_TRUE(IO::OK);
}

TEST_F(IOTest, FillCharacters) {
  IO::PrefixChar = '0';
  IO::SuffixChar = '.';
  IO::WrStrAdj("ab", 4);
  IO::WrStrAdj("cd", -4);
  EXPECT_EQ(joined(), "00abcd..");
}

TEST_F(IOTest, WrCharRepWritesInPiecesOf254) {
  IO::WrCharRep('x', 600);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], std::string(254, 'x'));
  EXPECT_EQ(writes[1], std::string(254, 'x'));
  EXPECT_EQ(writes[2], std::string(92, 'x'));
  writes.clear();
  IO::WrCharRep('x', 0);
  EXPECT_TRUE(writes.empty());
}

TEST_F(IOTest, CharactersAndLineEnds) {
  IO::WrChar('a');
  IO::WrChar('\0');
  IO::WrLn();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], "a");
  EXPECT_EQ(writes[1], "");  // a NUL writes nothing
  EXPECT_EQ(writes[2], "\n");
}

TEST_F(IOTest, ArraysEndAtTheirNulOrCapacity) {
  const char full[4] = {'w', 'x', 'y', 'z'};
  IO::WrStr(full);
  const char shorter[8] = "ab";
  IO::WrStr(shorter, sizeof shorter);
  IO::WrStr(std::string_view("cd\0ef", 5));
  IO::WrStrAdj(full, 6);
  EXPECT_EQ(writes[0], "wxyz");
  EXPECT_EQ(writes[1], "ab");
  EXPECT_EQ(writes[2], "cd");
  EXPECT_EQ(joined(), "wxyzabcd  wxyz");
}

}  // namespace
