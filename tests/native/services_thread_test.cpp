// The shared services across threads, as the programs use them: worker
// threads started with thread_start from several threads at once, and the
// settings reader and numbered files handed from one thread to the next.
// Built in the TSan build too.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "service_fixtures.h"
#include "settings.h"
#include "system.h"

namespace {

std::atomic<int> started{0};

int count_start(int) {
  started.fetch_add(1);
  return 0;
}

TEST(ServicesThreads, ThreadStartFromSeveralThreads) {
  started = 0;
  std::vector<std::thread> starters;
  std::atomic<int> handles{0};
  for (int t = 0; t < 4; ++t) {
    starters.emplace_back([&handles] {
      for (int i = 0; i < 25; ++i) {
        if (thread_start(count_start, i) != 0) handles.fetch_add(1);
      }
    });
  }
  for (std::thread& t : starters) t.join();
  EXPECT_EQ(handles.load(), 100);
  for (int i = 0; i < 2000 && started.load() != 100; ++i) delay(5);
  EXPECT_EQ(started.load(), 100);
}

std::string worker_folder;
std::string worker_value;
std::string worker_line;
std::atomic<int> worker_done{0};

// What the update check thread does with a server reply the user-interface
// thread knows nothing about: open, read, close.
int read_reply(int) {
  if (settings_open(worker_folder + "\\reply.ini") != 0) {
    worker_value = settings_read("version", "none");
    settings_close();
  }
  if (file_open_read(10, worker_folder + "\\reply.ini") != 0) {
    worker_line = file_read_line();
    file_close(10);
  }
  worker_done.store(1);
  return 0;
}

TEST(ServicesThreads, FilesAndSettingsHandedToAWorker) {
  service_test::scratch_folder folder;
  worker_folder = folder.system_path();
  ASSERT_NE(file_create(0, worker_folder + "\\reply.ini"), 0);
  file_write_line("version=7.1");
  file_close(0);
  worker_done = 0;
  ASSERT_NE(thread_start(read_reply, 0), 0u);
  for (int i = 0; i < 2000 && worker_done.load() == 0; ++i) delay(5);
  ASSERT_EQ(worker_done.load(), 1);
  EXPECT_EQ(worker_value, "7.1");
  EXPECT_EQ(worker_line, "version=7.1");
  // Back on this thread: the reader was closed by the worker.
  EXPECT_EQ(settings_read("version", "closed"), "closed");
}

}  // namespace
