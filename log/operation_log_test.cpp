#include "log/operation_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// sin_addr of a.b.c.d: a at the lowest address.
uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

// Code page 932 bytes, spelled out apart from the compiler's conversion of the
// catalogue: 電源, コマンド, 発行, (IPアドレス：, 成功, 失敗, エージェント.
const std::string kPower = "\x93\x64\x8c\xb9", kCommand = "\x83\x52\x83\x7d\x83\x93\x83\x68",
                  kIssued = kCommand + "\x94\xad\x8d\x73", kOk = "\x90\xac\x8c\xf7",
                  kIp = "(IP\x83\x41\x83\x68\x83\x8c\x83\x58\x81\x46", kNg = "\x8e\xb8\x94\x73",
                  kAgent = "\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67";

TEST(OperationLog, CatalogueTextsAreExactCodePage932) {
  const uint32_t any = Addr(9, 9, 9, 9), max = Addr(255, 255, 255, 255);
  const struct { uint32_t number, address; std::string text; } cases[] = {
      {0, any, "\x83\x58\x83\x50\x83\x57\x83\x85\x81\x5b\x83\x8b\x8e\xc0\x8d\x73\x8a\x4a\x8e\x6e"},
      {1, any, "\x83\x58\x83\x50\x83\x57\x83\x85\x81\x5b\x83\x8b\x8f\x49\x97\xb9"},
      {2, max, kPower + "ON" + kIssued + kIp + "255.255.255.255):" + kOk},
      {3, Addr(1, 2, 3, 4), kPower + "ON" + kIssued + kIp + "1.2.3.4):" + kNg},
      {4, max, kPower + "OFF" + kIssued + kIp + "255.255.255.255):" + kOk},  // 53 bytes: fits
      {5, Addr(10, 0, 0, 1), kPower + "OFF" + kIssued + kIp + "10.0.0.1):" + kNg},
      {6, any, kAgent + "\x8b\x4e\x93\xae"},
      {7, any, kAgent + "\x8f\x49\x97\xb9"},
      {8, Addr(192, 168, 0, 10),
       kPower + "OFF" + kCommand + "\x8e\xf3\x90\x4d" + kIp + "192.168.0.10)"},
      {9, any, kPower + "OFF(\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5f\x83\x45\x83\x93)"
                        "\x8f\x88\x97\x9d\x8a\x4a\x8e\x6e"},
      {10, any, kPower + "OFF\x8e\xe6\x82\xe8\x8f\xc1\x82\xb5"},
  };
  char line[OPLOG_LINE_SIZE];
  for (const auto& c : cases) {
    ASSERT_TRUE(FormatOperationLog(c.number, c.address, line)) << c.number;
    EXPECT_EQ(line, c.text) << c.number;
  }
  EXPECT_FALSE(FormatOperationLog(11, 0, line));
  EXPECT_FALSE(FormatOperationLog(0xFFFFFFFFu, 0, line));
}

}  // namespace
