// The Windows headers for a file that uses Winsock: winsock2.h must come
// before windows.h, which would otherwise bring in the old winsock.h and clash
// with it. Such a file includes this header first.
#pragma once

#include <winsock2.h>
#include <windows.h>
