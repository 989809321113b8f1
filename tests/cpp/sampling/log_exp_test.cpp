#include "sampling/log_exp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tessary {
namespace {

// Within 4 units in the last place of a reference computed to 50 digits from the same double x.
void expect_close(double actual, double reference, const char* what, double x) {
  EXPECT_LE(std::fabs(actual - reference), 4 * 0x1p-52 * std::fabs(reference))
      << what << " at x = " << x << ": " << actual << " against " << reference;
}

TEST(LogExp, MatchReferenceValuesAcrossTheRange) {
  struct Case {
    double x;
    double log_one_plus;   // log(1 + x)
    double log_ratio;      // log(1 + x) / x
    double exp_ratio;      // (exp(x) - 1) / x
  };
  // Each side of the Taylor bound (1e-6), near 0 where direct formulas lose every digit, and far.
  const Case cases[] = {
      {-0.75, -1.3862943611198906, 1.8483924814931876, 0.7035112630119804},
      {-0.001, -0.0010005003335835335, 1.0005003335835334, 0.9995001666250083},
      {-3e-07, -3.00000045000009e-07, 1.00000015000003, 0.999999850000015},
      {-1e-12, -1.0000000000005e-12, 1.0000000000005, 0.9999999999995},
      {1e-12, 9.999999999995e-13, 0.9999999999995, 1.0000000000005},
      {3e-07, 2.99999955000009e-07, 0.99999985000003, 1.000000150000015},
      {2e-06, 1.9999980000026667e-06, 0.9999990000013333, 1.0000010000006667},
      {0.001, 0.0009995003330835331, 0.9995003330835331, 1.0005001667083417},
      {0.3, 0.26236426446749106, 0.8745475482249702, 1.1661960252533436},
      {5.0, 1.791759469228055, 0.358351893845611, 29.48263182051532},
  };
  for (const Case& c : cases) {
    expect_close(log_one_plus(c.x), c.log_one_plus, "log_one_plus", c.x);
    expect_close(log_one_plus_over_x(c.x), c.log_ratio, "log_one_plus_over_x", c.x);
    expect_close(exp_minus_one_over_x(c.x), c.exp_ratio, "exp_minus_one_over_x", c.x);
  }
  // (exp(x) - 1) / x far out: exp(x) below 2^-54, and large.
  const double far[][2] = {
      {-745.0, 0.0013422818791946308},
      {-40.0, 0.025},
      {30.0, 356215819384.1154},
      {700.0, 1.4489029353357207e+301},
  };
  for (const auto& [x, exp_ratio] : far) {
    expect_close(exp_minus_one_over_x(x), exp_ratio, "exp_minus_one_over_x", x);
  }
  EXPECT_EQ(log_one_plus(-1.0), -HUGE_VAL);
  EXPECT_EQ(exp_minus_one_over_x(710.0), HUGE_VAL);
}

}  // namespace
}  // namespace tessary
