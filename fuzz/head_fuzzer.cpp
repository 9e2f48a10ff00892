// The response head as the download client reads it, byte by byte: lines at
// LF with every CR dropped, lines over 1,024 characters in pieces, the empty
// rest of a cut line, the status line (a 206 one too when a range was asked
// for), the length lines (names in any case, whole lines only, digits and
// nothing else or a list of one value, one number however often it is
// repeated), a transfer coding named, the validators, the date and the range
// taken from whole lines only (two ranges read differently refusing the
// head), the whole head's size and
// time limits, a head that the connection's end cuts before its empty line, a
// NUL byte inside the head, and numbers with more digits than any accepted
// value. The reader is fed the input's bytes (then the connection's end) and
// compared with a model worked out on the whole input: where each piece of
// each line is complete, where the head ends, and which comes first. A date
// that is read is formatted back and must be the text it came from.
#include <ctype.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include <time.h>

#include "http/date.h"
#include "http/head.h"
#include "http/head_reader.h"
#include "fuzz/fuzz_support.h"

// A run of digits as a number the client takes: no more digits than the
// largest accepted value has (leading zeros counted), and no larger value.
// Worked out on the digits as text.
static bool ModelNumber(const std::string& digits, long long* value) {
  const std::string largest = std::to_string(LENGTH_VALUE_MAX);
  *value = 0;
  if (digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest)) return false;
  *value = digits.empty() ? 0 : std::stoll(digits);
  return true;
}

// A length line's value (blanks around it dropped) as the client takes it:
// digits and nothing else, or a comma-separated list of such numbers, blanks
// around each, all of one value; false (and 0) for anything else, and for a
// number it does not take.
static bool ExpectedLength(const std::string& value, long long* length) {
  long long first = -1;
  *length = 0;
  for (size_t start = 0; start <= value.size();) {
    size_t comma = std::min(value.find(',', start), value.size());
    std::string member = value.substr(start, comma - start);
    size_t from = member.find_first_not_of(" \t"), to = member.find_last_not_of(" \t");
    member = from == std::string::npos ? std::string() : member.substr(from, to - from + 1);
    long long number = 0;
    if (member.empty() || member.find_first_not_of("0123456789") != std::string::npos || !ModelNumber(member, &number) ||
        (first >= 0 && number != first))
      return false;
    first = number;
    start = comma + 1;
  }
  *length = first;
  return true;
}

// A header's value when `text` is the header `name` (any case, then a colon),
// blanks around it dropped; false for another line.
static bool ModelHeader(const std::string& text, const std::string& name, std::string& value) {
  if (text.size() <= name.size() || text[name.size()] != ':') return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (tolower(static_cast<unsigned char>(text[i])) != tolower(static_cast<unsigned char>(name[i]))) return false;
  size_t first = text.find_first_not_of(" \t", name.size() + 1);
  size_t last = text.find_last_not_of(" \t");
  value = first == std::string::npos || last < first ? std::string() : text.substr(first, last - first + 1);
  return true;
}

// A validator as it may be sent back: shorter than VALIDATOR_SIZE, no control character but a tab.
static std::string ModelValidator(const std::string& value) {
  if (value.size() >= static_cast<size_t>(VALIDATOR_SIZE)) return "";
  for (unsigned char c : value)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return "";
  return value;
}

// "bytes first-last/total", read with the C library: the unit in any case,
// numbers of plain digits that the client takes, first <= last < total.
static bool ModelRange(const std::string& value, long long range[3]) {
  if (value.size() < 6 || strncasecmp(value.c_str(), "bytes ", 6) != 0) return false;
  size_t at = std::min(value.find_first_not_of(' ', 6), value.size());
  const char separators[] = {'-', '/'};
  for (int i = 0; i < 3; ++i) {
    size_t end = std::min(value.find_first_not_of("0123456789", at), value.size());
    if (end == at || !ModelNumber(value.substr(at, end - at), &range[i])) return false;
    if (i < 2 && (end == value.size() || value[end] != separators[i])) return false;
    at = i < 2 ? end + 1 : end;
  }
  if (value.find_first_not_of(" \t", at) != std::string::npos) return false;
  return range[0] <= range[1] && range[1] < range[2];
}

// A piece of a line as it is examined, the index of the byte that completes
// it (the input's size for the connection's end), and whether it is a whole
// line (no piece of a longer one).
struct Piece {
  std::string text;
  size_t complete;
  bool whole;
  bool first;  // the first piece of its line (the whole line when `whole`)
};

