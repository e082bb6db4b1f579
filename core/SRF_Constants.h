#ifndef SRF_CONSTANTS_H
#define SRF_CONSTANTS_H

// The circle constants of the library, as single-precision floats.
constexpr float SRF_PI = 3.1415927f;
constexpr float SRF_HALF_PI = 1.5707964f;
constexpr float SRF_TWO_PI = 6.2831855f;
constexpr float SRF_INV_PI = 0.31830988f;
constexpr float SRF_INV_TWO_PI = 0.15915494f;
constexpr float SRF_INV_FOUR_PI = 0.07957747f;

#endif
