#ifndef SRF_CONSTANTS_H
#define SRF_CONSTANTS_H

// The circle constants of everything built on the library: the lobes, the
// tables, the measured models, the fitter, the tools and the tests. Single
// precision for the queries; double precision for quadrature and fitting.
constexpr float SRF_PI = 3.1415927f;
constexpr float SRF_HALF_PI = 1.5707964f;
constexpr float SRF_TWO_PI = 6.2831855f;
constexpr float SRF_INV_PI = 0.31830988f;
constexpr float SRF_INV_TWO_PI = 0.15915494f;
constexpr float SRF_INV_FOUR_PI = 0.07957747f;
constexpr float SRF_INV_EIGHT_PI = 0.039788734f;

constexpr double SRF_PI_DOUBLE = 3.14159265358979323846;
constexpr double SRF_TWO_PI_DOUBLE = 6.28318530717958647693;
constexpr double SRF_HALF_PI_DOUBLE = 1.57079632679489661923;
constexpr double SRF_QUARTER_PI_DOUBLE = 0.78539816339744830962;
constexpr double SRF_INV_PI_DOUBLE = 0.31830988618379067154;
constexpr double SRF_INV_FOUR_PI_DOUBLE = 0.07957747154594766788;
constexpr double SRF_INV_EIGHT_PI_DOUBLE = 0.03978873577297383394;

#endif
