// The plan of a download fetched in ranges, called directly: when ranges are
// allowed, the split, what a connection takes next, the complete prefix, and
// what an answer and a request's end mean.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "download/range_plan.h"
#include "head_of.h"

namespace {

const long long MIB = 1024 * 1024;

std::string Parts(const RangePlan& plan) {
  std::string text;
  for (const RangePart& part : plan.parts)
    if (part.next < part.end)
      text += std::to_string(part.next) + "-" + std::to_string(part.end) + "@" + std::to_string(part.owner) + " ";
  return text;
}

TEST(RangePlan, RangesNeedA200Of8MibWithAStrongValidatorByteRangesAndTwoConnections) {
  struct Case {
    std::string lines;
    int connections;
    bool allowed;
  } cases[] = {
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: bytes\n", 2, true},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: BYTES \n", 8, true},
      {"HTTP/1.1 200 OK\nContent-Length: 8388607\nETag: \"v\"\nAccept-Ranges: bytes\n", 4, false},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: bytes\n", 1, false},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: none\n", 4, false},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: bytes, x\n", 4, false},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: \"v\"\n", 4, false},
      {"HTTP/1.1 200 OK\nContent-Length: 8388608\nETag: W/\"v\"\nAccept-Ranges: bytes\n", 4, false},
      {"HTTP/1.1 206 Partial\nContent-Length: 8388608\nETag: \"v\"\nAccept-Ranges: bytes\n", 4, false},
  };
  for (const Case& c : cases) {
    HeadState head = HeadOf(c.lines);
    ResumePoint point;
    StartResumePoint(head, &point);
    EXPECT_EQ(c.allowed, RangesAllowed(head, point, c.connections)) << c.lines << c.connections;
  }
}

TEST(RangePlan, SplitGivesEqualRangesAndTheRestToTheLast) {
  RangePlan plan;
  SplitRanges(&plan, 8 * MIB + 3, 4);
  EXPECT_EQ("0-2097152@0 2097152-4194304@1 4194304-6291456@2 6291456-8388611@3 ", Parts(plan));
  EXPECT_EQ(4, plan.connections);
  SplitRanges(&plan, 10, 1);
  EXPECT_EQ("0-10@0 ", Parts(plan));
  SplitRanges(&plan, 80, 9);
  EXPECT_EQ(8, plan.connections);
  EXPECT_EQ(0, CompletePrefix(plan));
}

// A range given back goes first (the largest of them); else the later half
// of the largest range being fetched, down to exactly 1 MiB and not below.
TEST(RangePlan, NextRangeIsOneGivenBackElseHalfOfTheLargest) {
  RangePlan plan;
  SplitRanges(&plan, 16 * MIB, 4);
  plan.parts[0].next = plan.parts[0].end;  // connection 0 is done
  plan.parts[1].next = 8 * MIB - 2 * MIB;
  plan.parts[2].next = 12 * MIB - 3 * MIB;  // the largest
  plan.parts[3].next = 16 * MIB - 2 * MIB - 1;
  ASSERT_EQ(0, TakeNextRange(&plan, 0));
  EXPECT_EQ("11010048-12582912@0 6291456-8388608@1 9437184-11010048@2 14680063-16777216@3 ", Parts(plan));

  // Connection 3 leaves with bytes to come: connection 1, done, gets them rather than a half.
  LeaveRanges(&plan, 3);
  EXPECT_EQ(3, plan.connections);
  plan.parts[1].next = plan.parts[1].end;
  EXPECT_EQ(3, TakeNextRange(&plan, 1));
  EXPECT_EQ("11010048-12582912@0 9437184-11010048@2 14680063-16777216@1 ", Parts(plan));
  EXPECT_EQ(9437184, CompletePrefix(plan));

  struct Case {
    long long left;
    bool taken;
  } edges[] = {{2 * MIB, true}, {2 * MIB + 1, true}, {2 * MIB - 1, false}};
  for (const Case& c : edges) {
    SplitRanges(&plan, 16 * MIB, 2);
    plan.parts[0].next = plan.parts[0].end;
    plan.parts[1].next = plan.parts[1].end - c.left;
    int range = TakeNextRange(&plan, 0);
    EXPECT_EQ(c.taken, range != NO_RANGE) << c.left;
    if (range != NO_RANGE) {
      EXPECT_EQ(c.left / 2, plan.parts[range].end - plan.parts[range].next);
      EXPECT_EQ(16 * MIB, plan.parts[range].end);
      EXPECT_EQ(plan.parts[range].next, plan.parts[1].end);
    }
  }
}

TEST(RangePlan, CompletePrefixEndsAtTheFirstByteStillToCome) {
  RangePlan plan;
  SplitRanges(&plan, 16 * MIB, 4);
  plan.parts[0].next = 100;
  EXPECT_EQ(100, CompletePrefix(plan));
  plan.parts[0].next = plan.parts[0].end;
  plan.parts[1].next = 5 * MIB;
  EXPECT_EQ(5 * MIB, CompletePrefix(plan));
  plan.parts[1].next = plan.parts[1].end;
  plan.parts[2].next = plan.parts[2].end;
  plan.parts[3].next = plan.parts[3].end - 1;
  EXPECT_EQ(16 * MIB - 1, CompletePrefix(plan));
  plan.parts[3].next = plan.parts[3].end;
  EXPECT_EQ(16 * MIB, CompletePrefix(plan));
}

