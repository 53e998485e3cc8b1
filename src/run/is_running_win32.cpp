#include <windows.h>

#include "run/is_running.h"

namespace lotrix {

bool IsRunning(ProcessId id) {
  if (id <= 0) return false;
  // The run keeps its own handle to the tool, so the process object, and with it a handle
  // opened here, outlives the tool: only a signalled process has ended.
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to see
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return !ended;
}

}  // namespace lotrix
