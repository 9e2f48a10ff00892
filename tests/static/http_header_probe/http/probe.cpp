// A plain-value unit that reaches for Windows: the check names both includes.
#include <string.h>
#include <windows.h>
#include "download/body_file.h"
