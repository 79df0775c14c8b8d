// The encoder lives with the decoder in the codec folder; this name is kept
// until the end-to-end tests include explode/implode.hpp themselves.
#pragma once

#include "explode/implode.hpp"
