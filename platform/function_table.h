// A process-wide table of a system library's functions: looked up together on
// first use, the library loaded from the system folder by its full path, and
// then kept, with the library, for the rest of the process (its own threads
// may outlive a call). The table's owner declares a struct of typed function
// pointers, its slots and its FunctionTable as constants; nothing here runs
// before the first use.
#pragma once

#include <windows.h>

#include <type_traits>

// One function of a table: its exported name and the member it fills.
struct FunctionSlot {
  const char* name;
  void* member;
};

// The slot for `member`, which must be a pointer to a function: the table's
// struct keeps the type that the library's header declares.
template <typename Function>
constexpr FunctionSlot Slot(Function* member, const char* name) {
  static_assert(std::is_pointer<Function>::value && std::is_function<typename std::remove_pointer<Function>::type>::value,
                "a slot holds a pointer to a function");
  return FunctionSlot{name, member};
}

struct FunctionTable {
  const WCHAR* const* libraries;  // tried in this order until one loads; null ends the list
  const FunctionSlot* slots;
  int slotCount;
  volatile LONG ready;  // every slot filled; set last
};

// Why a table could not be filled, for the caller's run-log line.
struct FunctionTableFailure {
  const WCHAR* library;  // the library tried last
  const char* missing;   // the first function it lacks; null when no library loaded
  DWORD error;           // the loader's error, or ERROR_PROC_NOT_FOUND
};

// Fills every slot from the first of the table's libraries that loads, unless
// an earlier call did. False, with *failure (when given) and the thread's last
// error saying why, when no library loads or the one that did lacks a
// function; that library is then released and a later call tries again.
// Two threads racing here store the same addresses.
bool FillFunctionTable(FunctionTable* table, FunctionTableFailure* failure);
