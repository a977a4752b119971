// System services on the POSIX backend over real files and processes:
// command-line splitting, file size limits, copy, starting programs (the
// stand-in), message boxes, the process's end. The portable tables of the
// services are in services_test.cpp, which runs on both platforms.
#include "system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "case_names.h"
#include "posix/headless.h"
#include "service_fixtures.h"
#include "system_rules.h"

namespace {

namespace fs = std::filesystem;
using service_test::current_folder_scope;
using service_test::scratch_folder;
using strings = std::vector<std::string>;
}  // namespace

// The backend's command line text (what next_program_parameter reads when
// no line was set).
std::string platform_command_line();

namespace {

// ---- command line ---------------------------------------------------------

struct split_case {
  const char* what;
  std::string line;
  strings items;  // the program's name first
};

// A failing row is shown by its description, not its object's bytes.
void PrintTo(const split_case& row, std::ostream* out) {
  *out << row.what;
}

std::vector<split_case> split_cases() {
  return {
      {"quoted program path with blanks, then auto",
       "\"C:\\Program Files\\Tessarin\\update_client.exe\" auto",
       {"C:\\Program Files\\Tessarin\\update_client.exe", "auto"}},
      {"quoted parameter", "prog two \"words in\" three", {"prog", "two", "words in", "three"}},
      {"a quote closing mid-word starts the next item", "prog \"ab\"cd", {"prog", "ab", "cd"}},
      {"a quote inside an unquoted item is ordinary", "prog ab\"cd\" e", {"prog", "ab\"cd\"", "e"}},
      {"runs of blanks count as one", "prog   a     b", {"prog", "a", "b"}},
      {"leading and trailing blanks", "   prog a   ", {"prog", "a"}},
      {"tabs are ordinary characters", "prog a\tb \tc", {"prog", "a\tb", "\tc"}},
      {"unclosed quote runs to the end", "prog \"a b", {"prog", "a b"}},
      {"empty quoted item", "prog \"\" x", {"prog", "", "x"}},
      {"two quoted items back to back", "prog \"a\"\"b\"", {"prog", "a", "b"}},
      {"quoted item then blank", "\"p q\" \"r\" s", {"p q", "r", "s"}},
      {"program only", "prog", {"prog"}},
      {"empty line", "", {}},
      {"blanks only", "    ", {}},
      {"bytes above 127", "prog caf\xE9", {"prog", "caf\xE9"}},
  };
}

class SplitTable : public ::testing::TestWithParam<split_case> {};

TEST_P(SplitTable, Items) {
  const split_case& c = GetParam();
  EXPECT_EQ(split_command_line(c.line), c.items) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitTable, ::testing::ValuesIn(split_cases()), case_name());

TEST(ProgramParameters, NextParameterThenEmptyTexts) {
  set_command_line("\"/opt/my programs/update_client\" auto");
  EXPECT_EQ(next_program_parameter(), "auto");
  EXPECT_EQ(next_program_parameter(), "");
  EXPECT_EQ(next_program_parameter(), "");

  set_command_line("prog two \"words in\" three");
  EXPECT_EQ(next_program_parameter(), "two");
  EXPECT_EQ(next_program_parameter(), "words in");
  EXPECT_EQ(next_program_parameter(), "three");
  EXPECT_EQ(next_program_parameter(), "");
}

TEST(ProgramParameters, RecordedArgumentsSplitBack) {
  char a0[] = "/opt/my dir/prog", a1[] = "auto", a2[] = "two words", a3[] = "", a4[] = "a\tb";
  char* argv[] = {a0, a1, a2, a3, a4, nullptr};
  record_program_arguments(5, argv);
  EXPECT_EQ(split_command_line(platform_command_line()),
            (strings{"/opt/my dir/prog", "auto", "two words", "", "a\tb"}));
}

// ---- file size, copy ------------------------------------------------------

TEST(FileSize, PathLengthLimit) {
  // A real file whose path has exactly 1,023 characters is looked up; the
  // same file named with one more character is not.
  scratch_folder folder;
  std::string path = folder.path().string();
  while (path.size() + 1 + 200 < 1023 - 10) {
    path += "/" + std::string(200, 'd');
  }
  fs::create_directories(path);
  path += "/" + std::string(1023 - path.size() - 1, 'f');
  ASSERT_EQ(path.size(), 1023u);
  std::ofstream(path) << "abc";
  std::string system = path;
  for (char& c : system) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(file_size(system), 3);
  EXPECT_EQ(file_size("\\" + system), -1) << "1,024 characters";
  EXPECT_EQ(file_size(std::string(5000, 'x')), -1);
}

TEST(FileCopy, ReplacesAnExistingDestination) {
  scratch_folder folder;
  folder.write("new.txt", "new");
  folder.write("old.txt", "old and much longer contents");
  EXPECT_NE(file_copy(folder.system_path("new.txt"), folder.system_path("old.txt")), 0);
  EXPECT_EQ(folder.read("old.txt"), "new");
  EXPECT_EQ(folder.read("new.txt"), "new");
}

TEST(FileCopy, CreatesAndKeepsBytesAndPermissions) {
  scratch_folder folder;
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7);
  const fs::path source = folder.write("prog", bytes);
  fs::permissions(source, fs::perms::owner_all);
  ASSERT_NE(file_copy(folder.system_path("prog"), folder.system_path("copy")), 0);
  EXPECT_EQ(folder.read("copy"), bytes);
  EXPECT_EQ(fs::status(folder.path() / "copy").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
}

TEST(FileCopy, FailuresLeaveFilesAlone) {
  scratch_folder folder;
  folder.write("a.txt", "keep");
  fs::create_directory(folder.path() / "dir");
  EXPECT_EQ(file_copy(folder.system_path("missing"), folder.system_path("x")), 0);
  EXPECT_FALSE(fs::exists(folder.path() / "x"));
  EXPECT_EQ(file_copy(folder.system_path("dir"), folder.system_path("x")), 0);
  EXPECT_EQ(file_copy(folder.system_path("a.txt"), folder.system_path("dir")), 0);
  // Onto itself: refused rather than emptied.
  EXPECT_EQ(file_copy(folder.system_path("a.txt"), folder.system_path("a.txt")), 0);
  EXPECT_EQ(folder.read("a.txt"), "keep");
  EXPECT_EQ(file_copy(folder.system_path("a.txt"), ""), 0);
}

// Names in a folder, for checking that nothing is left behind.
std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// Limits the size of files this process writes while in scope; writes past
// it fail with EFBIG (root is bound by it too) instead of raising SIGXFSZ.
class file_size_limit {
 public:
  explicit file_size_limit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
  bool ok_ = false;
};

// A help file whose copy fails part-way must not cost the installed one.
TEST(FileCopy, FailurePartWayKeepsThePreviousDestinationAndLeavesNoFile) {
  std::string large;
  for (int i = 0; i < 300000; ++i) large += static_cast<char>('a' + i % 26);
  const std::string previous = "previous help file";

  {
    SCOPED_TRACE("writing stops part-way");
    scratch_folder folder;
    folder.write("fr.chm", large);
    folder.write("aide.chm", previous);
    const std::set<std::string> before = names_in(folder.path());
    int result = 0;
    {
      // Half the source fits: the copy fails in the middle of its writes.
      file_size_limit limit(large.size() / 2);
      ASSERT_TRUE(limit.ok());
      result = file_copy(folder.system_path("fr.chm"), folder.system_path("aide.chm"));
    }
    EXPECT_EQ(result, 0);
    const std::string kept = folder.read("aide.chm");
    EXPECT_TRUE(kept == previous) << kept.size() << " bytes instead of the previous file";
    EXPECT_EQ(names_in(folder.path()), before);
  }
  {
    // A regular file whose reading fails: this process's memory from
    // address 0, which is never mapped.
    SCOPED_TRACE("the source fails on reading");
    scratch_folder folder;
    folder.write("aide.chm", previous);
    const std::set<std::string> before = names_in(folder.path());
    char probe;
    const int fd = ::open("/proc/self/mem", O_RDONLY);
    ASSERT_GE(fd, 0);
    const ssize_t got = ::read(fd, &probe, 1);
    ::close(fd);
    ASSERT_LT(got, 0) << "reading /proc/self/mem at 0 must fail for this case to mean anything";
    EXPECT_EQ(file_copy("/proc/self/mem", folder.system_path("aide.chm")), 0);
    const std::string kept = folder.read("aide.chm");
    EXPECT_TRUE(kept == previous) << kept.size() << " bytes instead of the previous file";
    EXPECT_EQ(names_in(folder.path()), before);
  }
  {
    SCOPED_TRACE("a successful copy leaves only the destination");
    scratch_folder folder;
    folder.write("fr.chm", large);
    folder.write("aide.chm", previous);
    const std::set<std::string> before = names_in(folder.path());
    EXPECT_NE(file_copy(folder.system_path("fr.chm"), folder.system_path("aide.chm")), 0);
    EXPECT_TRUE(folder.read("aide.chm") == large);
    EXPECT_EQ(names_in(folder.path()), before);
  }
}

// ---- starting programs ----------------------------------------------------

struct standin_line {
  std::string program, folder, command_line;
};

// The stand-in's JSON lines (its texts hold no escapes in these tests).
std::vector<standin_line> read_log(const fs::path& log) {
  std::vector<standin_line> lines;
  std::ifstream in(log);
  auto field = [](const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": \"";
    const std::size_t start = line.find(key);
    if (start == std::string::npos) return std::string();
    std::string value;
    for (std::size_t i = start + key.size(); i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\') ++i;
      value += line[i];
    }
    return value;
  };
  for (std::string line; std::getline(in, line);) {
    lines.push_back({field(line, "program"), field(line, "folder"), field(line, "command_line")});
  }
  return lines;
}

class RunProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path standin = fs::path(BUILD_DIR) / "tools" / "standin";
    ASSERT_TRUE(fs::exists(standin)) << "build the standin target";
    fs::create_directories(folder_.path() / "app");
    fs::create_directories(folder_.path() / "other");
    fs::copy_file(standin, folder_.path() / "app" / "vantrel");
    fs::copy_file(standin, folder_.path() / "tessarin");
    folder_.write("document.txt", "not a program");
    log_ = folder_.path() / "standin.log";
    setenv("STANDIN_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("STANDIN_LOG");
    unsetenv("STANDIN_DELAY_MS");
  }
  std::vector<standin_line> wait_for_lines(std::size_t count) {
    for (int i = 0; i < 1000 && read_log(log_).size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return read_log(log_);
  }
  scratch_folder folder_;
  fs::path log_;
};

TEST_F(RunProgram, WorkingFolderRuleAndParameters) {
  current_folder_scope inside(folder_.path());
  const std::string root = fs::current_path().string();
  const struct {
    const char* what;
    std::string file, parameters, folder;
    std::string expected_folder, expected_line;
  } cases[] = {
      {"folder of the file's path", "app\\vantrel", "auto \"two words\" x\"y\"", "", root + "/app",
       "app/vantrel auto \"two words\" x\"y\""},
      {"given folder wins", "app\\vantrel", "", folder_.system_path("other"), root + "/other",
       "app/vantrel"},
      {"no folder part: the caller's folder", "tessarin", "", "", root, "tessarin"},
      {"absolute path", folder_.system_path("app\\vantrel"), "a", "", root + "/app",
       folder_.path().string() + "/app/vantrel a"},
  };
  std::size_t expected_count = 0;
  for (const auto& c : cases) {
    EXPECT_NE(run_program(c.file, c.parameters, c.folder, run_wait), 0) << c.what;
    const std::vector<standin_line> lines = wait_for_lines(++expected_count);
    ASSERT_EQ(lines.size(), expected_count) << c.what;
    EXPECT_EQ(lines.back().folder, c.expected_folder) << c.what;
    EXPECT_EQ(lines.back().command_line, c.expected_line) << c.what;
  }
}

TEST_F(RunProgram, WithoutWaitTheProgramStillRunsOnce) {
  current_folder_scope inside(folder_.path());
  EXPECT_NE(run_program("app\\vantrel"), 0);
  const std::vector<standin_line> lines = wait_for_lines(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].program, "vantrel");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(read_log(log_).size(), 1u);
}

