#include "agent/manager_keys.h"

#include <cstring>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/key_text.h"
#include "platform/settings.h"

namespace {

// Read far beyond the limit, so that a longer value is seen and refused
// rather than taken for an absent one.
constexpr uint32_t kReadBytes = 1u << 20;

// Written by start-up before the first accept thread starts, then only read.
ManagerKeys g_keys;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void CopyBad(const char* b, const char* e, char* first_bad, size_t first_bad_size) {
  if (first_bad_size == 0) return;
  const size_t n = static_cast<size_t>(e - b) < first_bad_size - 1 ? static_cast<size_t>(e - b)
                                                                   : first_bad_size - 1;
  std::memcpy(first_bad, b, n);
  first_bad[n] = '\0';
}

}  // namespace

bool ParseManagerKeys(const char* text, ManagerKeys* out, char* first_bad, size_t first_bad_size) {
  out->count = 0;
  out->state = *text == '\0' ? ManagerKeys::kNone : ManagerKeys::kKeys;
  for (platform::EcPublicKey& key : out->imported) key = platform::EcPublicKey();
  if (first_bad_size > 0) first_bad[0] = '\0';
  if (out->state == ManagerKeys::kNone) return true;
  for (const char* field = text;; ++field) {
    const char* end = field + std::strcspn(field, ",");
    const char* b = field;
    const char* e = end;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    // Past the limit, or past eight keys, the entry is refused even when it
    // reads well: a value cut short would be a different list.
    if (static_cast<size_t>(end - text) > kManagerKeyMaxBytes || out->count == kManagerKeysMax ||
        !ParsePublicKeyText(b, static_cast<size_t>(e - b), out->keys[out->count])) {
      CopyBad(b, e, first_bad, first_bad_size);
      out->count = 0;
      out->state = ManagerKeys::kBroken;
      return false;
    }
    ++out->count;
    if (*end == '\0') return true;
    field = end;
  }
}

bool ImportManagerKeys(ManagerKeys* keys, int* first_bad) {
  for (int i = 0; i < keys->count; ++i) {
    keys->imported[i] = platform::EcPublicKey::Import(keys->keys[i]);
    if (keys->imported[i].valid()) continue;
    *first_bad = i;
    for (platform::EcPublicKey& key : keys->imported) key = platform::EcPublicKey();
    keys->count = 0;
    keys->state = ManagerKeys::kBroken;
    return false;
  }
  return true;
}

void LoadManagerKeys() {
  std::vector<char> value(kReadBytes);
  const platform::SettingRead read =
      platform::ReadSettingChecked(AGENT_KEY, "ManagerKey", value.data(), kReadBytes);
  g_keys = ManagerKeys{};
  if (read == platform::SettingRead::kTooLong) {
    g_keys.state = ManagerKeys::kBroken;
    Trace("Error ManagerKey : over %u bytes", static_cast<unsigned>(kManagerKeyMaxBytes));
    return;
  }
  if (read == platform::SettingRead::kMissing) value[0] = '\0';
  // A record holds 56 bytes; the start of the entry names it well enough.
  char bad[40];
  if (!ParseManagerKeys(value.data(), &g_keys, bad, sizeof bad)) {
    Trace("Error ManagerKey : \"%s\"", bad);
    return;
  }
  int off_curve = 0;
  if (!ImportManagerKeys(&g_keys, &off_curve)) {
    const std::string text = EncodeBase64(g_keys.keys[off_curve], platform::kEcPublicKeyBytes);
    Trace("Error ManagerKey : \"%.32s\"", text.c_str());
  }
}

const ManagerKeys& LoadedManagerKeys() { return g_keys; }
