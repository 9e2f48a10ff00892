#include "download/loop.h"

#include "download/client.h"
