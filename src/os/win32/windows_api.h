// The only door to <windows.h> for the Win32 adapters (Windows only).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0603  // Windows Server 2012 R2, the oldest system the agent runs on
#endif

#include <windows.h>
