// The ledger's judgement of a call, which the stand-in host, the fuzzer and
// the render tests all rely on: each promise the plug-in breaks is named,
// and a call that keeps them all passes.
#include "ledger/ledger.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "src/params/params.h"

namespace {

using ledger::Ledger;
using ledger::Op;

std::vector<unsigned char> Bytes(const PF_OutData& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(&out);
  return {p, p + sizeof out};
}

// A one-unit render as the plug-in makes it, into `books`; `afterError`
// adds a check-out after a failed fill.
ledger::CallReport Render(Ledger& books, bool releaseSuite = true, bool checkInAll = true,
                          bool failFill = false, bool checkoutAfterError = false) {
  books.Begin();
  books.Log(Op::AcquireSuite);
  books.Acquired({kPFWorldSuite, kPFWorldSuiteVersion2});
  books.Log(Op::GetPixelFormat);
  books.Log(Op::Fill).result = failFill ? 7 : 0;
  PF_ParamDef icon{}, displacement{}, cell{};
  if (!failFill || checkoutAfterError) {
    books.Log(Op::CheckoutParam);
    books.CheckOut(icon);
  }
  if (!failFill) {
    books.Log(Op::CheckoutParam);
    books.CheckOut(displacement);
    books.Log(Op::CheckoutParam);
    books.CheckOut(cell);
  }
  books.Log(Op::CheckinParam);
  books.CheckInRecord(icon);
  books.Log(Op::CheckinParam);
  books.CheckInRecord(cell);
  if (checkInAll) {
    books.Log(Op::CheckinParam);
    books.CheckInRecord(displacement);
  }
  if (releaseSuite) {
    books.Log(Op::ReleaseSuite);
    books.Released({kPFWorldSuite, kPFWorldSuiteVersion2});
  }
  books.End();
  ledger::CallReport report;
  report.cmd = PF_Cmd_RENDER;
  report.result = failFill ? 7 : 0;
  report.units = 1;
  return report;
}

std::string Broken(const Ledger& books, const ledger::CallReport& report) {
  return ledger::PromisesKept(books, report).Text();
}

TEST(Promises, ARenderThatKeepsThemAllPasses) {
  Ledger books;
  const auto report = Render(books);
  EXPECT_TRUE(ledger::PromisesKept(books, report)) << Broken(books, report);
  Ledger failed;
  const auto failedReport = Render(failed, true, true, true);
  EXPECT_TRUE(ledger::PromisesKept(failed, failedReport)) << Broken(failed, failedReport);
}

TEST(Promises, ASuiteNotReleasedIsNamed) {
  Ledger books;
  const auto report = Render(books, /*releaseSuite=*/false);
  EXPECT_NE(Broken(books, report).find("PF World Suite 2 acquired 1 more times than released"),
            std::string::npos);
}

TEST(Promises, ACheckOutNeverCheckedInIsNamed) {
  Ledger books;
  const auto report = Render(books, true, /*checkInAll=*/false);
  const std::string broken = Broken(books, report);
  EXPECT_NE(broken.find("1 check-outs never checked in"), std::string::npos) << broken;
  EXPECT_NE(broken.find("2 check-ins for 1 units"), std::string::npos) << broken;
}

TEST(Promises, AHostCallAfterTheFirstErrorIsNamed) {
  Ledger books;
  const auto report = Render(books, true, true, /*failFill=*/true, /*checkoutAfterError=*/true);
  EXPECT_NE(Broken(books, report).find("checkout_param after the first error 7"),
            std::string::npos);
}

// After the first host error the plug-in takes nothing more: a call that
// takes is named, one that gives back or reports is not.
TEST(Promises, NothingIsTakenAfterTheFirstError) {
  struct Case {
    Op after;
    bool broken;
  };
  const Case cases[] = {
      {Op::AddParam, true},       {Op::CheckoutParam, true}, {Op::Fill, true},
      {Op::GetPixelFormat, true}, {Op::CheckinParam, false}, {Op::ReleaseSuite, false},
      {Op::Progress, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ledger::OpName(c.after));
    Ledger books;
    books.Begin();
    books.Log(Op::AddParam);
    books.Log(Op::AddParam).result = 7;
    books.Log(c.after);
    books.End();
    ledger::CallReport report;
    report.cmd = PF_Cmd_PARAMS_SETUP;
    report.result = 7;
    EXPECT_EQ(Broken(books, report),
              c.broken ? std::string(ledger::OpName(c.after)) + " after the first error 7\n" : "");
  }
}

TEST(Promises, ASecondFillIsNamed) {
  for (const int fills : {1, 2, 3}) {
    Ledger books;
    books.Begin();
    for (int i = 0; i < fills; ++i) books.Log(Op::Fill);
    books.End();
    ledger::CallReport report;
    report.cmd = PF_Cmd_ABOUT;
    EXPECT_EQ(Broken(books, report), fills == 1 ? "" : std::to_string(fills) + " fills\n");
  }
}

TEST(Promises, TheFirstErrorMustBeTheResult) {
  Ledger books;
  auto report = Render(books, true, true, /*failFill=*/true);
  report.result = PF_Err_NONE;
  EXPECT_NE(Broken(books, report).find("returned 0 where the first error was 7"),
            std::string::npos);
}

TEST(Promises, ACallFromAnotherThreadIsMisuse) {
  Ledger books;
  books.Begin();
  std::thread([&books] {
    const auto lock = books.Hold();
    books.Log(Op::Progress);
  }).join();
  books.End();
  books.Log(Op::Progress);  // after the command
  ledger::CallReport report;
  report.cmd = PF_Cmd_SEQUENCE_SETUP;
  const std::string broken = Broken(books, report);
  EXPECT_NE(broken.find("progress called from a thread other than the one that called the entry "
                        "point"),
            std::string::npos)
      << broken;
  EXPECT_NE(broken.find("progress called when no command was running"), std::string::npos);
}

TEST(Promises, OutDataChangesOnlyInTheFieldsTheCommandSets) {
  struct Case {
    PF_Cmd cmd;
    size_t first, size;  // the field the command sets
  };
  const Case cases[] = {
      {PF_Cmd_ABOUT, offsetof(PF_OutData, return_msg), sizeof(PF_OutData::return_msg)},
      {PF_Cmd_PARAMS_SETUP, offsetof(PF_OutData, num_params), sizeof(PF_OutData::num_params)},
      {PF_Cmd_GLOBAL_SETUP, offsetof(PF_OutData, out_flags), sizeof(PF_OutData::out_flags)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd);
    Ledger books;
    PF_OutData out;
    std::memset(&out, 0x5A, sizeof out);
    ledger::CallReport report;
    report.cmd = c.cmd;
    report.outBefore = Bytes(out);
    auto* bytes = reinterpret_cast<unsigned char*>(&out);
    bytes[c.first] = 1;
    bytes[c.first + c.size - 1] = 1;
    report.outAfter = Bytes(out);
    EXPECT_TRUE(ledger::PromisesKept(books, report)) << Broken(books, report);
    for (const size_t outside : {c.first - 1, c.first + c.size}) {
      report.outAfter = Bytes(out);
      report.outAfter[outside] = 0;
      EXPECT_EQ(Broken(books, report), "out_data byte " + std::to_string(outside) + " changed\n");
    }
  }
}

TEST(Promises, AWithheldRecordOrAnUnknownCommandCallsNothing) {
  Ledger books;
  books.Begin();
  books.Log(Op::Progress);
  books.End();
  ledger::CallReport withheld;
  withheld.cmd = PF_Cmd_RENDER;
  withheld.recordsComplete = false;
  withheld.result = PF_Err_BAD_CALLBACK_PARAM;
  EXPECT_NE(Broken(books, withheld).find("not 516 after none"), std::string::npos);
  ledger::CallReport unknown;
  unknown.cmd = PF_Cmd_SEQUENCE_SETUP;
  EXPECT_NE(Broken(books, unknown).find("an unknown command"), std::string::npos);
  books.ClearLog();
  EXPECT_TRUE(ledger::PromisesKept(books, withheld));
  EXPECT_TRUE(ledger::PromisesKept(books, unknown));
}

}  // namespace