TEST_F(RunProgram, WaitReturnsAfterTheProgramEnded) {
  current_folder_scope inside(folder_.path());
  setenv("STANDIN_DELAY_MS", "300", 1);
  EXPECT_NE(run_program("tessarin", "", "", run_wait | run_hidden), 0);
  EXPECT_EQ(read_log(log_).size(), 1u) << "the line is written before the program ends";
}

TEST_F(RunProgram, WhatCannotBeStartedGivesZero) {
  current_folder_scope inside(folder_.path());
  const struct {
    const char* what;
    std::string file, folder;
  } cases[] = {
      {"missing file", "missing", ""},
      {"empty name", "", ""},
      {"a document", "document.txt", ""},
      {"a folder", "app", ""},
      {"missing working folder", "tessarin", "no such folder"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run_program(c.file, "", c.folder, run_wait), 0) << c.what;
    EXPECT_EQ(run_program(c.file, "", c.folder, 0), 0) << c.what;
  }
  EXPECT_TRUE(read_log(log_).empty());
}

// ---- message boxes, process end -------------------------------------------

TEST(MessageBoxes, RecordedAndAnsweredWithOk) {
  const std::size_t before = headless::message_boxes().size();
  EXPECT_EQ(message_box("", "Erreur dans la lecture des langues", message_stop), 1);
  const std::vector<headless::message_record> boxes = headless::message_boxes();
  ASSERT_EQ(boxes.size(), before + 1);
  EXPECT_EQ(boxes.back().title, "");
  EXPECT_EQ(boxes.back().text, "Erreur dans la lecture des langues");
  EXPECT_EQ(boxes.back().flags, 16);
}

TEST(ProcessEnd, EndsWithTheCodeAfterFlushingOutput) {
  scratch_folder folder;
  const fs::path out = folder.path() / "out.txt";
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (std::freopen(out.c_str(), "w", stdout) == nullptr) _exit(99);
    std::printf("buffered, not yet written");
    process_end(7);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(scratch_folder::read_bytes(out), "buffered, not yet written");
}

}  // namespace
