// The Windows backend's handle owners on real handles: a kernel handle
// that an owner gave up by move-assignment is closed, the invalid values of
// each kind are left alone, and a GDI selection puts the previous object
// back.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <utility>

#include "win32/win_handles.h"

namespace {

// True while the handle names an open kernel object of this process.
bool open_handle(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

TEST(WinHandles, MoveAssignmentClosesTheOldKernelHandle) {
  win::unique_kernel_handle first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win::unique_kernel_handle second(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(first && second);
  const HANDLE old = first.get(), kept = second.get();
  first = std::move(second);
  EXPECT_FALSE(open_handle(old));
  EXPECT_TRUE(open_handle(kept));
  EXPECT_EQ(first.get(), kept);
  first.reset();
  EXPECT_FALSE(open_handle(kept));
}

TEST(WinHandles, FileHandlesAreInvalidAtMinusOneNotAtNull) {
  win::unique_file_handle none;
  EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  win::unique_file_handle missing(CreateFileA("no such folder\\no such file", GENERIC_READ, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing.valid());
  win::unique_kernel_handle null;
  EXPECT_FALSE(null.valid());
}

TEST(WinHandles, GdiSelectionPutsThePreviousObjectBack) {
  const win::window_dc screen(nullptr);
  ASSERT_NE(screen.get(), nullptr);
  const win::unique_memory_dc dc(CreateCompatibleDC(screen.get()));
  const win::unique_bitmap bitmap(CreateCompatibleBitmap(screen.get(), 4, 4));
  ASSERT_TRUE(dc && bitmap);
  const HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_BITMAP);
  {
    const win::gdi_selection selection(dc.get(), bitmap.get());
    EXPECT_TRUE(selection.selected());
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), bitmap.get());
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), before);
  const win::gdi_selection nothing(dc.get(), nullptr);
  EXPECT_FALSE(nothing.selected());
}

}  // namespace
