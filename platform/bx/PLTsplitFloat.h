#ifndef PLT_SPLITFLOAT_H
#define PLT_SPLITFLOAT_H

// Splits a non-negative value into its integer part and its fraction, for
// table lookups: `whole` receives floor(value) and `value` keeps the
// fraction in [0, 1). A negative value or a NaN gives whole = 0 and
// fraction 0; a value past the int range gives the largest int and
// fraction 0, so a caller's index is always defined.
void PLTsplitFloat(float &value, int &whole);

#endif
