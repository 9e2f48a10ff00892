#include "install/mirror_download.h"

#include "config/setup_config.h"
#include "download/download_job.h"
#include "http/url.h"
#include "install/earlier_download.h"
#include "install/install_ui.h"
#include "install/payload_check.h"
#include "log/run_log.h"

bool DownloadFromMirrors(const MirrorDownload& download, const WCHAR* path, HANDLE* held) {
  InstallerPins pins;
  ReadInstallerPins(download.pinKey, download.signerKey, &pins);
  if (TakeUpEarlierDownload(path, pins, held)) return true;
  int count = CountMirrors(&SetupConfig, *download.list);
  if (count == 0) LogFormat("no %s address configured", download.name);
  for (int number = 1; number <= count; ++number) {
    WCHAR key[MIRROR_KEY_SIZE];
    WCHAR url[URL_BUFFER_SIZE];
    MirrorKey(*download.list, number, key);
    // A value too long to fetch is logged by the lookup.
    if (!GetConfigValue(key, url, URL_BUFFER_SIZE)) continue;
    if (download.tag != NULL) ProductInstallerUrl(url, download.tag, url);
    // A single address logs as it always did: its "url:" line says it all.
    if (count > 1) LogFormat("%s mirror %d of %d: %s", download.name, number, count, url);
    if (RunDownloadJob(url, path, WorkerUi.beginDownload, WorkerUi.reportProgress, *download.limits) ==
            static_cast<DWORD>(DOWNLOAD_OK) &&
        CheckPinnedDownload(path, pins, held) != PIN_REFUSED)
      return true;
  }
  return false;
}
