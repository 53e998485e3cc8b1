#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <string_view>
#include <utility>

#include "run/command_line.h"
#include "run/tool_process.h"
#include "run/wide_text.h"

namespace lotrix {

// The read end of a pipe the tool writes to (its standard error, its report): a named pipe read
// with overlapped I/O, so that its event can wake the wait for window messages when there is
// something to read.
struct ToolProcess::PipeReader {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  char buffer[65536];
  bool pending = false;
  bool ended = false;  // the tool has closed its end: nothing more will come

  PipeReader(HANDLE readEnd) : pipe(readEnd), event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    overlapped.hEvent = event;
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() {
    if (pending) {
      DWORD ignored = 0;
      CancelIoEx(pipe, &overlapped);
      GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    if (event) CloseHandle(event);
  }

  // Hands `take` whatever has arrived and starts the next read, without blocking; false once
  // the tool has closed its end: nothing more will come.
  template <class Take>
  bool Drain(Take take) {
    while (!ended) {
      if (pending) {
        DWORD got = 0;
        if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE)) {
          if (GetLastError() == ERROR_IO_INCOMPLETE) return true;
          pending = false;
          ended = true;
          break;
        }
        pending = false;
        take(buffer, got);
      }
      if (!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) &&
          GetLastError() != ERROR_IO_PENDING) {
        ended = true;
        break;
      }
      pending = true;
    }
    return false;
  }
};

namespace {

RunError StartError(DWORD error, const std::string& tool) {
  // Only a sampler that is not there is "File not found"; one that is there but cannot run
  // (a DLL it needs is missing) is the system's error.
  if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
      GetFileAttributesW(Widen(tool + ".exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
    return {53, "File not found", "The sampler \"" + tool + "\" was not found."};
  }
  return SystemRunError(static_cast<int>(error), SystemMessage(error, Widen(tool + ".exe")), "",
                        "The sampler \"" + tool + "\" could not be started.");
}

// A pipe whose read end is ours, overlapped, and whose write end the tool inherits.
bool MakeToolPipe(HANDLE& readEnd, HANDLE& writeEnd) {
  static std::atomic<unsigned> serial{0};
  const std::wstring name = L"\\\\.\\pipe\\lotrix-" + std::to_wstring(GetCurrentProcessId()) +
                            L"-" + std::to_wstring(++serial);
  readEnd = CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
      nullptr);
  if (readEnd == INVALID_HANDLE_VALUE) return false;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  // The tool may ask how full the pipe is, so that its report never waits for us.
  writeEnd = CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writeEnd != INVALID_HANDLE_VALUE) return true;
  CloseHandle(readEnd);
  return false;
}

// This program's environment as a block for CreateProcessW, with the report pipe named for the
// tool.
std::wstring ToolEnvironment(HANDLE report) {
  static constexpr std::wstring_view kName = L"LOTRIX_REPORT=";
  std::wstring block;
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      const std::wstring_view text(entry);
      if (text.size() < kName.size() ||
          CompareStringOrdinal(text.data(), static_cast<int>(kName.size()), kName.data(),
                               static_cast<int>(kName.size()), TRUE) != CSTR_EQUAL) {
        block.append(text);
        block += L'\0';
      }
    }
    FreeEnvironmentStringsW(strings);
  }
  block.append(kName);
  block += std::to_wstring(reinterpret_cast<std::uintptr_t>(report));
  block += L'\0';
  block += L'\0';
  return block;
}

}  // namespace

std::string ApplicationFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    path.resize(path.size() * 2);
  }
  auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return ".";
  // At the root of a drive the folder keeps its separator: C:\ and not C:.
  if (slash == 2 && path[1] == L':') ++slash;
  return Narrow(path.substr(0, slash));
}

