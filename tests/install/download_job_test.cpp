#include <gtest/gtest.h>

#include "loopback_server.h"

#include <string>
#include <vector>

#include "download/download_job.h"
#include "download/http_client.h"
#include "shell/user_texts.h"
#include "test_files.h"

namespace {

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring TempFile(const WCHAR* name) {
  WCHAR folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

TEST(DownloadJob, ReturnsTheClientResultAsTheThreadExitCode) {
  LoopbackServer server = {};
  std::vector<LoopbackRoute> routes = {{"/ok.bin", FileResponse("body of the file")}};
  ASSERT_TRUE(StartLoopbackRoutes(&server, routes, 2));
  std::wstring target = TempFile(L"download-job-test.bin");
  DeleteFileW(target.c_str());

  std::wstring good = Wide(LoopbackUrl(&server, "/ok.bin"));
  EXPECT_EQ(static_cast<DWORD>(DOWNLOAD_OK), RunDownloadJob(good.c_str(), target.c_str(), NULL, NULL));
  EXPECT_EQ("body of the file", ReadFileBytes(target));

  // No route: the server answers 404.
  std::wstring missing = Wide(LoopbackUrl(&server, "/missing.bin"));
  EXPECT_EQ(static_cast<DWORD>(DOWNLOAD_FAILED),
            RunDownloadJob(missing.c_str(), target.c_str(), NULL, NULL));
  EXPECT_TRUE(WaitLoopbackServer(&server, 10000));
  ASSERT_EQ(2u, server.requests.size());
  EXPECT_EQ(0u, server.requests[0].find("GET /ok.bin HTTP/1.1\r\n"));
  DeleteFileW(target.c_str());
}

// What the job's callbacks saw, in order, with the thread each came on.
struct CallbackEvent {
  std::wstring what;
  DWORD thread;
};
std::vector<CallbackEvent> Events;

void RecordBegin() {
  Events.push_back({L"begins", GetCurrentThreadId()});
}

void RecordProgress(DownloadStep step, int percent) {
  Events.push_back({step != STEP_NONE ? std::wstring(DownloadStepText(step)) : std::to_wstring(percent), GetCurrentThreadId()});
}

TEST(DownloadJob, BeginsOnTheCallersThreadThenReportsFromTheDownload) {
  LoopbackServer server = {};
  std::vector<LoopbackRoute> routes = {{"/ok.bin", FileResponse("body")}};
  ASSERT_TRUE(StartLoopbackRoutes(&server, routes, 1));
  std::wstring target = TempFile(L"download-job-callbacks.bin");
  std::wstring url = Wide(LoopbackUrl(&server, "/ok.bin"));
  Events.clear();

  ASSERT_EQ(static_cast<DWORD>(DOWNLOAD_OK),
            RunDownloadJob(url.c_str(), target.c_str(), RecordBegin, RecordProgress));
  EXPECT_TRUE(WaitLoopbackServer(&server, 10000));
  ASSERT_GE(Events.size(), 3u);
  EXPECT_EQ(L"begins", Events[0].what);
  EXPECT_EQ(GetCurrentThreadId(), Events[0].thread);
  EXPECT_EQ(L"准备下载...", Events[1].what);
  EXPECT_NE(GetCurrentThreadId(), Events[1].thread) << "reports come from the download thread";
  EXPECT_EQ(L"下载完成。", Events.back().what);
  for (size_t i = 1; i < Events.size(); ++i) EXPECT_NE(L"begins", Events[i].what) << "begins once";
  DeleteFileW(target.c_str());
}

TEST(DownloadJob, RefusedAddressesComeBackAsNegativeCodes) {
  std::wstring target = TempFile(L"download-job-refused.bin");
  EXPECT_EQ(4294967295u, RunDownloadJob(L"ftp://127.0.0.1/a.exe", target.c_str(), NULL, NULL));
  EXPECT_EQ(4294967294u, RunDownloadJob(L"http://127.0.0.1", target.c_str(), NULL, NULL));
  EXPECT_EQ(4294967295u, RunDownloadJob(L"", target.c_str(), NULL, NULL));
}

// The handle that a new object gets: freed slots are handed out again, so the
// value only grows while handles are left open.
UINT_PTR NextHandleValue() {
  HANDLE probe = CreateEventW(NULL, FALSE, FALSE, NULL);
  CloseHandle(probe);
  return reinterpret_cast<UINT_PTR>(probe);
}

TEST(DownloadJob, EachJobReleasesItsThread) {
  std::wstring target = TempFile(L"download-job-many.bin");
  ASSERT_EQ(4294967294u, RunDownloadJob(L"http://127.0.0.1", target.c_str(), NULL, NULL));
  UINT_PTR before = NextHandleValue();
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(4294967294u, RunDownloadJob(L"http://127.0.0.1", target.c_str(), NULL, NULL)) << "job " << i;
  // A thread handle left open per job would push the next handle 50 slots on.
  EXPECT_LT(NextHandleValue(), before + 10 * sizeof(HANDLE));
}

// Reserves every free stretch of address space of 64 KiB or more, so that no
// thread stack fits; ReleaseAddressSpace gives it all back.
std::vector<void*> ReserveAllAddressSpace() {
  std::vector<void*> taken;
  taken.reserve(40000);  // 2 GiB in 64 KiB pieces is 32,768: the loop is bounded
  SIZE_T size = static_cast<SIZE_T>(1) << 30;
  while (size >= 64 * 1024 && taken.size() < taken.capacity()) {
    void* block = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS);
    if (block != NULL)
      taken.push_back(block);
    else
      size /= 2;
  }
  return taken;
}

void ReleaseAddressSpace(const std::vector<void*>& taken) {
  for (void* block : taken) VirtualFree(block, 0, MEM_RELEASE);
}

DWORD WINAPI DoNothing(LPVOID) {
  return 0;
}

bool ThreadCanStart() {
  HANDLE thread = CreateThread(NULL, 0, DoNothing, NULL, 0, NULL);
  if (thread == NULL) return false;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return true;
}

// Allocated blocks of the process heap.
int BusyHeapBlocks() {
  HANDLE heap = GetProcessHeap();
  PROCESS_HEAP_ENTRY entry = {};
  int busy = 0;
  HeapLock(heap);
  while (HeapWalk(heap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  HeapUnlock(heap);
  return busy;
}

TEST(DownloadJob, WithoutAThreadTheJobFailsAndFreesItsRecord) {
#if defined(_WIN64)
  // 128 TiB cannot be reserved piece by piece in bounded time (Wine keeps a
  // byte per reserved page), so no thread creation can be made to fail here.
  GTEST_SKIP() << "needs a 32-bit address space to fill";
#endif
  std::wstring target = TempFile(L"download-job-no-thread.bin");
  DeleteFileW(target.c_str());
  const int jobs = 20;
  DWORD results[jobs];
  int busyBefore = BusyHeapBlocks();
  std::vector<void*> taken = ReserveAllAddressSpace();
  bool threadStarts = ThreadCanStart();
  for (int i = 0; i < jobs; ++i)
    results[i] = RunDownloadJob(L"http://127.0.0.1:1/a.exe", target.c_str(), NULL, NULL);
  int busyAfter = BusyHeapBlocks();
  ReleaseAddressSpace(taken);

  // Without this the jobs would fail on the refused connection instead, and
  // the test would pass without reaching the path it is about.
  ASSERT_FALSE(threadStarts) << "a thread could still start: the address space was not filled";
  for (int i = 0; i < jobs; ++i) EXPECT_EQ(static_cast<DWORD>(DOWNLOAD_FAILED), results[i]) << "job " << i;
  // A record left behind per job would show as 20 more busy blocks.
  EXPECT_LT(busyAfter, busyBefore + jobs / 2);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str())) << "no download was started";
}

}  // namespace
