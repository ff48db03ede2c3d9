// Scalar math on double-precision values: thin wrappers over the C math library, whose
// results, special values and rounding they keep. No state; nothing reports errors:
// domain errors give NaN and range errors an infinity or zero, as the library does.
#pragma once

#include <cstdint>

// Square root; NaN below 0 (-0 stays -0).
[[nodiscard]] double math_sqrt(double x);
[[nodiscard]] double math_floor(double x);
[[nodiscard]] double math_ceil(double x);
// `x` with its sign bit cleared and nothing else touched: -0 gives +0, a NaN stays NaN.
[[nodiscard]] double math_abs(double x);
// Remainder of x / y with the quotient truncated toward zero: the sign of x, a magnitude
// below that of y; NaN when y is 0.
[[nodiscard]] double math_mod(double x, double y);
// Fractional part of x, with the sign of x; the whole part (x rounded toward zero) is
// stored in `whole` unless it is null.
double math_fract(double x, double* whole);
[[nodiscard]] double math_pow(double x, double y);
// Natural (base e) logarithm.
[[nodiscard]] double math_ln(double x);
// Common (base 10) logarithm.
[[nodiscard]] double math_log(double x);
[[nodiscard]] double math_exp(double x);
[[nodiscard]] double math_cos(double x);
[[nodiscard]] double math_sin(double x);
// In 0 to pi; NaN outside -1 to 1.
[[nodiscard]] double math_acos(double x);
// In -pi/2 to pi/2; NaN outside -1 to 1.
[[nodiscard]] double math_asin(double x);
[[nodiscard]] double math_atan(double x);
// Angle of the point (x, y) in -pi to pi: the ordinate comes first.
[[nodiscard]] double math_atan2(double y, double x);
[[nodiscard]] double math_cosh(double x);
[[nodiscard]] double math_sinh(double x);
[[nodiscard]] double math_tanh(double x);
// NaN below 1.
[[nodiscard]] double math_acosh(double x);
[[nodiscard]] double math_asinh(double x);
// NaN outside -1 to 1, infinities at them.
[[nodiscard]] double math_atanh(double x);
// x times 2 to the power of n's low 32 bits, read as a signed exponent.
[[nodiscard]] double math_ldexp(double x, int64_t n);
// The mantissa m, magnitude in [0.5, 1), with x = m * 2^e and e stored in `exponent`
// (dropped when null); 0 gives 0 and exponent 0.
double math_frexp(double x, int32_t* exponent);
