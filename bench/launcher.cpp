// Measures a program from outside, in the same Wine session as the yardsticks:
//
//   launcher starts <rounds> <tries> <program> <window class> <yardstick> <window class>
//       start until the window is visible (milliseconds), for the program and the yardstick in
//       turn, <tries> times each in every round; each round gives the fastest start of each.
//       A Wine start under a busy host is the time it takes plus delays of the host's making,
//       and the fastest of a few is the first with the fewest of those.
//   launcher run <TEST.exe>
//       OK until the results box is written, and the process's peak working set afterwards
//
// Prints one JSON object. Each program is closed with WM_CLOSE afterwards.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int kCmdOkId = 102;
constexpr int kLblId = 101;

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
  }
  double milliseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_, start_;
};

struct Started {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
};

bool start(const wchar_t* program, const wchar_t* windowClass, Started& started, double& milliseconds) {
  std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  Stopwatch stopwatch;
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started.process))
    return false;
  for (;;) {
    HWND window = FindWindowW(windowClass, nullptr);
    if (window && IsWindowVisible(window)) {
      milliseconds = stopwatch.milliseconds();
      started.window = window;
      return true;
    }
    if (WaitForSingleObject(started.process.hProcess, 1) == WAIT_OBJECT_0) return false;
  }
}

void close(Started& started) {
  if (started.window) PostMessageW(started.window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(started.process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(started.process.hProcess, 1);
  CloseHandle(started.process.hThread);
  CloseHandle(started.process.hProcess);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 8 && std::wcscmp(argv[1], L"starts") == 0) {
    const int rounds = _wtoi(argv[2]);
    const int tries = _wtoi(argv[3]);
    std::string json = "{\"rounds\": [";
    for (int round = 0; round < rounds; ++round) {
      double fastest[2] = {1e300, 1e300};
      for (int attempt = 0; attempt < tries; ++attempt) {
        for (int which = 0; which < 2; ++which) {
          Started started;
          double milliseconds = 0;
          if (!start(argv[4 + 2 * which], argv[5 + 2 * which], started, milliseconds)) return 1;
          close(started);
          if (milliseconds < fastest[which]) fastest[which] = milliseconds;
        }
      }
      char pair[64];
      std::snprintf(pair, sizeof pair, "%s[%.3f, %.3f]", round ? ", " : "", fastest[0], fastest[1]);
      json += pair;
    }
    std::printf("%s]}\n", json.c_str());
    return 0;
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) {
    Started started;
    double unused = 0;
    if (!start(argv[2], L"PatchQUADRELLForm1", started, unused)) return 1;
    HWND ok = GetDlgItem(started.window, kCmdOkId);
    HWND results = GetDlgItem(started.window, kLblId);
    Sleep(200);  // let the window settle before the click
    Stopwatch stopwatch;
    PostMessageW(ok, BM_CLICK, 0, 0);
    // The run blocks the utility's thread; the results box is written at its very end.
    DWORD_PTR length = 0;
    while (length == 0) {
      if (!SendMessageTimeoutW(results, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 60000, &length)) break;
      if (length == 0) Sleep(1);
    }
    const double milliseconds = stopwatch.milliseconds();
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(started.process.hProcess, &memory, sizeof memory);
    std::printf("{\"run_ms\": %.3f, \"peak_working_set\": %llu, \"results_length\": %llu}\n", milliseconds,
                static_cast<unsigned long long>(memory.PeakWorkingSetSize), static_cast<unsigned long long>(length));
    close(started);
    return 0;
  }
  std::fprintf(stderr,
               "usage: launcher starts <rounds> <tries> <program> <window class> <yardstick> <window class>\n"
               "       launcher run <TEST.exe>\n");
  return 2;
}
