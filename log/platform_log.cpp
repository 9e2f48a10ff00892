#include "log/platform_log.h"

#include "log/run_log.h"

void LogFileFailure(const FileFailure& failure, const WCHAR* path) {
  if (failure.reason != NULL)
    LogFormat("%S, %S: %s", failure.what, failure.reason, path);
  else
    LogFormat("%S. %d: %s", failure.what, static_cast<int>(failure.code), path);
}

void LogFunctionTableFailure(const FunctionTableFailure& failure) {
  if (failure.missing != NULL)
    LogFormat("%s lacks %S", failure.library, failure.missing);
  else
    LogFormat("%s not loaded %d", failure.library, static_cast<int>(failure.error));
}
