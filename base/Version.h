#pragma once

// Compiled-in version text written after "Versão: " at start-up; empty for this product.
inline constexpr char kVersionText[] = "";

// Fixed application id of the single-instance guard, the same for every build.
inline constexpr char kApplicationId[] = "5b3e9c1a-7d24-4f86-a0b9-2c6e8f1d4a73";