// The pieces of every line up to the empty line that ends the head, and where
// that is (the input's size, and `ended` false, when the connection's end comes first).
static void ModelLines(const std::string& input, std::vector<Piece>& pieces, size_t& headEnd, bool& ended) {
  headEnd = input.size();
  ended = false;
  for (size_t start = 0; start <= input.size();) {
    size_t lineFeed = std::min(input.find('\n', start), input.size());
    std::string text;
    std::vector<size_t> at;  // where each character of the line stands
    for (size_t i = start; i < lineFeed; ++i)
      if (input[i] != '\r') {
        text += input[i];
        at.push_back(i);
      }
    if (text.empty() && lineFeed < input.size()) {
      headEnd = lineFeed;
      ended = true;
      return;
    }
    for (size_t p = 0; p < text.size(); p += HEAD_LINE_SIZE) {
      size_t length = std::min<size_t>(HEAD_LINE_SIZE, text.size() - p);
      // A full piece is complete at its last character, a shorter one at the line's end.
      Piece piece = {text.substr(p, length), length == static_cast<size_t>(HEAD_LINE_SIZE) ? at[p + length - 1] : lineFeed,
                     text.size() < static_cast<size_t>(HEAD_LINE_SIZE), p == 0};
      pieces.push_back(piece);
    }
    if (lineFeed == input.size()) return;  // the connection's end: the head ends behind the last piece
    start = lineFeed + 1;
  }
}

