// First: it brings Winsock's headers before windows.h.
#include "download/range_engine.h"

#include "download/download_stop.h"

static volatile LONG Stopped;
static volatile LONG UnderWay;
// Guards Running: held only to set it, or to stop it under its own lock.
// Lock order: RunningGuard first, then the engine's lock; the engine never
// takes RunningGuard, so the two cannot deadlock.
static CRITICAL_SECTION RunningGuard;
static RangeEngine* Running;

// Made before main, while the process has one thread: usable at once from any
// thread, the stop at exit included, with nothing to race over (XP has no
// one-time initialisation of its own). Never deleted: it lives as long as the process.
__attribute__((constructor)) static void MakeRunningGuard() {
  InitializeCriticalSection(&RunningGuard);
}

static void Guard() {
  EnterCriticalSection(&RunningGuard);
}

static void Unguard() {
  LeaveCriticalSection(&RunningGuard);
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
