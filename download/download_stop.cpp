// First: it brings Winsock's headers before windows.h.
#include "download/range_engine.h"

#include "download/download_stop.h"

static volatile LONG Stopped;
static volatile LONG UnderWay;
// Guards Running: held only to set it, or to stop it under its own lock.
static volatile LONG RunningGuard;
static RangeEngine* Running;
static void Guard() {
  while (InterlockedExchange(&RunningGuard, 1) != 0) Sleep(0);
}

static void Unguard() {
  InterlockedExchange(&RunningGuard, 0);
}

static void StopEngine(RangeEngine* engine) {
  EnterCriticalSection(&engine->lock);
  // -1: no connection is the caller's; every one is closed.
  StopRanges(engine, -1, RANGE_END_STOPPED);
  LeaveCriticalSection(&engine->lock);
}

void EnterRunningEngine(RangeEngine* engine) {
  Guard();
  Running = engine;
  if (DownloadsStopped()) StopEngine(engine);
  Unguard();
}

void LeaveRunningEngine() {
  Guard();
  Running = NULL;
  Unguard();
}

void PauseUnlessStopped(DWORD ms) {
  // In slices (the last one whole): a stop ends the pause within one.
  for (DWORD waited = 0; waited < ms && !DownloadsStopped(); waited += 50) Sleep(50);
}

bool BeginCountedDownload() {
  // Counted first: StopDownloads, which sets the flag first, then sees either the count or this its flag.
  InterlockedIncrement(&UnderWay);
  if (!DownloadsStopped()) return true;
  InterlockedDecrement(&UnderWay);
  return false;
}

void EndCountedDownload() {
  InterlockedDecrement(&UnderWay);
}

bool DownloadUnderWay() {
  return InterlockedCompareExchange(&UnderWay, 0, 0) != 0;
}

bool DownloadsStopped() {
  return InterlockedCompareExchange(&Stopped, 0, 0) != 0;
}

void StopDownloads() {
  InterlockedExchange(&Stopped, 1);
  Guard();
  if (Running != NULL) StopEngine(Running);
  Unguard();
}
