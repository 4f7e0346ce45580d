#include "log/operation_log.h"

#include <cstdio>
#include <cstring>

#include "log/ring_log.h"

namespace {

struct Message {
  const char* text;
  bool has_address;
};

// Narrow literals are compiled to code page 932.
const Message kCatalogue[] = {
    {"スケジュール実行開始", false},
    {"スケジュール終了", false},
    {"電源ONコマンド発行(IPアドレス：%u.%u.%u.%u):成功", true},
    {"電源ONコマンド発行(IPアドレス：%u.%u.%u.%u):失敗", true},
    {"電源OFFコマンド発行(IPアドレス：%u.%u.%u.%u):成功", true},
    {"電源OFFコマンド発行(IPアドレス：%u.%u.%u.%u):失敗", true},
    {"エージェント起動", false},
    {"エージェント終了", false},
    {"電源OFFコマンド受信(IPアドレス：%u.%u.%u.%u)", true},
    {"電源OFF(シャットダウン)処理開始", false},
    {"電源OFF取り消し", false},
};

}  // namespace

bool FormatOperationLog(uint32_t number, uint32_t address, char (&line)[OPLOG_LINE_SIZE]) {
  if (number >= sizeof(kCatalogue) / sizeof(kCatalogue[0])) return false;
  const Message& m = kCatalogue[number];
  if (!m.has_address) {
    std::snprintf(line, sizeof line, "%s", m.text);
    return true;
  }
  // The octet at the lowest memory address comes first.
  unsigned char octets[4];
  std::memcpy(octets, &address, 4);
  std::snprintf(line, sizeof line, m.text, octets[0], octets[1], octets[2], octets[3]);
  return true;
}

int WriteOperationLog(uint32_t number, uint32_t address, uint32_t kind) {
  char line[OPLOG_LINE_SIZE];
  if (!FormatOperationLog(number, address, line)) return 0;
  return WriteLog(line, kind);
}
