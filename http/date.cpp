#include "http/date.h"

#include <string.h>

// Three letters each, as the form spells them.
static const char DAY_NAMES[] = "SunMonTueWedThuFriSat";
static const char MONTH_NAMES[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
// The layout of "Sun, 06 Nov 1994 08:49:37 GMT": 'D' a digit, 'n' any byte of a name, others themselves.
static const char LAYOUT[] = "nnn, DD nnn DDDD DD:DD:DD GMT";
// Days of a common year before each month, and in all.
static const short DAYS_BEFORE[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// True when the three letters at `text` are one of `names`; *index says which.
static bool IsName(const char* text, const char* names, int* index) {
  for (*index = 0; names[3 * *index] != '\0'; ++*index)
    if (strncmp(text, names + 3 * *index, 3) == 0) return true;
  return false;
}

// Leap years from year 1 to `year`.
static int LeapYears(int year) {
  return year / 4 - year / 100 + year / 400;
}

long long ParseHttpDate(const char* text) {
  const int length = sizeof LAYOUT - 1;
  int numbers[5] = {0, 0, 0, 0, 0};  // day, year, hour, minute, second: each run of digits in turn
  int field = -1, weekday = 0, month = 0;
  for (int i = 0; i < length; ++i) {
    // One by one, so that a shorter text ends the loop at its terminator.
    if (LAYOUT[i] != 'D') {
      if (LAYOUT[i] == 'n' ? text[i] == '\0' : text[i] != LAYOUT[i]) return HTTP_DATE_NONE;
      continue;
    }
    if (text[i] < '0' || text[i] > '9') return HTTP_DATE_NONE;
    if (LAYOUT[i - 1] != 'D') ++field;
    numbers[field] = numbers[field] * 10 + (text[i] - '0');
  }
  for (const char* rest = text + length; *rest != '\0'; ++rest)
    if (*rest != ' ' && *rest != '\t') return HTTP_DATE_NONE;
  const int day = numbers[0], year = numbers[1];
  if (!IsName(text, DAY_NAMES, &weekday) || !IsName(text + 8, MONTH_NAMES, &month) || year < 1970) return HTTP_DATE_NONE;
  // February 29 counts in a leap year, and every later day of one moves by one.
  int leap = LeapYears(year) - LeapYears(year - 1);
  int monthDays = DAYS_BEFORE[month + 1] - DAYS_BEFORE[month] + (month == 1 ? leap : 0);
  // A leap second (60) is one the form allows.
  if (day < 1 || day > monthDays || numbers[2] > 23 || numbers[3] > 59 || numbers[4] > 60) return HTTP_DATE_NONE;
  int days = 365 * (year - 1970) + LeapYears(year - 1) - LeapYears(1969) + DAYS_BEFORE[month] + (month > 1 ? leap : 0) +
             day - 1;
  return days * 86400LL + numbers[2] * 3600 + numbers[3] * 60 + numbers[4];
}
