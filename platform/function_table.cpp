#include "platform/function_table.h"

#include <string.h>

#include "platform/system_library.h"

bool FillFunctionTable(FunctionTable* table, FunctionTableFailure* failure) {
  if (table->ready != 0) return true;
  FunctionTableFailure why = {table->libraries[0], NULL, ERROR_MOD_NOT_FOUND};
  HMODULE library = NULL;
  for (const WCHAR* const* name = table->libraries; library == NULL && *name != NULL; ++name) {
    why.library = *name;
    library = LoadSystemLibrary(*name);
    if (library == NULL) why.error = GetLastError();
  }
  for (int i = 0; library != NULL && i < table->slotCount; ++i) {
    FARPROC address = GetProcAddress(library, table->slots[i].name);
    if (address == NULL) {
      why.missing = table->slots[i].name;
      why.error = ERROR_PROC_NOT_FOUND;
      FreeLibrary(library);
      library = NULL;
    } else {
      // Copied as bytes: the member has the function's own pointer type.
      memcpy(table->slots[i].member, &address, sizeof address);
    }
  }
  if (library == NULL) {
    if (failure != NULL) *failure = why;
    SetLastError(why.error);
    return false;
  }
  InterlockedExchange(&table->ready, 1);
  return true;
}
