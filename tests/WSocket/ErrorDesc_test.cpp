#include "WSocket/ErrorDesc.h"

#include <gtest/gtest.h>

namespace {

TEST(WSocketErrorDescTest, KnownCodes) {
  EXPECT_EQ(WSocketErrorDesc(0), "No Error");
  EXPECT_EQ(WSocketErrorDesc(10004), "Interrupted system call");
  EXPECT_EQ(WSocketErrorDesc(10035), "Operation would block");
  EXPECT_EQ(WSocketErrorDesc(10047), "Address family not supported by protocol family");
  EXPECT_EQ(WSocketErrorDesc(10058), "Can't send after socket shutdown");
  EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
  EXPECT_EQ(WSocketErrorDesc(10071), "Too many levels of remote in path");
  EXPECT_EQ(WSocketErrorDesc(10093), "WinSock not initialized");
  EXPECT_EQ(WSocketErrorDesc(11001), "Host not found");
  EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
}

TEST(WSocketErrorDescTest, EveryOtherCodeIsNotAWinSockError) {
  // Neighbours of the defined ranges, the gaps inside them, and the extremes.
  for (std::int32_t code : {-1, 1, 10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005, 12000,
                            INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(WSocketErrorDesc(code), "Not a WinSock error") << code;
  }
  int known = 0;
  for (std::int32_t code = 10000; code <= 11010; ++code)
    if (WSocketErrorDesc(code) != "Not a WinSock error") ++known;
  EXPECT_EQ(known, 50);
}

}  // namespace
