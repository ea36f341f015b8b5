#pragma once

// The build's version and commit, "1.0 (commit abc1234)": after "Versão: " at start-up, and what
// --version prints.
extern const char kVersionText[];

// Fixed application id of the single-instance guard, the same for every build.
inline constexpr char kApplicationId[] = "5b3e9c1a-7d24-4f86-a0b9-2c6e8f1d4a73";
