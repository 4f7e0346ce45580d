// Message maps: a class lists the messages and commands it handles in a
// static table that chains to its base class's table, read top to bottom.
//
//   BEGIN_MESSAGE_MAP(CFixupDlg, CDialog)
//     ON_WM_PAINT()
//     ON_WM_QUERYDRAGICON()
//   END_MESSAGE_MAP()
#pragma once

#include <windows.h>

#include <type_traits>

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  struct MessageEntry {
    UINT message;  // WM_COMMAND entries name their command in `id`
    UINT id;
    LRESULT (*call)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
  };
  struct MessageMap {
    const MessageMap* base;
    const MessageEntry* entries;  // ends with an entry whose call is null
  };

  // Runs the handler of this object's map (or a base map) for the message;
  // false when none is listed.
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const;
};

namespace dialog_detail {

template <class F>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
  using Class = C;
};

// Adapts a handler of one of the four signatures a map accepts to the
// uniform entry call.
template <auto F>
LRESULT Invoke(CCmdTarget* target, WPARAM wParam, LPARAM lParam) {
  using C = typename MemberOf<decltype(F)>::Class;
  C* self = static_cast<C*>(target);
  if constexpr (std::is_same_v<decltype(F), void (C::*)()>) {
    (self->*F)();
    return 0;
  } else if constexpr (std::is_same_v<decltype(F), HCURSOR (C::*)()>) {
    return reinterpret_cast<LRESULT>((self->*F)());
  } else if constexpr (std::is_same_v<decltype(F), void (C::*)(UINT, LPARAM)>) {
    (self->*F)(static_cast<UINT>(wParam), lParam);
    return 0;
  } else {
    static_assert(std::is_same_v<decltype(F), LRESULT (C::*)(WPARAM, LPARAM)>,
                  "a handler is void(), HCURSOR(), void(UINT, LPARAM) or LRESULT(WPARAM, LPARAM)");
    return (self->*F)(wParam, lParam);
  }
}

}  // namespace dialog_detail

#define DECLARE_MESSAGE_MAP()                    \
 protected:                                      \
  static const MessageMap* GetThisMessageMap();  \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                               \
  const CCmdTarget::MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const CCmdTarget::MessageMap* theClass::GetThisMessageMap() {                              \
    using ThisClass = theClass;                                                              \
    using TheBaseClass = baseClass;                                                          \
    static const MessageEntry entries[] = {

#define END_MESSAGE_MAP()                                                        \
  {0, 0, nullptr}};                                                              \
  static const MessageMap map = {TheBaseClass::GetThisMessageMap(), entries};    \
  return &map;                                                                   \
  }

#define ON_COMMAND(id, fn) {WM_COMMAND, (id), &dialog_detail::Invoke<&ThisClass::fn>},
#define ON_MESSAGE(message, fn) {(message), 0, &dialog_detail::Invoke<&ThisClass::fn>},
#define ON_WM_PAINT() ON_MESSAGE(WM_PAINT, OnPaint)
#define ON_WM_QUERYDRAGICON() ON_MESSAGE(WM_QUERYDRAGICON, OnQueryDragIcon)
#define ON_WM_SYSCOMMAND() ON_MESSAGE(WM_SYSCOMMAND, OnSysCommand)
