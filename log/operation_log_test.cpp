#include "log/operation_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Code page 932 bytes, spelled out apart from the compiler's conversion of the
// catalogue: 電源, コマンド, 発行, (IPアドレス：, 成功, 失敗, エージェント,
// スケジュール, 終了.
const std::string kPower = "\x93\x64\x8c\xb9", kCommand = "\x83\x52\x83\x7d\x83\x93\x83\x68",
                  kIssued = kCommand + "\x94\xad\x8d\x73", kOk = "\x90\xac\x8c\xf7",
                  kIp = "(IP\x83\x41\x83\x68\x83\x8c\x83\x58\x81\x46", kNg = "\x8e\xb8\x94\x73",
                  kAgent = "\x83\x47\x81\x5b\x83\x57\x83\x46\x83\x93\x83\x67",
                  kSchedule = "\x83\x58\x83\x50\x83\x57\x83\x85\x81\x5b\x83\x8b",
                  kEnd = "\x8f\x49\x97\xb9";

// Each message with the address a.b.c.d (sin_addr: a at the lowest address);
// "" for a number outside the catalogue.
TEST(OperationLog, CatalogueTextsAreExactCodePage932) {
  const struct { uint32_t number; uint8_t address[4]; std::string text; } cases[] = {
      {0, {9, 9, 9, 9}, kSchedule + "\x8e\xc0\x8d\x73\x8a\x4a\x8e\x6e"}, {1, {}, kSchedule + kEnd},
      {2, {255, 255, 255, 255}, kPower + "ON" + kIssued + kIp + "255.255.255.255):" + kOk},
      {3, {1, 2, 3, 4}, kPower + "ON" + kIssued + kIp + "1.2.3.4):" + kNg},
      // 53 bytes: fits.
      {4, {255, 255, 255, 255}, kPower + "OFF" + kIssued + kIp + "255.255.255.255):" + kOk},
      {5, {10, 0, 0, 1}, kPower + "OFF" + kIssued + kIp + "10.0.0.1):" + kNg},
      {6, {9, 9, 9, 9}, kAgent + "\x8b\x4e\x93\xae"}, {7, {}, kAgent + kEnd},
      {8, {192, 168, 0, 9}, kPower + "OFF" + kCommand + "\x8e\xf3\x90\x4d" + kIp + "192.168.0.9)"},
      {9, {}, kPower + "OFF(\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5f\x83\x45\x83\x93)"
              "\x8f\x88\x97\x9d\x8a\x4a\x8e\x6e"},
      {10, {}, kPower + "OFF\x8e\xe6\x82\xe8\x8f\xc1\x82\xb5"}, {11, {}, ""}, {0xFFFFFFFFu, {}, ""},
  };
  for (const auto& c : cases) {
    uint32_t address;
    std::memcpy(&address, c.address, 4);
    char line[OPLOG_LINE_SIZE] = "";
    EXPECT_EQ(FormatOperationLog(c.number, address, line), !c.text.empty()) << c.number;
    EXPECT_EQ(line, c.text) << c.number;
  }
}

}  // namespace
