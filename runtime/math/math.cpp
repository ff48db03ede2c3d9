#include "runtime/math/math.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint64_t sign_bit = uint64_t{1} << 63;

}  // namespace

double math_sqrt(double x) { return std::sqrt(x); }
double math_floor(double x) { return std::floor(x); }
double math_ceil(double x) { return std::ceil(x); }

// Through the bits, so that a NaN keeps its payload and only loses its sign.
double math_abs(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= ~sign_bit;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

double math_mod(double x, double y) { return std::fmod(x, y); }

double math_fract(double x, double* whole) {
    double integral;
    double fraction = std::modf(x, &integral);
    if (whole) *whole = integral;
    // The fraction of a whole number is a zero with the sign of x; mingw-w64's modf
    // gives +0 for negative ones.
    return std::copysign(fraction, x);
}

double math_pow(double x, double y) { return std::pow(x, y); }
double math_ln(double x) { return std::log(x); }
double math_log(double x) { return std::log10(x); }
double math_exp(double x) { return std::exp(x); }
double math_cos(double x) { return std::cos(x); }
double math_sin(double x) { return std::sin(x); }
double math_acos(double x) { return std::acos(x); }
double math_asin(double x) { return std::asin(x); }
double math_atan(double x) { return std::atan(x); }
double math_atan2(double y, double x) { return std::atan2(y, x); }
double math_cosh(double x) { return std::cosh(x); }
double math_sinh(double x) { return std::sinh(x); }
double math_tanh(double x) { return std::tanh(x); }
double math_acosh(double x) { return std::acosh(x); }
double math_asinh(double x) { return std::asinh(x); }
double math_atanh(double x) { return std::atanh(x); }

// The exponent travels as a 64-bit integer, of which only the low 32 bits count.
double math_ldexp(double x, int64_t n) {
    return std::ldexp(x, static_cast<int32_t>(static_cast<uint32_t>(n)));
}

double math_frexp(double x, int32_t* exponent) {
    int e = 0;
    double mantissa = std::frexp(x, &e);
    if (exponent) *exponent = e;
    return mantissa;
}
