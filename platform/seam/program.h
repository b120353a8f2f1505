#pragma once

#include <memory>

#include "platform/seam/platform.h"

namespace sorel {

// The back end that was built in, set up for this process (toolkit, libraries); the window
// opens later, through Platform::OpenWindow.
std::unique_ptr<Platform> CreatePlatform(int& argc, char** argv);

}  // namespace sorel
