#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "report.h"
#include "win32.h"

namespace lotrix {

namespace {

// Whether `handle` is a standard handle, or a copy of one (Windows 10 and later can tell).
bool IsStandard(HANDLE handle) {
  using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const auto compare = reinterpret_cast<Compare>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE standard = GetStdHandle(which);
    if (handle == standard || (compare && standard && compare(handle, standard))) return true;
  }
  return false;
}

// What the write end of a pipe is told of it (FilePipeLocalInformation).
struct PipeInformation {
  ULONG type, configuration, maximumInstances, currentInstances, inboundQuota, readDataAvailable,
      outboundQuota, writeQuotaAvailable, state, end;
};

// A pipe's buffer, and how much of it is free: less than is while the reader waits in a read,
// whose size Windows counts as taken, and none at all as Wine (8) tells it. The buffer of a
// pipe that does not say (its handle lacks FILE_READ_ATTRIBUTES) is taken to be what CreatePipe
// gives one made without a size.
struct Room {
  std::size_t buffer = 4096;
  std::size_t free = 0;
  bool readerGone = false;
};

Room RoomIn(HANDLE pipe) {
  using Query = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr int kFilePipeLocalInformation = 24;
  constexpr ULONG kClosing = 4;  // FILE_PIPE_CLOSING_STATE
  IO_STATUS_BLOCK status{};
  PipeInformation info{};
  Room room;
  if (query && query(pipe, &status, &info, sizeof info, kFilePipeLocalInformation) >= 0) {
    room.buffer = info.inboundQuota;
    room.free = std::min(info.writeQuotaAvailable, info.inboundQuota);
    room.readerGone = info.state == kClosing;
  }
  return room;
}

// Writes the whole of `record` if the pipe takes it at once, else nothing: whether it did; empty
// where the write failed or went part way. Where Windows says there is room, a plain write does
// not wait. Elsewhere the write is made in the mode that never waits, which Windows grants only
// while nothing written waits in the pipe (else ERROR_PIPE_BUSY), so that all of it is free, and
// in which Wine writes a record whole or not at all.
std::optional<bool> WriteNow(HANDLE pipe, const std::string& record, const Room& room) {
  DWORD mode = PIPE_NOWAIT;
  const bool told = room.free >= record.size();
  if (!told &&
      (record.size() > room.buffer || !SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr))) {
    return false;
  }
  DWORD wrote = 0;
  const BOOL written =
      WriteFile(pipe, record.data(), static_cast<DWORD>(record.size()), &wrote, nullptr);
  // The mode is the pipe end's, which whoever passed it down shares.
  mode = PIPE_WAIT;
  if (!told) SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  if (!written || (wrote > 0 && wrote < record.size())) return std::nullopt;
  return wrote == record.size();
}

}  // namespace

Report Report::FromEnvironment() {
  char text[32];
  const DWORD size = GetEnvironmentVariableA("LOTRIX_REPORT", text, sizeof text);
  if (size == 0 || size >= sizeof text) return Report(kClosed);
  std::uintptr_t value = 0;
  const auto [stop, error] = std::from_chars(text, text + size, value);
  const auto handle = reinterpret_cast<HANDLE>(value);
  // A standard handle may be the sample itself; only a pipe of its own is written to.
  if (error != std::errc() || stop != text + size || IsStandard(handle) ||
      GetFileType(handle) != FILE_TYPE_PIPE) {
    return Report(kClosed);
  }
  return Report(reinterpret_cast<std::intptr_t>(handle));
}

void Report::Write(const std::string& record, bool mayDrop) {
  const HANDLE pipe = AsHandle(handle_);
  for (;;) {
    const Room room = RoomIn(pipe);
    if (room.readerGone) break;
    unread_ = std::min(unread_, room.buffer - room.free);
    // Wine tells nothing of what the pipe holds: the room kept for the last records is judged by
    // this channel's own writes.
    if (mayDrop && unread_ + record.size() + kKeptFree > room.buffer) return;
    const auto wrote = WriteNow(pipe, record, room);
    if (!wrote) break;
    if (*wrote) {
      unread_ += record.size();
      return;
    }
    if (mayDrop) return;
    if (patienceMs_ <= 0) break;
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&start);
    Sleep(static_cast<DWORD>(std::min(patienceMs_, 10)));
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    // Timed with the performance counter: Wine moves GetTickCount's clock only now and then.
    // Each wait costs at least a millisecond, so that the patience runs out whatever the clock.
    const LONGLONG took = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    patienceMs_ -= static_cast<int>(std::clamp<LONGLONG>(took, 1, kPatienceMs));
  }
  Close();
}

void Report::Close() {
  if (handle_ != kClosed) CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

}  // namespace lotrix
