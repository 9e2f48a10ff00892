// The plan of a download fetched in ranges, called directly at the edges of
// its decisions: when ranges are allowed, where a range is split, what a
// connection asks for next, the complete prefix, and what an answer means.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "http/range_plan.h"
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

std::string Ask(const RangeAsk& ask) { return std::to_string(ask.first) + "-" + std::to_string(ask.last); }

// Connection 0 owns everything; the further ones ask for equal shares, the
// last one for the rest; a range becomes an asker's only when it claims it.
TEST(RangePlan, ARangeIsSplitWhenItsHeadIsTakenNotWhenAskedFor) {
  RangePlan plan;
  BeginRangePlan(&plan, 8 * MIB + 3, 4);
  EXPECT_EQ("0-8388611@0 ", Parts(plan));
  EXPECT_EQ("2097152-4194303", Ask(plan.asks[1]));
  EXPECT_EQ("6291456-8388610", Ask(plan.asks[3]));
  ASSERT_GE(ClaimRange(&plan, 3, 6291456), 0);
  EXPECT_EQ("0-6291456@0 6291456-8388611@3 ", Parts(plan));
  plan.parts[0].next = 2097152 + 10;  // connection 0 read past where connection 1 asked for
  EXPECT_EQ(NO_RANGE, ClaimRange(&plan, 1, 2097152)) << "a byte fetched meanwhile is no range";
  EXPECT_TRUE(plan.worked);
  BeginRangePlan(&plan, 80, 9);
  EXPECT_EQ(8, plan.connections);
  plan.off = true;
  EXPECT_EQ(NO_RANGE, ClaimRange(&plan, 1, 10)) << "no range once ranges are off";
}

// Runs that nobody fetches or asked for go first, whatever their size; else
// the later half of the largest run being fetched, down to exactly 1 MiB.
TEST(RangePlan, NextAskSkipsPendingAsksAndTakesHalvesOfAtLeastOneMib) {
  RangePlan plan;
  BeginRangePlan(&plan, 16 * MIB, 4);
  GiveBack(&plan, 0);  // 0-16 MiB nobody's; asks pending at 4, 8 and 12 MiB
  RangeAsk ask;
  ASSERT_TRUE(NextAsk(&plan, 0, &ask));
  EXPECT_EQ("0-4194303", Ask(ask));
  for (int i = 1; i < 4; ++i) ClaimRange(&plan, i, i * 4 * MIB);
  ClaimRange(&plan, 0, 0);
  plan.parts[0].next = 4 * MIB;  // connection 0 is done
  ASSERT_TRUE(NextAsk(&plan, 0, &ask));
  EXPECT_EQ("6291456-8388607", Ask(ask)) << "the later half of the first of the largest runs";
  plan.parts[2].next = 9 * MIB;
  plan.parts[3].next = plan.parts[3].end;  // connection 3 is done
  ASSERT_TRUE(NextAsk(&plan, 3, &ask));
  EXPECT_EQ("11010048-12582911", Ask(ask)) << "connection 0's pending half shortens connection 1's run";

  struct Case {
    long long left;
    bool asked;
  } edges[] = {{2 * MIB, true}, {2 * MIB + 1, true}, {2 * MIB - 1, false}};
  for (const Case& c : edges) {
    BeginRangePlan(&plan, 16 * MIB, 2);
    ClaimRange(&plan, 1, 16 * MIB - c.left);
    plan.parts[0].next = plan.parts[0].end;
    EXPECT_EQ(c.asked, NextAsk(&plan, 0, &ask)) << c.left;
    if (c.asked) {
      EXPECT_EQ(std::to_string(16 * MIB - c.left / 2) + "-" + std::to_string(16 * MIB - 1), Ask(ask));
    }
  }
}

