// The stop of every download at exit: a flag that no download starts past,
// the pause between tries cut short, and the engine under way, whose
// connections are closed under its lock.
#pragma once

#include <windows.h>

struct RangeEngine;

// At exit, from any thread: no download starts from now on, and the one under
// way stops at once (its connections closed, its pauses cut short). It ends
// as a broken one does: a download in ranges cut to its complete prefix, its
// file kept where it can be continued (download_file.h).
void StopDownloads();

// True while a download is under way (DownloadToFile has not returned).
bool DownloadUnderWay();

// True once StopDownloads was called.
bool DownloadsStopped();

// The engine that runs a download's body: from BeginEngine's end to before
// its lock goes. An engine that enters after the stop is stopped at once.
void EnterRunningEngine(RangeEngine* engine);
void LeaveRunningEngine();

// Waits `ms` milliseconds, or less once the downloads are stopped.
void PauseUnlessStopped(DWORD ms);

// Counts a download under way; false (nothing counted) once the downloads are stopped.
bool BeginCountedDownload();
void EndCountedDownload();
