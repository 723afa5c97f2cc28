#pragma once

// Exception codes the simulated cards answer with.
const int illegalFunction = 1;
const int illegalDataAddress = 2;
const int illegalDataValue = 3;

// The largest register read whose reply fits in one frame (and whose byte count fits in its
// one byte).
const unsigned maxRegisterReadQuantity = 125;
