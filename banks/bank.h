// Memory banks: raw byte storage for scripts in a fixed table of eight slots.
// Plain logic with status results; banks/bank_api.cpp turns the statuses into
// -1, false or a fatal error.
#pragma once

#include <cstdint>

constexpr int kBankSlots = 8;

// One slot. A slot is taken while data is non-null; a bank of size 0 still
// takes its slot (it holds a one-byte block that is never addressed).
struct Bank {
  uint8_t* data;  // the bank's bytes, nullptr when the slot is free
  int32_t size;   // byte count, 0 when free; never changes while taken
};

enum class BankStatus { Ok, NoSlot, CannotOpen, OutOfMemory, ShortRead };

// Frees every slot. Start-up calls it before the script host runs; it also
// releases the bytes of banks still taken, so tests can call it freely.
void ClearBanks();

// The slot record, or nullptr for a number outside 0-7. Never changes the table.
const Bank* BankAt(int32_t slot);

// Takes the lowest free slot with `size` zero bytes. Returns the slot number,
// or -1 with *status NoSlot (all taken) or OutOfMemory (negative size or no
// memory).
int BankCreate(int32_t size, BankStatus* status);

// Frees a taken slot; a free slot or a number outside 0-7 is left alone.
void BankDelete(int32_t slot);

// The bank's size; 0 for a free slot or a number outside 0-7.
int32_t BankSizeOf(int32_t slot);

// Takes the lowest free slot (checked first) and loads the whole regular file
// at `path` into it. Returns the slot number, or -1 with *status NoSlot,
// CannotOpen (nullptr path, missing, unreadable, not a regular file),
// OutOfMemory (2 GiB or more, or no memory) or ShortRead (fewer bytes arrived
// than the file's size).
int BankLoadFile(const char* path, BankStatus* status);

// Saves the bank's bytes as the whole file at `path` without ever putting the
// previous file at risk: the bytes go to a new file in the same folder, which
// is flushed to disk and then renamed over `path`. On any failure the new
// file is removed, the old file is left exactly as it was, and the result is
// false. A free slot saves an empty file; a nullptr path, an empty path or a
// number outside 0-7 saves nothing and gives false.
bool BankSaveFile(int32_t slot, const char* path);

// Byte and little-endian word access. A free slot, a number outside 0-7 or an
// offset that is not inside the bank (for words: offset + 1 too) reads 0 and
// writes nothing.
int BankPeek(int32_t slot, int32_t offset);                  // 0-255
void BankPoke(int32_t slot, int32_t offset, int32_t value);  // stores the low 8 bits
int BankDeek(int32_t slot, int32_t offset);                  // 0-65535
void BankDoke(int32_t slot, int32_t offset, int32_t value);  // stores the low 16 bits
