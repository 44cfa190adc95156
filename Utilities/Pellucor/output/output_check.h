// SPDX-License-Identifier: MIT
// The output check: the output is never one of the run's frames.
#pragma once

#include "command_line.h"
#include "platform.h"

// Opens the output as it is and checks it: emptied only once the first frame
// is packed, and never when it is one of the run's frames. Its identity comes
// from the open file, so nothing can swap it in between. Fails the run on
// anything it refuses.
FileIdentity open_and_check_output(const Run& run);
