#include "log/ring_reader.h"

#include <gtest/gtest.h>

#include "log/log_test_support.h"

namespace {

using namespace logtest;

std::vector<std::string> Read(const std::string& bytes) {
  std::vector<std::string> records;
  std::string error;
  EXPECT_TRUE(ReadRingLog(bytes, &records, &error)) << error;
  return records;
}

std::string Record(const std::string& text) {
  std::string line = "2001/10/05 01:39:14.007 " + text;
  line.resize(80, ' ');
  return line + "\r\n";
}

TEST(RingReader, WrappedRingComesBackOldestFirst) {
  // Header 0003: records 1 and 2 are the newest, 4.. the oldest.
  std::string ring = HeaderLine("0003") + Record("new 1") + Record("new 2") + BlankLine();
  for (int i = 4; i < 2000; ++i) ring += Record("old " + std::to_string(i));
  const auto records = Read(ring);
  ASSERT_EQ(records.size(), 1998u);
  EXPECT_EQ(records.front(), "2001/10/05 01:39:14.007 old 4");
  EXPECT_EQ(records[1995], "2001/10/05 01:39:14.007 old 1999");
  EXPECT_EQ(records[1996], "2001/10/05 01:39:14.007 new 1");
  EXPECT_EQ(records.back(), "2001/10/05 01:39:14.007 new 2");
}

TEST(RingReader, FreshRingAndTakenOverFile) {
  EXPECT_EQ(Read(HeaderLine("0002") + Record("only") + BlankLine()),
            std::vector<std::string>{"2001/10/05 01:39:14.007 only"});
  // A foreign remnant after the ring's lines is shown, on one line.
  std::string remnant = "foreign\r\ntail";
  remnant.resize(82, ' ');
  const auto records = Read(HeaderLine("0002") + Record("mine") + BlankLine() + remnant);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "foreign  tail");
  EXPECT_EQ(records[1], "2001/10/05 01:39:14.007 mine");
}

TEST(RingReader, RejectsWhatIsNotARingLog) {
  std::vector<std::string> records;
  std::string error;
  for (const std::string& bytes :
       {std::string(), std::string("hello"), HeaderLine("0002"),
        HeaderLine("0000") + BlankLine(), HeaderLine("2000") + BlankLine(),
        HeaderLine("00x1") + BlankLine(), std::string(500, '\0')}) {
    EXPECT_FALSE(ReadRingLog(bytes, &records, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
