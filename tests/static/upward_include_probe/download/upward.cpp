// A download file that calls the window directly: the layer check must reject
// this include (its own test shows that it does).
#include "download/download_job.h"
#include "shell/progress_display.h"