TEST(RangePlan, CompletePrefixEndsAtTheFirstByteStillToCome) {
  RangePlan plan;
  BeginRangePlan(&plan, 16 * MIB, 4);
  for (int i = 1; i < 4; ++i) ClaimRange(&plan, i, i * 4 * MIB);
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

// A range must start at the byte asked for and reach at least the last one
// (it may run on); the validators come first; the first request sent again
// must bring the first answer's file.
TEST(RangePlan, AnAnswerMustStartAtTheByteAskedForOfTheSameFile) {
  ResumePoint point;
  const std::string modified = "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n";
  StartResumePoint(HeadOf("HTTP/1.1 200 OK\nContent-Length: 1000\nETag: \"v\"\n" + modified), &point);
  const std::string range = "HTTP/1.1 206 Partial\nContent-Range: bytes 100-199/1000\n";
  const std::string whole = "HTTP/1.1 200 OK\nContent-Length: 1000\n";
  const RangeAsk asked = {100, 199}, plain = {PLAIN_ASK, 999};
  struct Case {
    std::string lines;
    RangeAnswer answer;
    RangeAsk ask;
  } cases[] = {
      {range + "Content-Length: 100\nETag: \"v\"\n", RANGE_ANSWER_TAKEN, asked},
      {range, RANGE_ANSWER_TAKEN, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-999/1000\n", RANGE_ANSWER_TAKEN, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-999/1000\nContent-Length: 100\n", RANGE_ANSWER_WRONG, asked},
      {range + "ETag: \"w\"\n", RANGE_ANSWER_CHANGED, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 101-199/1000\nETag: \"w\"\n", RANGE_ANSWER_CHANGED, asked},
      {range + "Last-Modified: Mon, 07 Dec 2026 10:00:01 GMT\n", RANGE_ANSWER_CHANGED, asked},
      {whole + "ETag: \"v\"\n", RANGE_ANSWER_CHANGED, asked},
      {range + "Content-Length: 101\n", RANGE_ANSWER_WRONG, asked},
      {range + "Transfer-Encoding: chunked\n", RANGE_ANSWER_WRONG, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-198/1000\n", RANGE_ANSWER_WRONG, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 101-199/1000\n", RANGE_ANSWER_WRONG, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes 100-199/1001\n", RANGE_ANSWER_WRONG, asked},
      {"HTTP/1.1 206 Partial\nContent-Range: bytes */1000\n", RANGE_ANSWER_WRONG, asked},
      {"HTTP/1.1 206 Partial\n", RANGE_ANSWER_WRONG, asked},
      {whole + "ETag: \"v\"\n" + modified, RANGE_ANSWER_TAKEN, plain},
      {whole + "ETag: \"v\"\n", RANGE_ANSWER_CHANGED, plain},
      {"HTTP/1.1 200 OK\nContent-Length: 999\nETag: \"v\"\n" + modified, RANGE_ANSWER_CHANGED, plain},
      {range + "ETag: \"v\"\n" + modified, RANGE_ANSWER_WRONG, plain},
  };
  for (const Case& c : cases) {
    const char* why = NULL;
    EXPECT_EQ(c.answer, JudgeRangeAnswer(HeadOf(c.lines), point, c.ask, &why)) << c.lines;
    EXPECT_EQ(c.answer == RANGE_ANSWER_TAKEN, std::string(why).empty()) << c.lines;
  }
  // Refused status lines: the engine hands in their number.
  struct Status {
    int status;
    RangeAnswer answer;
  } statuses[] = {{503, RANGE_ANSWER_BUSY}, {429, RANGE_ANSWER_BUSY}, {404, RANGE_ANSWER_WRONG},
                  {416, RANGE_ANSWER_WRONG}, {0, RANGE_ANSWER_WRONG}};
  for (const Status& s : statuses) {
    HeadState head;
    BeginHead(&head);
    head.status = s.status;
    const char* why = NULL;
    EXPECT_EQ(s.answer, JudgeRangeAnswer(head, point, asked, &why)) << s.status;
  }
}

}  // namespace
