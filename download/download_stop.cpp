#include "download/download_stop.h"

#include "download/download_file.h"

static volatile LONG Stopped;
static volatile LONG UnderWay;
// Guards Running: held only to set it, or to stop it under its own lock.
static volatile LONG RunningGuard;
static RangeEngine* Running;
// Made by whichever thread needs it first; never closed.
static HANDLE volatile StopEvent;

static HANDLE TheStopEvent() {
  if (StopEvent == NULL) {
    HANDLE made = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (made != NULL && InterlockedCompareExchangePointer(const_cast<HANDLE*>(&StopEvent), made, NULL) != NULL)
      CloseHandle(made);
  }
  return StopEvent;
}

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
  HANDLE stop = TheStopEvent();
  if (stop == NULL)
    Sleep(ms);
  else
    WaitForSingleObject(stop, ms);
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
  HANDLE stop = TheStopEvent();
  if (stop != NULL) SetEvent(stop);
  Guard();
  if (Running != NULL) StopEngine(Running);
  Unguard();
}
