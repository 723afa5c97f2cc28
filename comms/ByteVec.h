#pragma once

#include <vector>

// The unit of every transfer and of every binary image.
typedef std::vector<unsigned char> ByteVec;
