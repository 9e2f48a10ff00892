#include "download/client.h"
