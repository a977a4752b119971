// The Windows backend of the shared services on real files, run under Wine
// by tests/wine/test_services.py from a scratch folder that holds the
// stand-in program as app\vantrel.exe, app\traducteur.exe and tessarin.exe:
// what only Windows has (drive names, sharing modes, hidden files, the
// command line of a started copy, starting programs, message boxes). The
// portable tables (sizes, scans, threads, environment, settings, numbered
// files) run under Wine as Windows programs of their own.
//
//   services_win_test.exe run          all checks; "ok <name>" or
//                                      "FAIL <name>: <detail>" per check,
//                                      exit code 1 when any failed
//   services_win_test.exe parameters   prints each program parameter as
//                                      [text], one per line (used by "run"
//                                      on copies of itself)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "settings.h"
#include "system.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& name, const std::string& detail = {}) {
  if (ok) {
    std::printf("ok %s\n", name.c_str());
  } else {
    ++failures;
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
  }
  std::fflush(stdout);
}

template <typename T>
void check_equal(const T& got, const T& expected, const std::string& name) {
  check(got == expected, name,
        "got " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void check_text(const std::string& got, const std::string& expected, const std::string& name) {
  check(got == expected, name, "got [" + got + "], expected [" + expected + "]");
}

void write_bytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  if (h != INVALID_HANDLE_VALUE) {
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
  }
}

std::string read_bytes(const std::string& path) {
  std::string bytes;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

std::string current_directory() {
  char buffer[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

std::string own_path() {
  char buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

int count_lines(const std::string& path) {
  int lines = 0;
  for (char c : read_bytes(path)) lines += c == '\n';
  return lines;
}

// ---- file_size: what only Windows names ---------------------------------------
// (The table of files, folders, missing and over-long paths is
// services_test's, which runs under Wine too.)

void sizes() {
  check_equal<long long>(file_size("C:\\"), -2, "file_size C:\\ is a drive root");
  check_equal<long long>(file_size("C:"), -2, "file_size C: is a drive root");
  check_equal<long long>(file_size("c:"), -2, "file_size c: in lower case");
  const DWORD drives = GetLogicalDrives();
  for (char letter = 'Y'; letter > 'D'; --letter) {
    if (!(drives & (1u << (letter - 'A')))) {
      const std::string name = std::string(1, letter) + ":";
      check_equal<long long>(file_size(name), -1, "file_size of missing drive " + name);
      check_equal<long long>(file_size(name + "\\"), -1,
                             "file_size of missing drive " + name + "\\");
      break;
    }
  }
  CreateDirectoryA("sizes", nullptr);
  write_bytes("sizes\\five.txt", "12345");
  const struct {
    const char* path;
    long long size;
  } cases[] = {
      {"sizes\\five.txt", 5},
      {"sizes\\*.txt", -1},
      {"sizes\\fiv?.txt", -1},
  };
  for (const auto& c : cases) {
    check_equal<long long>(file_size(c.path), c.size, std::string("file_size of [") + c.path + "]");
  }
}

// ---- command line -----------------------------------------------------------

// Runs a copy of this program under the given command line and returns
// what it printed in "parameters" mode.
std::string run_with_command_line(const std::string& program, const std::string& line) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::string out_name = "parameters.out";
  HANDLE out = CreateFileA(out_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  const BOOL started = CreateProcessA(program.c_str(), writable.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(out);
  if (!started) return "(not started)";
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  std::string text = read_bytes(out_name);
  std::string cleaned;
  for (char c : text) {
    if (c != '\r') cleaned += c;
  }
  return cleaned;
}

void command_lines(const std::string& arguments_seen) {
  check_text(arguments_seen, "[run]", "own command line from the Wine loader");

  CreateDirectoryA("with blanks", nullptr);
  const std::string copy = current_directory() + "\\with blanks\\svc copy.exe";
  check(CopyFileA(own_path().c_str(), copy.c_str(), FALSE) != 0, "copy of the test program");
  const struct {
    const char* what;
    std::string line;
    std::string printed;
  } cases[] = {
      {"quoted program path with blanks, then auto", "\"" + copy + "\" parameters auto",
       "[parameters]\n[auto]\n"},
      {"quoted parameter", "\"" + copy + "\" parameters two \"words in\" three",
       "[parameters]\n[two]\n[words in]\n[three]\n"},
      {"quote closing mid-word", "\"" + copy + "\" parameters \"ab\"cd",
       "[parameters]\n[ab]\n[cd]\n"},
      {"runs of blanks, tabs ordinary", "\"" + copy + "\"   parameters   a\tb   c",
       "[parameters]\n[a\tb]\n[c]\n"},
      {"program name quoted and followed directly", "\"" + copy + "\"parameters x",
       "[parameters]\n[x]\n"},
  };
  for (const auto& c : cases) {
    check_text(run_with_command_line(copy, c.line), c.printed,
               std::string("GetCommandLineA: ") + c.what);
  }
}

// ---- run_program --------------------------------------------------------------

void programs() {
  const std::string log = environment_variable("STANDIN_LOG");
  check(!log.empty(), "STANDIN_LOG is set");
  CreateDirectoryA("other", nullptr);

  int lines = count_lines(log);
  check(run_program("app\\vantrel.exe", "auto \"two words\"", "", run_wait) != 0,
        "run_program: folder of the file's path");
  check_equal(count_lines(log), ++lines, "run_program with wait: the stand-in has written");
  check(run_program("app\\vantrel.exe", "", "other", run_wait) != 0,
        "run_program: given working folder");
  check_equal(count_lines(log), ++lines, "run_program with wait: second line");
  check(run_program("tessarin.exe", "", "", run_wait | run_hidden) != 0,
        "run_program: no folder part, hidden");
  check_equal(count_lines(log), ++lines, "run_program with wait: third line");

  SetEnvironmentVariableA("STANDIN_DELAY_MS", "700");
  check(run_program("tessarin.exe", "waited", "", run_wait) != 0,
        "run_program waits (slow program)");
  check_equal(count_lines(log), ++lines, "run_program returns after the program ended");
  SetEnvironmentVariableA("STANDIN_DELAY_MS", nullptr);

  check(run_program("missing.exe", "", "", run_wait) == 0, "run_program of a missing file is 0");
  check(run_program("", "", "", 0) == 0, "run_program of nothing is 0");
  // Started last and not waited for: the test driver waits for its line.
  check(run_program("app\\traducteur.exe") != 0, "run_program without waiting");
}

// ---- settings and numbered files ---------------------------------------------

// The copy is made beside the destination and takes its name last: when
// that fails (here the destination is open without delete sharing), the
// destination keeps its bytes and the copy goes. The source is read-only,
// an attribute that Windows gives the copy too (Wine does not).
void copy_that_cannot_take_the_name() {
  write_bytes("held-old.txt", "old help file");
  write_bytes("held-new.txt", "new help file");
  SetFileAttributesA("held-new.txt", FILE_ATTRIBUTE_READONLY);
  const HANDLE holder = CreateFileA("held-old.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  check(holder != INVALID_HANDLE_VALUE, "destination held open");
  check(file_copy("held-new.txt", "held-old.txt") == 0, "file_copy onto a held destination");
  CloseHandle(holder);
  check_text(read_bytes("held-old.txt"), "old help file", "failed copy keeps the destination");
  WIN32_FIND_DATAA found;
  const HANDLE scan = FindFirstFileA("cpy*.tmp", &found);
  check(scan == INVALID_HANDLE_VALUE, "failed copy leaves no file beside the destination",
        scan == INVALID_HANDLE_VALUE ? std::string() : std::string(found.cFileName));
  if (scan != INVALID_HANDLE_VALUE) FindClose(scan);
  check(file_copy("held-new.txt", "held-old.txt") != 0, "file_copy once the destination is free");
  check_text(read_bytes("held-old.txt"), "new help file", "copy in place");
  SetFileAttributesA("held-new.txt", FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA("held-old.txt", FILE_ATTRIBUTE_NORMAL);
}

void settings_and_files() {
  check(file_create(0, "s.ini") != 0, "file_create s.ini");
  check_equal<std::size_t>(file_write_line("  VERSION =   1.2"), 19, "file_write_line result");
  file_write_line("; comment");
  file_write_line("url=a?b=c");
  file_write_line("empty=");
  file_write_line("[group]");
  file_write_line("below=1");
  check_equal<std::size_t>(file_write_line(""), 2, "file_write_line of nothing writes CR LF");
  check_equal<std::size_t>(file_write_text(""), 0, "file_write_text of nothing");
  file_close(0);

  check(settings_open("s.ini") != 0, "settings_open");
  check_text(settings_read("version", "d"), "1.2", "settings_read version");
  check_text(settings_read("url", "d"), "a?b=c", "settings_read url");
  check_text(settings_read("empty", "d"), "", "settings_read empty value");
  check_text(settings_read("below", "d"), "d", "settings_read below a group header");
  // Held with read sharing only: readers may open it, writers and deleters may not.
  HANDLE reader =
      CreateFileA("s.ini", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  check(reader != INVALID_HANDLE_VALUE, "settings file readable by others while open");
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileA("s.ini", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  check(writer == INVALID_HANDLE_VALUE, "settings file not writable by others while open");
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  check(file_delete("s.ini") == 0, "settings file cannot be deleted while open");
  settings_close();
  check_text(settings_read("version", "d"), "d", "settings_read after close");
  check(file_delete("s.ini") != 0, "settings file deleted after close");
  check(settings_open("s.ini") == 0, "settings_open of a missing file");
  check(settings_open("sizes") == 0, "settings_open of a folder");

  write_bytes("lines.txt", "one\r\ntwo\rthree\nfour");
  check(file_open_read(1, "lines.txt") != 0, "file_open_read");
  std::string got;
  for (int i = 0; i < 6; ++i) got += "[" + file_read_line() + "]";
  check_text(got, "[one][two][three][four][][]", "file_read_line over CR LF, CR, LF");
  // Numbered files opened for reading let others write.
  HANDLE other = CreateFileA("lines.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  check(other != INVALID_HANDLE_VALUE, "numbered file open for reading shares writing");
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  file_close(1);
  check_text(file_read_line(), "", "no current file after close");

  // Windows refuses to re-create an existing hidden file with ordinary
  // attributes, and file_create then empties it instead, keeping its
  // attributes. Wine does not refuse, so here only the outcome is checked.
  write_bytes("hidden.txt", "old contents");
  SetFileAttributesA("hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  check(file_create(10, "hidden.txt") != 0, "file_create of a hidden file");
  file_write_text("new");
  file_close(10);
  check_text(read_bytes("hidden.txt"), "new", "hidden file emptied and written");
  const DWORD attributes = GetFileAttributesA("hidden.txt");
  check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN),
        "hidden file keeps its attributes", "attributes " + std::to_string(attributes));
  SetFileAttributesA("hidden.txt", FILE_ATTRIBUTE_NORMAL);

  CreateDirectoryA("adir", nullptr);
  check(file_create(1, "adir") == 0, "file_create where a folder stands");

  write_bytes("copy-old.txt", "old and longer");
  write_bytes("copy-new.txt", "new");
  check(file_copy("copy-new.txt", "copy-old.txt") != 0, "file_copy onto an existing file");
  check_text(read_bytes("copy-old.txt"), "new", "file_copy replaced the destination");
  check(file_copy("missing.txt", "x.txt") == 0, "file_copy of a missing file");
  check(file_copy("copy-old.txt", ".\\copy-old.txt") == 0, "file_copy onto itself refused");
  check_text(read_bytes("copy-old.txt"), "new", "file_copy onto itself keeps the file");
  copy_that_cannot_take_the_name();
  check(file_delete("copy-new.txt") != 0, "file_delete");
  check(file_delete("copy-new.txt") == 0, "file_delete of a missing file");
}

// ---- threads, environment -------------------------------------------------------

// Threads and the environment's values are services_test's; that the
// system's Temp is there is the platform's.
void environment() {
  check(!environment_variable("Temp").empty(), "Temp is set");
}

// ---- message box ----------------------------------------------------------------

struct box_observation {
  HWND foreground = nullptr, other = nullptr, hidden = nullptr;
  bool seen = false;
  HWND owner = nullptr;
  bool foreground_enabled = false, other_enabled = true, hidden_enabled = false;
};

BOOL CALLBACK find_box(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  if (process == GetCurrentProcessId() && std::strcmp(name, "#32770") == 0 &&
      IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI watch_box(LPVOID parameter) {
  auto* o = static_cast<box_observation*>(parameter);
  for (int i = 0; i < 300; ++i) {
    HWND box = nullptr;
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&box));
    if (box != nullptr) {
      o->seen = true;
      o->owner = GetWindow(box, GW_OWNER);
      o->foreground_enabled = IsWindowEnabled(o->foreground);
      o->other_enabled = IsWindowEnabled(o->other);
      o->hidden_enabled = IsWindowEnabled(o->hidden);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}

void message_boxes() {
  box_observation o;
  const DWORD style = WS_OVERLAPPEDWINDOW;
  o.foreground = CreateWindowExA(0, "STATIC", "services foreground", style | WS_VISIBLE, 10, 10,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
  o.other = CreateWindowExA(0, "STATIC", "services other", style | WS_VISIBLE, 300, 10, 200, 100,
                            nullptr, nullptr, nullptr, nullptr);
  o.hidden = CreateWindowExA(0, "STATIC", "services hidden", style, 10, 300, 200, 100, nullptr,
                             nullptr, nullptr, nullptr);
  SetForegroundWindow(o.foreground);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  check(GetForegroundWindow() == o.foreground, "test window is the foreground window");

  HANDLE watcher = CreateThread(nullptr, 0, watch_box, &o, 0, nullptr);
  const int answer = message_box("", "services message", message_stop);
  WaitForSingleObject(watcher, 20000);
  CloseHandle(watcher);
  check(o.seen, "message box shown");
  check_equal(answer, 1, "message box answer is OK");
  check(o.owner == o.foreground, "message box owned by the foreground window");
  check(!o.other_enabled, "other visible window disabled while the box is open");
  check(o.hidden_enabled, "hidden window left alone");
  check(IsWindowEnabled(o.foreground) && IsWindowEnabled(o.other) && IsWindowEnabled(o.hidden),
        "windows enabled again after the box");
  DestroyWindow(o.foreground);
  DestroyWindow(o.other);
  DestroyWindow(o.hidden);
}

}  // namespace

int main() {
  const std::string mode = next_program_parameter();
  if (mode == "parameters") {
    std::printf("[%s]\n", mode.c_str());
    for (std::string p = next_program_parameter(); !p.empty(); p = next_program_parameter()) {
      std::printf("[%s]\n", p.c_str());
    }
    return 0;
  }
  if (mode != "run") {
    std::printf("usage: services_win_test run | parameters ...\n");
    return 2;
  }
  std::string rest;
  for (std::string p = next_program_parameter(); !p.empty(); p = next_program_parameter()) {
    rest += "[" + p + "]";
  }
  command_lines("[" + mode + "]" + rest);
  sizes();
  settings_and_files();
  environment();
  programs();
  message_boxes();
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
