#include "platform/win32/request_wait.h"

#include <windows.h>

#include <algorithm>

namespace win32 {

namespace {

constexpr UINT kDispatched = PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
constexpr DWORD kWokenBy = QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER | QS_HOTKEY;
// The longest sleep between two looks at the request, should no message say that it moved.
constexpr ULONGLONG kLongestSleepMs = 50;

}  // namespace

// The clock of the waits themselves.
std::chrono::steady_clock::time_point MessageDispatchingWait::now() {
  return std::chrono::steady_clock::time_point(std::chrono::milliseconds(GetTickCount64()));
}

bool MessageDispatchingWait::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max<long long>(limit.count(), 0));
  bool quit = false;
  WPARAM quitCode = 0;
  bool complete = false;
  // The deadline is looked at after every message, not only once the queue is empty: under
  // Wine a request that keeps receiving may never leave it empty.
  for (;;) {
    complete = done();
    const ULONGLONG now = GetTickCount64();
    if (complete || now >= deadline) break;
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | kDispatched)) {
      if (message.message == WM_QUIT) {
        // Meant for the message loop: given back to it once the wait is over.
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      DispatchMessageW(&message);
      continue;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min(deadline - now, kLongestSleepMs)), kWokenBy,
                                0);
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return complete;
}

}  // namespace win32
