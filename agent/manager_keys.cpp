#include "agent/manager_keys.h"

#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/key_text.h"
#include "agent/setting_list.h"

namespace {

// Written by start-up before the first accept thread starts, then only read.
ManagerKeys g_keys;

}  // namespace

bool ParseManagerKeys(const char* text, ManagerKeys* out, char* first_bad, size_t first_bad_size) {
  out->count = 0;
  out->state = *text == '\0' ? ManagerKeys::kNone : ManagerKeys::kKeys;
  for (platform::EcPublicKey& key : out->imported) key = platform::EcPublicKey();
  if (first_bad_size > 0) first_bad[0] = '\0';
  if (out->state == ManagerKeys::kNone) return true;
  // A ninth key is refused even when it reads well.
  const auto take = [out](const char* b, const char* e) {
    return out->count < kManagerKeysMax &&
           ParsePublicKeyText(b, static_cast<size_t>(e - b), out->keys[out->count]) &&
           ++out->count > 0;
  };
  if (ForEachListEntry(text, kManagerKeyMaxBytes, take, first_bad, first_bad_size)) return true;
  out->count = 0;
  out->state = ManagerKeys::kBroken;
  return false;
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
  std::vector<char> value;
  g_keys = ManagerKeys{};
  if (!ReadListSetting("ManagerKey", kManagerKeyMaxBytes, &value)) {
    g_keys.state = ManagerKeys::kBroken;
    return;
  }
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
