// placeholder: replaced when this module lands
#include "corvale/effects/filters.h"
void Denormal(double*, double*, int64_t) {}
void HPF(HpfHistory&, int64_t, int, double*, double*, double, double, int*) {}
void EQ(EqHistory&, int64_t, int, int, double*, double*, double, double, double, double, double, int*) {}
void Rev_EQ(RevEqHistory&, int64_t, int, double*, double*, double, double, double, double, double, int*) {}