Result<ToolProcess> ToolProcess::Start(const std::string& folder, const std::string& path,
                                       std::int16_t size) {
  std::wstring commandLine = Widen(BuildCommandLine(folder, path, size));
  const std::string tool = ToolPath(folder);

  HANDLE errorRead = INVALID_HANDLE_VALUE;
  HANDLE errorWrite = INVALID_HANDLE_VALUE;
  if (!MakeToolPipe(errorRead, errorWrite)) return StartError(GetLastError(), tool);
  HANDLE reportRead = INVALID_HANDLE_VALUE;
  HANDLE reportWrite = INVALID_HANDLE_VALUE;
  if (!MakeToolPipe(reportRead, reportWrite)) {
    const DWORD error = GetLastError();
    CloseHandle(errorRead);
    CloseHandle(errorWrite);
    return StartError(error, tool);
  }
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE nothing =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, OPEN_EXISTING, 0, nullptr);
  std::wstring environment = ToolEnvironment(reportWrite);

  // The tool inherits these three handles and no other of ours.
  HANDLE inherited[] = {nothing, errorWrite, reportWrite};
  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::string listBuffer(listSize, '\0');
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
  const bool listed = InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
                      UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                inherited, sizeof inherited, nullptr, nullptr);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = nothing;
  startup.StartupInfo.hStdOutput = nothing;
  startup.StartupInfo.hStdError = errorWrite;
  startup.lpAttributeList = listed ? list : nullptr;
  PROCESS_INFORMATION started{};
  // A crash of the tool brings up no system dialog of its own (the tool inherits the error
  // mode): the window's notice names it.
  const UINT errorMode = GetErrorMode();
  SetErrorMode(errorMode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const BOOL ok = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                                     (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
                                 environment.data(), nullptr, &startup.StartupInfo, &started);
  const DWORD error = GetLastError();
  SetErrorMode(errorMode);
  if (listed) DeleteProcThreadAttributeList(list);
  CloseHandle(errorWrite);
  CloseHandle(reportWrite);
  CloseHandle(nothing);
  if (!ok) {
    CloseHandle(errorRead);
    CloseHandle(reportRead);
    return StartError(error, tool);
  }
  CloseHandle(started.hThread);

  ToolProcess process;
  process.id_ = static_cast<ProcessId>(started.dwProcessId);
  process.process_ = started.hProcess;
  process.errors_ = std::make_unique<PipeReader>(errorRead);
  process.reports_ = std::make_unique<PipeReader>(reportRead);
  // Each starts its first read.
  process.DrainErrors();
  process.DrainReport();
  return Result<ToolProcess>(std::move(process));
}

ToolProcess::ToolProcess(ToolProcess&& other) noexcept
    : id_(std::exchange(other.id_, 0)),
      process_(std::exchange(other.process_, nullptr)),
      errors_(std::move(other.errors_)),
      reports_(std::move(other.reports_)),
      errorTail_(std::move(other.errorTail_)),
      errorTruncated_(other.errorTruncated_),
      report_(std::move(other.report_)) {}

ToolProcess::~ToolProcess() {
  if (process_) CloseHandle(process_);
}

void ToolProcess::AddWakeHandles(WakeSet& wake) const { wake.handles.push_back(process_); }

WaitHandle ToolProcess::ErrorHandle() const { return errors_ ? errors_->event : nullptr; }

bool ToolProcess::DrainErrors() {
  return errors_ &&
         errors_->Drain([this](const char* data, DWORD size) { KeepErrorBytes(data, size); });
}

WaitHandle ToolProcess::ReportHandle() const { return reports_ ? reports_->event : nullptr; }

bool ToolProcess::DrainReport() {
  return reports_ && reports_->Drain([this](const char* data, DWORD size) {
    report_.Feed(std::string_view(data, size));
  });
}

void ToolProcess::Stop() {
  // The sampler keeps its sample marked for deletion until it is complete and named, so that
  // ending it here leaves nothing behind.
  if (process_) TerminateProcess(process_, ERROR_CANCELLED);
}

ToolExit ToolProcess::Finish() {
  ToolExit result;
  DWORD code = 0;
  WaitForSingleObject(process_, INFINITE);
  result.known = GetExitCodeProcess(process_, &code);
  result.code = static_cast<int>(code);
  // An exception's status (0xC0000005 and its kind), not a program's own exit status.
  result.crashed = (code & 0xFF000000u) == 0xC0000000u;
  // What the tool wrote last is in the pipe now; a process that it left behind may hold the
  // pipe open, so this takes what is there and does not wait for the end of it.
  DrainErrors();
  DrainReport();
  errors_.reset();
  reports_.reset();
  CloseHandle(process_);
  process_ = nullptr;
  result.errorTail = TakeErrorTail();
  return result;
}

}  // namespace lotrix