// A date that the client reads, formatted back (the weekday left aside, which
// it does not check), is the text it came from; a date of 1970 or later that
// the C library reads in that form, and that formats back to exactly the same
// text, is read by the client too, as the same second.
static void CheckDate(const std::string& text) {
  const char* const form = "%a, %d %b %Y %H:%M:%S GMT";
  const long long seconds = ParseHttpDate(text.c_str());
  char back[64] = "";
  if (seconds != HTTP_DATE_NONE) {
    time_t at = static_cast<time_t>(seconds);
    struct tm when;
    gmtime_r(&at, &when);
    strftime(back, sizeof back, form, &when);
    // A leap second (60) is the next minute's first once formatted.
    FUZZ_CHECK(text.compare(5, 24, back + 5) == 0 || text.compare(23, 2, "60") == 0,
               "a date read is the one its text names");
  }
  struct tm parts = {};
  const char* end = strptime(text.c_str(), form, &parts);
  if (end == NULL || *end != '\0') return;
  time_t at = timegm(&parts);
  if (at < 0 || strftime(back, sizeof back, form, &parts) == 0 || text != back) return;
  FUZZ_CHECK(seconds == static_cast<long long>(at), "a date in the current form is read");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const unsigned startTick = data.ConsumeIntegral<unsigned>();
  const unsigned tickStep = data.ConsumeIntegralInRange<unsigned>(0, 3);
  const unsigned timeLimit = data.ConsumeIntegralInRange<unsigned>(0, 20000);
  const int sizeLimit = data.ConsumeBool() ? HEAD_SIZE_LIMIT : data.ConsumeIntegralInRange<int>(0, 3000);
  const bool partialAllowed = data.ConsumeBool();
  const std::string input = data.ConsumeRemainingBytesAsString();

  // The reader, fed one byte after another at ticks `tickStep` apart (across
  // the counter's wrap when the start is near it), then the connection's end.
  HeadReader reader;
  BeginHeadReader(&reader, sizeLimit, startTick, timeLimit);
  reader.head.partialAllowed = partialAllowed;
  HeadRead outcome = HEAD_READ_MORE;
  size_t used = 0;
  while (outcome == HEAD_READ_MORE && used < input.size()) {
    outcome = ReadHeadByte(&reader, input[used], startTick + tickStep * static_cast<unsigned>(used + 1));
    ++used;
    FUZZ_CHECK(reader.line[HEAD_LINE_SIZE] == '\0', "the guard byte behind the line stays zero");
  }
  if (outcome == HEAD_READ_MORE) outcome = CloseHead(&reader);

  // The model: the first byte that breaks a limit is not looked at.
  size_t bound = std::string::npos;  // none
  HeadRead boundOutcome = HEAD_READ_MORE;
  for (size_t i = 0; i < input.size(); ++i) {
    if (i >= static_cast<size_t>(sizeLimit)) boundOutcome = HEAD_READ_TOO_LONG;
    else if (static_cast<unsigned long long>(tickStep) * (i + 1) > timeLimit) boundOutcome = HEAD_READ_TOO_SLOW;
    if (boundOutcome != HEAD_READ_MORE) {
      bound = i;
      break;
    }
  }
  std::vector<Piece> pieces;
  size_t headEnd;
  bool ended;
  ModelLines(input, pieces, headEnd, ended);
  HeadRead expected = ended ? HEAD_READ_ENDED : HEAD_READ_CUT;
  size_t decided = headEnd;  // the index of the byte that decides, the input's size for its end
  // A NUL byte inside the head refuses it where it stands, with its line up to it.
  const size_t nul = input.find('\0');
  std::string nulLine;
  if (nul < headEnd) {
    expected = HEAD_READ_NUL_BYTE;
    decided = nul;
    size_t start = input.rfind('\n', nul);
    start = start == std::string::npos ? 0 : start + 1;
    for (size_t i = start; i < nul; ++i)
      if (input[i] != '\r') nulLine += input[i];
    nulLine = nulLine.substr(nulLine.size() / HEAD_LINE_SIZE * HEAD_LINE_SIZE);  // the pieces before it were examined
  }
  bool lengthSeen = false, lengthValid = true, codingNamed = false;
  long long length = 0;
  int status = 0;
  std::string refused, etag, lastModified, date, value;
  bool rangeSeen = false, rangeValid = false, rangesDiffer = false;
  long long range[3] = {0, 0, 0};
  for (size_t i = 0; i < pieces.size(); ++i) {
    // A piece completed by the NUL byte, or behind it, is never examined.
    if (pieces[i].complete >= bound || (nul < headEnd && pieces[i].complete >= nul)) break;
    const std::string& text = pieces[i].text;
    bool partial = partialAllowed && (text.compare(0, 12, "HTTP/1.1 206") == 0 || text.compare(0, 12, "HTTP/1.0 206") == 0) &&
                   (text.size() == 12 || text[12] == ' ');
    if (i == 0 && text != "HTTP/1.1 200 OK" && text != "HTTP/1.0 200 OK" && !partial) {
      expected = HEAD_READ_REFUSED;
      decided = pieces[i].complete;
      refused = text;
      break;
    }
    if (i == 0) {
      status = partial ? 206 : 200;
      continue;
    }
    // A piece behind a cut is no line; a first piece counts for a length (refused) and a coding.
    if (!pieces[i].first) continue;
    if (ModelHeader(text, "content-length", value)) {
      long long number = 0;
      bool taken = pieces[i].whole && ExpectedLength(value, &number);
      lengthValid = lengthValid && taken && (!lengthSeen || number == length);
      length = lengthValid ? number : 0;
      lengthSeen = true;
    } else if (ModelHeader(text, "transfer-encoding", value)) {
      codingNamed = true;
    }
    if (!pieces[i].whole) continue;
    if (ModelHeader(text, "date", value)) {
      date = value;
      CheckDate(value);
    } else if (ModelHeader(text, "etag", value)) {
      etag = ModelValidator(value);
    } else if (ModelHeader(text, "last-modified", value)) {
      lastModified = ModelValidator(value);
      CheckDate(value);
    } else if (ModelHeader(text, "content-range", value)) {
      long long earlier[3] = {range[0], range[1], range[2]};
      bool valid = ModelRange(value, range);
      if (rangeSeen && (valid != rangeValid || (valid && !std::equal(range, range + 3, earlier)))) rangesDiffer = true;
      rangeSeen = true;
      rangeValid = valid;
    }
  }
  if (decided >= bound) {
    expected = boundOutcome;
    decided = bound;
  }

  FUZZ_CHECK(outcome == expected, "the head ends, is refused or runs out of its budget where the model says");
  FUZZ_CHECK(used == std::min(decided + 1, input.size()),
             "the reader stops at the byte that decides: not a byte of the body is taken for the head");
  if (outcome == HEAD_READ_REFUSED) FUZZ_CHECK(refused == reader.line, "the refused status line is the one logged");
  if (outcome == HEAD_READ_NUL_BYTE) FUZZ_CHECK(nulLine == reader.line, "the line logged is the NUL byte's, up to it");
  if (outcome != HEAD_READ_ENDED && outcome != HEAD_READ_CUT) return 0;
  const HeadState& head = reader.head;
  FUZZ_CHECK(head.statusSeen == (status != 0) && head.status == status, "the status line taken is the one expected");
  FUZZ_CHECK(head.lengthSeen == lengthSeen, "the length is seen exactly when a length line came");
  FUZZ_CHECK((head.lengthRefusal == NULL) == lengthValid && head.contentLength == length,
             "the length lines agree on one number, none beyond the largest length or cut");
  FUZZ_CHECK(head.codingNamed == codingNamed, "a transfer coding is named exactly when a line names one");
  FUZZ_CHECK(head.date == ParseHttpDate(date.c_str()), "the date is the last whole Date line's");
  FUZZ_CHECK(etag == head.etag && lastModified == head.lastModified,
             "the validators are the last whole lines' values, blanks dropped, none when unfit to send back");
  FUZZ_CHECK(head.rangeSeen == rangeSeen && head.rangeValid == rangeValid, "a content range is seen and judged");
  FUZZ_CHECK(head.rangesDiffer == rangesDiffer, "two content ranges differ exactly when they are read differently");
  if (rangeValid)
    FUZZ_CHECK(head.range.first == range[0] && head.range.last == range[1] && head.range.total == range[2],
               "the content range's numbers are the ones sent");
  return 0;
}
