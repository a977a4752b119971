// System services on Windows: kernel32, shell32 and user32.
#include <windows.h>
// After windows.h:
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "folder_listing.h"
#include "system.h"
#include "system_rules.h"
#include "win32/win_handles.h"

std::string environment_variable(const std::string& name) {
  char value[255];
  const DWORD length = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
  // 0: not set (or empty); sizeof value or more: the value does not fit.
  if (length == 0 || length >= sizeof value) return {};
  return std::string(value, length);
}

namespace {

// ShellExecuteEx may hand the verb to shell extensions that need COM on
// the calling thread; worker threads start programs too.
class com_scope {
 public:
  com_scope()
      : initialised_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~com_scope() {
    if (initialised_) CoUninitialize();
  }
  com_scope(const com_scope&) = delete;
  com_scope& operator=(const com_scope&) = delete;

 private:
  bool initialised_;
};

}  // namespace

int run_program(const std::string& file, const std::string& parameters, const std::string& folder,
                int flags) {
  if (file.empty()) return 0;
  const std::string directory = run_folder(file, folder);
  com_scope com;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // No error box of the shell's own: the caller decides what to tell.
  // SEE_MASK_NOASYNC: both programs end the process right after starting
  // what they hand over to (the downloaded program, the product). Without
  // it the shell may finish the start after the call has returned, and a
  // process that ends at once can take that start with it. Wine starts .exe
  // files before returning, so no test here can show the difference.
  info.fMask =
      SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | ((flags & run_wait) ? SEE_MASK_NOCLOSEPROCESS : 0);
  info.lpVerb = "Open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = (flags & run_hidden) ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) return 0;
  const win::unique_kernel_handle process(info.hProcess);
  if (process) WaitForSingleObject(process.get(), INFINITE);
  return 1;
}

int file_delete(const std::string& path) {
  return DeleteFileA(path.c_str()) ? 1 : 0;
}

namespace {

// Whether two paths name one file (a copy onto itself is refused).
bool same_file(const std::string& a, const std::string& b) {
  const auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const win::unique_file_handle file(
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &info) != 0;
  };
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return identity(a, first) && identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

// The copy is made beside the destination and takes its name only when
// whole, so a copy that fails part-way keeps the previous file.
int file_copy(const std::string& source, const std::string& destination) {
  if (source.empty() || destination.empty() || same_file(source, destination)) return 0;
  const std::size_t end_of_folder = destination.find_last_of("\\/:");
  const std::string folder = end_of_folder == std::string::npos
                                 ? std::string(".")
                                 : destination.substr(0, end_of_folder + 1);
  char temporary[MAX_PATH];
  if (!GetTempFileNameA(folder.c_str(), "cpy", 0, temporary)) return 0;
  if (CopyFileA(source.c_str(), temporary, FALSE) &&
      MoveFileExA(temporary, destination.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 1;
  }
  // The copy took the source's attributes: a read-only one is deleted too.
  SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temporary);
  return 0;
}

std::int64_t file_size(const std::string& path) {
  const std::optional<std::string> lookup = size_lookup_path(path);
  if (!lookup) return -1;
  if (is_drive_name(*lookup)) {
    // "C:" alone names the drive's current folder; the drive root counts.
    const std::string root = *lookup + "\\";
    const UINT type = GetDriveTypeA(root.c_str());
    return (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) ? -1 : -2;
  }
  // Attributes rather than FindFirstFileA: a name holding * or ? is no
  // file, not the first file that the pattern matches.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(lookup->c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  return static_cast<std::int64_t>(data.nFileSizeLow);
}

namespace {

// One FindFirstFileA enumeration; the first entry is kept until it is asked for.
class find_listing : public folder_listing {
 public:
  find_listing(HANDLE handle, const WIN32_FIND_DATAA& first) : handle_(handle), data_(first) {}

  bool next(std::string& name, bool& folder) override {
    if (first_pending_) {
      first_pending_ = false;
    } else if (!FindNextFileA(handle_.get(), &data_)) {
      return false;
    }
    name = data_.cFileName;
    folder = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

 private:
  win::unique_find_handle handle_;
  WIN32_FIND_DATAA data_;
  bool first_pending_ = true;
};

}  // namespace

std::unique_ptr<folder_listing> list_folder(const std::string& search) {
  WIN32_FIND_DATAA first{};
  const HANDLE handle = FindFirstFileA(search.c_str(), &first);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<find_listing>(handle, first);
}

namespace {

struct window_list {
  HWND keep;
  std::vector<HWND> disabled;
};

BOOL CALLBACK disable_window(HWND window, LPARAM list_address) {
  auto* list = reinterpret_cast<window_list*>(list_address);
  if (window != list->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    list->disabled.push_back(window);
  }
  return TRUE;
}

}  // namespace

int message_box(const std::string& title, const std::string& text, int flags) {
  const HWND foreground = GetForegroundWindow();
  DWORD owner_process = 0;
  if (foreground != nullptr) GetWindowThreadProcessId(foreground, &owner_process);
  const HWND owner = owner_process == GetCurrentProcessId() ? foreground : nullptr;

  // The box is modal for the calling thread's other windows too, not only
  // for its owner.
  window_list list{foreground, {}};
  EnumThreadWindows(GetCurrentThreadId(), disable_window, reinterpret_cast<LPARAM>(&list));
  const int answer = MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags));
  for (HWND window : list.disabled) EnableWindow(window, TRUE);
  return answer;
}

namespace {

struct thread_call {
  thread_procedure procedure;
  int argument;
};

DWORD WINAPI thread_entry(LPVOID parameter) {
  const thread_call call = *static_cast<thread_call*>(parameter);
  delete static_cast<thread_call*>(parameter);
  return static_cast<DWORD>(call.procedure(call.argument));
}

}  // namespace

std::uintptr_t thread_start(thread_procedure procedure, int argument) {
  if (procedure == nullptr) return 0;
  auto* call = new thread_call{procedure, argument};
  // Without STACK_SIZE_PARAM_IS_A_RESERVATION the size is the initial
  // commitment; the stack still grows up to the program's reserve. The
  // handle is the caller's: threads are never joined.
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 4096, thread_entry, call, 0, &id);
  if (thread == nullptr) {
    delete call;
    return 0;
  }
  return reinterpret_cast<std::uintptr_t>(thread);
}

void delay(int milliseconds) {
  Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

void process_end(int exit_code) {
  ExitProcess(static_cast<UINT>(exit_code));
}
