#include "specs/pow10_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tessary {
namespace {

// The C library's strtod rounds correctly, so it gives the double nearest to each power.
TEST(Pow10Table, EachEntryIsTheNearestDouble) {
  for (std::size_t k = 0; k < POW10_F64_COUNT; ++k) {
    const std::string text = "1e" + std::to_string(k);
    EXPECT_EQ(POW10_F64[k], std::strtod(text.c_str(), nullptr)) << text;
  }
  EXPECT_EQ(POW10_F64[22], 1e22);                   // the last power that is exact
  EXPECT_EQ(POW10_F64[23], 0x1.52d02c7e14af6p+76);  // 99999999999999991611392: below 10^23
  EXPECT_EQ(POW10_F64[308], 0x1.1ccf385ebc8a0p+1023);
}

}  // namespace
}  // namespace tessary
