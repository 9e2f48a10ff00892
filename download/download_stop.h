// The stop of every download at exit (download_file.h's StopDownloads): a
// flag that no download starts past, the pause between tries cut short, and
// the engine under way, whose connections are closed under its lock.
#pragma once

#include "download/range_engine.h"

// The engine that runs a download's body: from BeginEngine's end to before
// its lock goes. An engine that enters after the stop is stopped at once.
void EnterRunningEngine(RangeEngine* engine);
void LeaveRunningEngine();

// Waits `ms` milliseconds, or less once the downloads are stopped.
void PauseUnlessStopped(DWORD ms);

// Counts a download under way; false (nothing counted) once the downloads are stopped.
bool BeginCountedDownload();
void EndCountedDownload();
