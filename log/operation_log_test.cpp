#include "log/operation_log.h"

#include <gtest/gtest.h>

#include <string>

#include "log/log_test_support.h"

namespace {

using namespace logtest;

// sin_addr of a.b.c.d: a at the lowest address.
uint32_t Addr(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

std::string Format(uint32_t number, uint32_t address) {
  char line[OPLOG_LINE_SIZE];
  EXPECT_TRUE(FormatOperationLog(number, address, line));
  return line;
}

// The expected texts are code page 932 bytes, spelled out independently of
// the compiler's conversion of the catalogue.
TEST(OperationLog, CatalogueTextsAreExactCodePage932) {
  const uint32_t any = Addr(9, 9, 9, 9);
  EXPECT_EQ(Format(0, any), "\x83\x58\x83\x50\x83\x57\x83\x85\x81\x5b\x83\x8b\x8e\xc0\x8d\x73"
                            "\x8a\x4a\x8e\x6e");  // スケジュール実行開始
  EXPECT_EQ(Format(1, any), "\x83\x58\x83\x50\x83\x57\x83\x85\x81\x5b\x83\x8b\x8f\x49\x97\xb9");
  EXPECT_EQ(Format(3, Addr(1, 2, 3, 4)),
            "\x93\x64\x8c\xb9ON\x83\x52\x83\x7d\x83\x93\x83\x68\x94\xad\x8d\x73(IP\x83\x41\x83\x68"
            "\x83\x8c\x83\x58\x81\x46" "1.2.3.4):\x8e\xb8\x94\x73");  // ...:失敗
  EXPECT_EQ(Format(6, any), "\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67\x8b\x4e\x93\xae");
  EXPECT_EQ(Format(7, any), "\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67\x8f\x49\x97\xb9");
  EXPECT_EQ(Format(8, Addr(10, 0, 0, 1)),
            "\x93\x64\x8c\xb9OFF\x83\x52\x83\x7d\x83\x93\x83\x68\x8e\xf3\x90\x4d(IP\x83\x41\x83\x68"
            "\x83\x8c\x83\x58\x81\x46" "10.0.0.1)");  // 電源OFFコマンド受信(IPアドレス：10.0.0.1)
  EXPECT_EQ(Format(9, any), "\x93\x64\x8c\xb9OFF(\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5f\x83\x45"
                            "\x83\x93)\x8f\x88\x97\x9d\x8a\x4a\x8e\x6e");
  EXPECT_EQ(Format(10, any), "\x93\x64\x8c\xb9OFF\x8e\xe6\x82\xe8\x8f\xc1\x82\xb5");
}

TEST(OperationLog, LongestAddressTextFitsTheRecordWhole) {
  const std::string text = Format(4, Addr(255, 255, 255, 255));
  EXPECT_EQ(text.size(), 53u);
  EXPECT_EQ(text, "\x93\x64\x8c\xb9OFF\x83\x52\x83\x7d\x83\x93\x83\x68\x94\xad\x8d\x73(IP\x83\x41"
                  "\x83\x68\x83\x8c\x83\x58\x81\x46" "255.255.255.255):\x90\xac\x8c\xf7");
  EXPECT_EQ(Format(5, Addr(255, 255, 255, 255)).size(), 53u);
  EXPECT_EQ(Format(2, Addr(255, 255, 255, 255)).size(), 52u);
}

TEST(OperationLog, NumbersOutsideTheCatalogueHaveNoText) {
  char line[OPLOG_LINE_SIZE];
  EXPECT_FALSE(FormatOperationLog(11, 0, line));
  EXPECT_FALSE(FormatOperationLog(0xFFFFFFFFu, 0, line));
}

TEST(OperationLog, WritesThroughTheRingLogOfTheKind) {
  ScratchLogDir dir;
  EXPECT_EQ(WriteOperationLog(OPLOG_POWER_OFF_SENT_OK, Addr(255, 255, 255, 255), LOG_AGENT_USER), 1);
  EXPECT_EQ(WriteOperationLog(OPLOG_POWER_OFF_RECEIVED, Addr(192, 168, 0, 10), LOG_AGENT_USER), 1);
  EXPECT_EQ(WriteOperationLog(OPLOG_POWER_OFF_RECEIVED, 0, 5), 0);
  EXPECT_EQ(WriteOperationLog(11, 0, LOG_AGENT_USER), 0);

  const std::string bytes = ReadAll(dir.Path("TAVANLOG.TXT"));
  ASSERT_EQ(bytes.size(), 4u * 82);
  const std::string longest = Format(4, Addr(255, 255, 255, 255));
  EXPECT_EQ(Slot(bytes, 1).substr(24), longest + std::string(56 - 53, ' ') + "\r\n");
  EXPECT_EQ(Slot(bytes, 2).substr(24, 45),
            "\x93\x64\x8c\xb9OFF\x83\x52\x83\x7d\x83\x93\x83\x68\x8e\xf3\x90\x4d(IP\x83\x41\x83\x68"
            "\x83\x8c\x83\x58\x81\x46" "192.168.0.10)");
  EXPECT_EQ(Slot(bytes, 3), BlankLine());
}

}  // namespace
