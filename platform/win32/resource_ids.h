#pragma once

// Shared by the resource script and the code.
#define SORELCHECK_ICON 1
