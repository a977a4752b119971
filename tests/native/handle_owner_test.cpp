// The platform handle owner, with a close function that records what it
// closes: every handle is closed exactly once, never the invalid value.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "handle_owner.h"

namespace {

std::vector<int> closed;

void close_recorded(int handle) {
  closed.push_back(handle);
}
constexpr int minus_one() {
  return -1;
}

// Invalid at -1, as a descriptor: 0 is a handle like any other.
using descriptor_owner = handle_owner<int, close_recorded, minus_one>;
// Invalid at 0, as most handles.
using null_invalid_owner = handle_owner<int, close_recorded>;

class HandleOwner : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(HandleOwner, MoveAssignmentClosesTheOldHandle) {
  {
    descriptor_owner target(3);
    descriptor_owner source(4);
    target = std::move(source);
    EXPECT_EQ(closed, std::vector<int>{3});
    EXPECT_EQ(target.get(), 4);
    EXPECT_FALSE(source.valid());
    EXPECT_EQ(source.get(), -1);
  }
  EXPECT_EQ(closed, (std::vector<int>{3, 4}));
}

TEST_F(HandleOwner, MoveAssignmentFromAnEmptyOwnerClosesAndEmpties) {
  descriptor_owner target(5);
  descriptor_owner empty;
  target = std::move(empty);
  EXPECT_EQ(closed, std::vector<int>{5});
  EXPECT_FALSE(target.valid());
}

TEST_F(HandleOwner, SelfMoveAssignmentKeepsTheHandle) {
  {
    descriptor_owner owner(6);
    descriptor_owner& same = owner;
    owner = std::move(same);
    EXPECT_TRUE(closed.empty());
    EXPECT_EQ(owner.get(), 6);
  }
  EXPECT_EQ(closed, std::vector<int>{6});
}

TEST_F(HandleOwner, MoveConstructionHandsOverWithoutClosing) {
  {
    descriptor_owner source(7);
    descriptor_owner target(std::move(source));
    EXPECT_TRUE(closed.empty());
    EXPECT_EQ(target.get(), 7);
    EXPECT_FALSE(source.valid());
  }
  EXPECT_EQ(closed, std::vector<int>{7});
}

TEST_F(HandleOwner, ResetClosesTheOldHandleAndTakesTheNew) {
  descriptor_owner owner(8);
  owner.reset(9);
  EXPECT_EQ(closed, std::vector<int>{8});
  owner.reset(9);  // the same handle again stays open
  EXPECT_EQ(closed, std::vector<int>{8});
  owner.reset();
  EXPECT_EQ(closed, (std::vector<int>{8, 9}));
  EXPECT_FALSE(owner.valid());
}

TEST_F(HandleOwner, ReleaseGivesTheHandleUpUnclosed) {
  {
    descriptor_owner owner(10);
    EXPECT_EQ(owner.release(), 10);
    EXPECT_FALSE(owner.valid());
  }
  EXPECT_TRUE(closed.empty());
}

// Each kind's own invalid value is never closed; the other kind's is a
// handle.
TEST_F(HandleOwner, OnlyTheKindsInvalidValueIsNeverClosed) {
  {
    descriptor_owner minus(-1), zero(0);
    null_invalid_owner null(0), minus_as_handle(-1);
    EXPECT_FALSE(minus.valid());
    EXPECT_TRUE(zero.valid());
    EXPECT_FALSE(null.valid());
    EXPECT_TRUE(static_cast<bool>(minus_as_handle));
    null_invalid_owner defaulted;
    EXPECT_EQ(defaulted.get(), 0);
  }
  std::vector<int> expected{-1, 0};
  std::sort(closed.begin(), closed.end());
  EXPECT_EQ(closed, expected);
}

}  // namespace
