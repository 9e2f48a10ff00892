// The response head as the download client examines it: the status line, the
// length lines and their value. Each line of the input (split at LF) is one
// line of the head as the line reader hands it on.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "download/http_protocol.h"
#include "fuzz/fuzz_support.h"

// The value of a length line's text as the client defines it, worked out on
// the digits as text: skip blanks, one sign, digits up to the first other
// character, clamped to the signed 32-bit range.
static long long ExpectedLength(const std::string& line) {
  size_t i = 16;
  while (i < line.size() && strchr(" \t\n\v\f\r", line[i]) != NULL) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  std::string digits;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') digits += line[i++];
  size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? std::string() : digits.substr(first);
  const std::string limit = negative ? "2147483648" : "2147483647";
  bool beyond = digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
  long long value = beyond ? std::stoll(limit) : (digits.empty() ? 0 : std::stoll(digits));
  return negative ? -value : value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string input(reinterpret_cast<const char*>(bytes), size);
  std::vector<std::string> lines;
  for (size_t start = 0; start <= input.size();) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    // A line as the reader stores it: at most 1,024 characters, read as text up to a zero.
    std::string line = input.substr(start, std::min<size_t>(end - start, HEAD_LINE_SIZE));
    lines.push_back(line.substr(0, line.find('\0')));
    start = end + 1;
  }

  // The line buffer as the client has it: 1,024 characters and the guard byte.
  std::unique_ptr<char[]> buffer(new char[HEAD_LINE_SIZE + 1]);
  HeadState head;
  BeginHead(&head);
  bool accepted = true;
  bool expectLength = false;
  long long expectedLength = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    memcpy(buffer.get(), line.c_str(), line.size() + 1);
    bool taken = ExamineHeadLine(&head, buffer.get());
    if (i == 0) {
      bool statusOk = line == "HTTP/1.1 200 OK" || line == "HTTP/1.0 200 OK";
      FUZZ_CHECK(taken == statusOk, "exactly the two 200 OK lines are taken as the status line");
      FUZZ_CHECK(IsAcceptedStatusLine(buffer.get()) == statusOk, "the status check compares whole lines");
      if (!taken) {
        accepted = false;
        break;
      }
    } else {
      FUZZ_CHECK(taken, "after the status line every line is taken");
    }
    bool lengthLine = line.compare(0, 16, "Content-Length: ") == 0;
    FUZZ_CHECK(IsContentLengthLine(buffer.get()) == lengthLine, "a length line begins with \"Content-Length: \"");
    if (lengthLine) {
      expectLength = true;
      expectedLength = ExpectedLength(line);
    }
  }
  if (!accepted) return 0;
  FUZZ_CHECK(head.statusSeen, "an accepted head has had its status line");
  FUZZ_CHECK(head.lengthSeen == expectLength, "the length is seen exactly when a length line came");
  FUZZ_CHECK(head.contentLength == expectedLength, "the last length line counts, its value clamped");
  return 0;
}
