#include "number_text/power_scale.h"

long double scale_by_power_of_ten(long double x, int n) {
  // Each step rounds to the full 64-bit significand, whatever precision the
  // caller runs the unit at.
  Float80Scope extended;
  Float80 v = to_float80(x);
  float80_settle(v);
  Float80 result = scale_power(v, n);
  float80_settle(result);
  return from_float80(result);
}
