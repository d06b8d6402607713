// Engine API bindings of the memory banks: read the arguments, call the bank
// table, push the result. Out of memory and a file that shrinks while it is
// read end the process; everything else comes back as -1 or false.
#include "banks/bank_api.h"

#include "banks/bank.h"
#include "host/api_args.h"
#include "host/host.h"
#include "host/os_services.h"

namespace {

const char* ArgPath(lua_State* L, int index) {
  size_t length = 0;
  const char* text = ArgString(L, index, &length);
  return UsablePath(text, length);
}

// The fatal ends of a failed creation or load; the others are the script's to handle.
void FailIfFatal(BankStatus status) {
  if (status == BankStatus::OutOfMemory) FatalError(FATAL_OUT_OF_MEMORY);
  if (status == BankStatus::ShortRead) FatalError(FATAL_DATA);
}

}  // namespace

// CreateBank(size) -> slot or -1
int LuaCreateBank(lua_State* L) {
  BankStatus status;
  int slot = BankCreate(ArgInteger(L, 1), &status);
  FailIfFatal(status);
  PushNumber(L, slot);
  return 1;
}

// DeleteBank(slot)
int LuaDeleteBank(lua_State* L) {
  BankDelete(ArgInteger(L, 1));
  return 0;
}

// BankSize(slot) -> bytes
int LuaBankSize(lua_State* L) {
  PushNumber(L, BankSizeOf(ArgInteger(L, 1)));
  return 1;
}

// BLoad(path) -> slot or -1
int LuaBLoad(lua_State* L) {
  BankStatus status;
  int slot = BankLoadFile(ArgPath(L, 1), &status);
  FailIfFatal(status);
  PushNumber(L, slot);
  return 1;
}

// BSave(slot, path) -> true once the file holds the bank, false with the old file untouched
int LuaBSave(lua_State* L) {
  int32_t slot = ArgInteger(L, 1);
  PushBoolean(L, BankSaveFile(slot, ArgPath(L, 2)));
  return 1;
}

// Peek(slot, offset) -> 0-255
int LuaPeek(lua_State* L) {
  PushNumber(L, BankPeek(ArgInteger(L, 1), ArgInteger(L, 2)));
  return 1;
}

// Poke(slot, offset, value)
int LuaPoke(lua_State* L) {
  BankPoke(ArgInteger(L, 1), ArgInteger(L, 2), ArgInteger(L, 3));
  return 0;
}

// Deek(slot, offset) -> 0-65535
int LuaDeek(lua_State* L) {
  PushNumber(L, BankDeek(ArgInteger(L, 1), ArgInteger(L, 2)));
  return 1;
}

// Doke(slot, offset, value)
int LuaDoke(lua_State* L) {
  BankDoke(ArgInteger(L, 1), ArgInteger(L, 2), ArgInteger(L, 3));
  return 0;
}
