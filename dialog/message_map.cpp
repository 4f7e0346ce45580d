#include "dialog/message_map.h"

bool CCmdTarget::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
  // Only clicks, menus and accelerators are commands, not other notifications.
  if (message == WM_COMMAND && HIWORD(wParam) > 1) return false;
  for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
    for (const MessageEntry* e = map->entries; e && e->call; ++e) {
      if (e->message == message && e->id == id) {
        *result = e->call(this, wParam, lParam);
        return true;
      }
    }
  }
  return false;
}

const CCmdTarget::MessageMap* CCmdTarget::GetThisMessageMap() { return nullptr; }

const CCmdTarget::MessageMap* CCmdTarget::GetMessageMap() const { return nullptr; }
