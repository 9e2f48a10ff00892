// A response head as the head reader leaves it after its lines, for the tests
// of the plain-value decisions on answers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "http/head.h"

// The head after `lines` (status line first, each ending in LF), a range asked for.
inline HeadState HeadOf(const std::string& lines) {
  HeadState head;
  BeginHead(&head);
  head.partialAllowed = true;
  size_t start = 0;
  for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_TRUE(ExamineHeadLine(&head, lines.substr(start, end - start).c_str())) << lines.substr(start, end - start);
  return head;
}
