// The dialogs' decimal texts, made from whole numbers: a step value is a
// whole number of steps, so its text carries no binary fraction ("-0.3",
// never "-0.30000000000000004").
#pragma once

#include <string>

// The shortest decimal text of units x 10^-decimals, as a person writes it:
// no trailing zeros, no point without digits after it, no "-0"
// (DecimalText(-3, 1) is "-0.3", DecimalText(35, 2) "0.35", DecimalText(0, 1) "0").
std::string DecimalText(long long units, int decimals = 0);