TEST(RangePlan, AnExtraAnswerMustBeExactlyTheRangeOfTheSameFile) {
  ResumePoint point;
  StartResumePoint(HeadOf("HTTP/1.1 200 OK\nContent-Length: 1000\nETag: \"v\"\nLast-Modified: " 
                          "Mon, 07 Dec 2026 10:00:00 GMT\n"),
                   &point);
  const std::string range = "HTTP/1.1 206 Partial\nContent-Range: bytes 100-199/1000\n";
  struct Case {
    std::string lines;
    RangeAnswer answer;
  } cases[] = {
      {range + "Content-Length: 100\nETag: \"v\"\n", RANGE_ANSWER_TAKEN},
      {range, RANGE_ANSWER_TAKEN},
      {range + "ETag: \"w\"\n", RANGE_ANSWER_CHANGED},
      {range + "Last-Modified: Mon, 07 Dec 2026 10:00:01 GMT\n", RANGE_ANSWER_CHANGED},
      {"HTTP/1.1 200 OK\nContent-Length: 1000\nETag: \"v\"\n", RANGE_ANSWER_CHANGED},
      {range + "Content-Length: 101\n", RANGE_ANSWER_WRONG},
      {range + "Transfer-Encoding: chunked\n", RANGE_ANSWER_WRONG},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-198/1000\n", RANGE_ANSWER_WRONG},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 101-199/1000\n", RANGE_ANSWER_WRONG},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-199/1001\n", RANGE_ANSWER_WRONG},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes */1000\n", RANGE_ANSWER_WRONG},
      {"HTTP/1.1 206 Partial\n", RANGE_ANSWER_WRONG},
  };
  for (const Case& c : cases) {
    const char* why = NULL;
    EXPECT_EQ(c.answer, JudgeRangeAnswer(HeadOf(c.lines), point, 100, 199, &why)) << c.lines;
    EXPECT_EQ(c.answer == RANGE_ANSWER_TAKEN, std::string(why).empty()) << c.lines;
  }
  // Refused status lines: the engine hands in their number.
  struct Status {
    int status;
    RangeAnswer answer;
  } statuses[] = {{503, RANGE_ANSWER_BUSY}, {429, RANGE_ANSWER_BUSY}, {404, RANGE_ANSWER_WRONG},
                  {502, RANGE_ANSWER_WRONG}, {0, RANGE_ANSWER_WRONG}};
  for (const Status& s : statuses) {
    HeadState head;
    BeginHead(&head);
    head.status = s.status;
    const char* why = NULL;
    EXPECT_EQ(s.answer, JudgeRangeAnswer(head, point, 100, 199, &why)) << s.status;
  }
}

TEST(RangePlan, StatusNumbersAreReadFromWholeStatusLines) {
  EXPECT_EQ(503, StatusOfLine("HTTP/1.1 503 Service Unavailable"));
  EXPECT_EQ(429, StatusOfLine("HTTP/1.0 429"));
  EXPECT_EQ(0, StatusOfLine("HTTP/1.1 5030"));
  EXPECT_EQ(0, StatusOfLine("HTTP/1.1 50"));
  EXPECT_EQ(0, StatusOfLine("HTTP/1.1"));
  EXPECT_EQ(0, StatusOfLine("ICY 200 OK"));
}

// Breaks are tried again up to the download's tries; a busy server or a
// refused connection ends an extra connection at once, while the first goes on.
TEST(RangePlan, ARequestsEndDecidesTheConnectionsNextStep) {
  struct Case {
    RangeEnd end;
    int connection;
    int number;
    RangeStep step;
  } cases[] = {
      {RANGE_END_DONE, 2, 5, RANGE_STEP_NEXT},
      {RANGE_END_BROKEN, 2, 1, RANGE_STEP_AGAIN},
      {RANGE_END_BROKEN, 2, DOWNLOAD_TRIES - 1, RANGE_STEP_AGAIN},
      {RANGE_END_BROKEN, 2, DOWNLOAD_TRIES, RANGE_STEP_LEAVE},
      {RANGE_END_BUSY, 1, 1, RANGE_STEP_LEAVE},
      {RANGE_END_NOT_CONNECTED, 1, 1, RANGE_STEP_LEAVE},
      {RANGE_END_BUSY, 0, 1, RANGE_STEP_AGAIN},
      {RANGE_END_NOT_CONNECTED, 0, DOWNLOAD_TRIES - 1, RANGE_STEP_AGAIN},
      {RANGE_END_NOT_CONNECTED, 0, DOWNLOAD_TRIES, RANGE_STEP_LEAVE},
      {RANGE_END_WRONG, 0, 1, RANGE_STEP_LEAVE},
      {RANGE_END_CHANGED, 3, 1, RANGE_STEP_STOP},
      {RANGE_END_FAILED, 0, 1, RANGE_STEP_STOP},
      {RANGE_END_STOPPED, 1, 1, RANGE_STEP_STOP},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.step, DecideRangeStep(c.end, c.connection, c.number)) << c.end << " " << c.connection << " " << c.number;
  EXPECT_EQ(TRY_CHANGED, DownloadEndOfRanges(RANGE_END_CHANGED));
  EXPECT_EQ(TRY_REFUSED, DownloadEndOfRanges(RANGE_END_WRONG));
  EXPECT_EQ(TRY_REFUSED, DownloadEndOfRanges(RANGE_END_FAILED));
  EXPECT_EQ(TRY_BROKEN, DownloadEndOfRanges(RANGE_END_BROKEN));
  EXPECT_EQ(TRY_BROKEN, DownloadEndOfRanges(RANGE_END_BUSY));
}

}  // namespace
