#include "http/body_rules.h"

int BodyReceiveSize(long long contentLength, long long received) {
  long long remaining = contentLength - received;
  return remaining < BODY_CHUNK_SIZE ? static_cast<int>(remaining) : BODY_CHUNK_SIZE;
}

bool BodyFitsOnDisk(long long length, long long held, unsigned long long available) {
  // Compared first: a negative length less a large count would overflow.
  return length >= 0 && (length <= held || static_cast<unsigned long long>(length - held) <= available);
}

BodyRoom JudgeBodyRoom(long long length, long long held, long long replaced, unsigned long long available,
                       long long largestFile) {
  if (length > largestFile) return BODY_ROOM_FILE_TOO_LARGE;
  // Added without overflow: what a replaced file frees counts as free bytes.
  if (replaced > 0) available = available > ~0ULL - replaced ? ~0ULL : available + replaced;
  return BodyFitsOnDisk(length, held, available) ? BODY_ROOM_FITS : BODY_ROOM_DISK_FULL;
}

int PercentReceived(long long received, long long contentLength) {
  // Each step goes through a double in memory: the x87 unit would otherwise
  // truncate its wider intermediate (29 of 100 would report 28).
  volatile double share = static_cast<double>(received) / static_cast<double>(contentLength);
  volatile double percent = share * 100.0;
  return static_cast<int>(percent);
}
