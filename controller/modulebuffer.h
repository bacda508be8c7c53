#pragma once

#include "link/frame.h"

// The command buffer of the program's shared module: one five-byte buffer for
// the whole program, apart from the buffers the main window and the
// programming window keep for themselves. The controller settings dialog
// makes its exchanges through it.
CommandBuffer &moduleCommandBuffer();
