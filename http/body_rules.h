// The body of an answer, in plain values: how much each receive asks for,
// whether the file fits its volume, and the share received.
#pragma once

const int BODY_CHUNK_SIZE = 4096;

// How many bytes the next body receive asks for: what remains, at most a chunk.
int BodyReceiveSize(long long contentLength, long long received);

// True when a file that holds `held` bytes (0 for a new one) and will hold
// `length` when the body is in has room for them: what it grows by is at most
// `available`, the bytes free on its volume. A file written anew from byte 0
// frees what it held, so both an appended rest and a whole new body need the
// same. A length below `held` always fits; a negative one never does.
bool BodyFitsOnDisk(long long length, long long held, unsigned long long available);

// The largest file that a FAT or FAT32 volume holds: its sizes have 32 bits.
const long long FAT_FILE_SIZE_MAX = 4294967295LL;

enum BodyRoom {
  BODY_ROOM_FITS,
  BODY_ROOM_DISK_FULL,    // more than the free bytes (a negative length too)
  BODY_ROOM_FILE_TOO_LARGE  // larger than any file the volume's file system holds
};

// Whether a file of `length` bytes can be written: no larger than
// `largestFile`, the volume's largest, and growing by no more than
// `available` beyond what it frees, which is `held` (the bytes the open file
// holds) and `replaced` (the bytes of the file it takes the place of, freed
// when it does).
BodyRoom JudgeBodyRoom(long long length, long long held, long long replaced, unsigned long long available,
                       long long largestFile);

// The whole percentage of `received` (0 to `contentLength`) out of
// `contentLength` (which is positive), truncated toward zero: no count
// overflows, and the share is exact to a byte up to 2^53 bytes (8 PiB).
int PercentReceived(long long received, long long contentLength);
