// A render against a host whose calls fail: the first error is the result,
// the steps that still run while it is pending (check-ins, cell loops,
// progress, the suite's release) still run, and everything is balanced.
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::Op;
using standin::World;
using Lines = std::vector<std::string>;

constexpr Argb kWhite{255, 255, 255, 255};
constexpr Argb kMarker{9, 9, 9, 9};
constexpr int kUnits = 2;

std::string Describe(const standin::Call& c) {
  using std::to_string;
  switch (c.op) {
    case Op::AcquireSuite:
      return "acquire " + c.name + " " + to_string(c.a);
    case Op::ReleaseSuite:
      return "release " + c.name + " " + to_string(c.a);
    case Op::GetPixelFormat:
      return "pixel format";
    case Op::Fill:
      return "fill " + to_string(c.a) + "," + to_string(c.b) + "," + to_string(c.c) + "," +
             to_string(c.d) + " with " + c.name;
    case Op::CheckoutParam:
      return "checkout " + to_string(c.a) + " at " + to_string(c.b);
    case Op::CheckinParam:
      return c.name == "empty" ? "checkin empty" : "checkin " + to_string(c.a);
    case Op::Progress:
      return "progress " + to_string(c.a) + "/" + to_string(c.b);
    default:
      return standin::OpName(c.op);
  }
}

Lines Made(const standin::Host& host) {
  Lines lines;
  for (const standin::Call& c : host.calls()) lines.push_back(Describe(c));
  return lines;
}

// The calls of a two-unit render on a 21 × 21 frame at time 0, following the
// render pass: `fails(op, n)` tells whether the n-th call of op fails. A step
// that needs no pending error is skipped once one is pending; check-ins,
// progress reports and the cell loops always run.
Lines ExpectedCalls(const std::function<bool(Op, int)>& fails) {
  Lines lines;
  std::map<Op, int> made;
  bool pending = false;
  auto call = [&](Op op, const std::string& text) {
    lines.push_back(text);
    const bool failed = fails(op, ++made[op]);
    pending = pending || failed;
    return !failed;
  };
  bool acquired = false, icon = false, displacement = false;
  if (!pending) acquired = call(Op::AcquireSuite, "acquire PF World Suite 2");
  if (!pending) call(Op::GetPixelFormat, "pixel format");
  if (!pending) call(Op::Fill, "fill 0,0,21,21 with 0,0,0,0");
  if (!pending) icon = call(Op::CheckoutParam, "checkout 1 at 0");
  if (!pending) displacement = call(Op::CheckoutParam, "checkout 2 at 0");
  call(Op::CheckinParam, icon ? "checkin 1" : "checkin empty");
  lines.push_back("progress 0/100");
  for (int row = 0; row < kUnits; ++row) {
    for (int column = 0; column < kUnits; ++column) {
      bool cell = false;
      if (!pending) cell = call(Op::CheckoutParam, "checkout 1 at 0");
      call(Op::CheckinParam, cell ? "checkin 1" : "checkin empty");
    }
    lines.push_back("progress " + std::to_string(row) + "/" + std::to_string(kUnits));
  }
  call(Op::CheckinParam, displacement ? "checkin 2" : "checkin empty");
  lines.push_back("progress 100/100");
  if (acquired) lines.push_back("release PF World Suite 2");
  return lines;
}

std::unique_ptr<standin::Host> SceneHost() {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, kUnits);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(21, 21, 8, Argb{255, 0, 0, 0})));
  return host;
}

// White where one of the drawn cells' 11 × 11 windows lies, `rest` elsewhere.
PixelFn Cells(std::set<int> drawn, Argb rest = kTransparent) {
  return [=](int x, int y) {
    for (int n : drawn) {
      const int left = 10 * (n % kUnits), top = 10 * (n / kUnits);
      if (x >= left && x <= left + 10 && y >= top && y <= top + 10) return kWhite;
    }
    return rest;
  };
}

TEST(RenderErrors, ASuccessfulRenderMakesExactlyTheseCalls) {
  auto host = SceneHost();
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  EXPECT_EQ(Made(*host), (Lines{"acquire PF World Suite 2",
                                "pixel format",
                                "fill 0,0,21,21 with 0,0,0,0",
                                "checkout 1 at 0",
                                "checkout 2 at 0",
                                "checkin 1",
                                "progress 0/100",
                                "checkout 1 at 0",
                                "checkin 1",
                                "checkout 1 at 0",
                                "checkin 1",
                                "progress 0/2",
                                "checkout 1 at 0",
                                "checkin 1",
                                "checkout 1 at 0",
                                "checkin 1",
                                "progress 1/2",
                                "checkin 2",
                                "progress 100/100",
                                "release PF World Suite 2"}));
  EXPECT_EQ(Made(*host), ExpectedCalls([](Op, int) { return false; }));
  ExpectFrame(out, Cells({0, 1, 2, 3}));
  ExpectBalanced(*host);
}

struct Failure {
  const char* where;
  Op op;
  int nth;
  PixelFn frame;  // what the output holds afterwards
};

TEST(RenderErrors, AFailureAtEachHostCallIsReturnedWhileCheckInsAndProgressGoOn) {
  const PixelFn untouched = [](int, int) { return kMarker; };
  const Failure failures[] = {
      {"world suite acquisition", Op::AcquireSuite, 1, untouched},
      {"pixel format query", Op::GetPixelFormat, 1, untouched},
      // The failed fill cleared nothing and no cell draws.
      {"fill", Op::Fill, 1, untouched},
      {"icon check-out at set-up", Op::CheckoutParam, 1, Cells({})},
      {"displacement check-out", Op::CheckoutParam, 2, Cells({})},
      {"icon check-in at set-up", Op::CheckinParam, 1, Cells({})},
      {"check-out of cell 0", Op::CheckoutParam, 3, Cells({})},
      {"check-out of cell 1", Op::CheckoutParam, 4, Cells({0})},
      {"check-out of cell 2", Op::CheckoutParam, 5, Cells({0, 1})},
      {"check-out of cell 3", Op::CheckoutParam, 6, Cells({0, 1, 2})},
      // A failing check-in comes after its cell is drawn.
      {"check-in of cell 0", Op::CheckinParam, 2, Cells({0})},
      {"check-in of cell 1", Op::CheckinParam, 3, Cells({0, 1})},
      {"check-in of cell 2", Op::CheckinParam, 4, Cells({0, 1, 2})},
      {"check-in of cell 3", Op::CheckinParam, 5, Cells({0, 1, 2, 3})},
      {"displacement check-in", Op::CheckinParam, 6, Cells({0, 1, 2, 3})},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.where);
    constexpr PF_Err kCode = 1234;
    auto host = SceneHost();
    host->failCall(f.op, f.nth, kCode);
    World out = MakeOutput(21, 21, 8, kMarker);
    EXPECT_EQ(host->render(out), kCode);
    EXPECT_EQ(Made(*host), ExpectedCalls([&](Op op, int n) { return op == f.op && n == f.nth; }));
    ExpectFrame(out, f.frame);
    ExpectBalanced(*host);
  }
}

TEST(RenderErrors, OnlyTheFirstErrorIsReturned) {
  auto host = SceneHost();
  host->failCall(Op::CheckoutParam, 4, 11);  // cell 1
  host->failCall(Op::CheckinParam, 6, 22);   // displacement, at the end
  World out = MakeOutput(21, 21, 8);
  EXPECT_EQ(host->render(out), 11);
  EXPECT_EQ(Made(*host), ExpectedCalls([](Op op, int n) {
              return (op == Op::CheckoutParam && n == 4) || (op == Op::CheckinParam && n == 6);
            }));
  ExpectFrame(out, Cells({0}));
  ExpectBalanced(*host);
}

TEST(RenderErrors, ProgressAndReleaseResultsAreIgnored) {
  for (const Op op : {Op::Progress, Op::ReleaseSuite}) {
    for (int nth = 1; nth <= (op == Op::Progress ? 4 : 1); ++nth) {
      SCOPED_TRACE(testing::Message() << standin::OpName(op) << " " << nth);
      auto host = SceneHost();
      host->failCall(op, nth, 77);
      World out = MakeOutput(21, 21, 8);
      EXPECT_EQ(host->render(out), PF_Err_NONE);
      EXPECT_EQ(Made(*host), ExpectedCalls([](Op, int) { return false; }));
      ExpectFrame(out, Cells({0, 1, 2, 3}));
      ExpectBalanced(*host);
    }
  }
}

TEST(RenderErrors, AMissingWorldSuiteReturnsTheHostsCodeAndDrawsNothing) {
  auto host = SceneHost();
  host->setSuiteAnswer(kPFWorldSuite, kPFWorldSuiteVersion2, standin::SuiteAnswer::Missing);
  World out = MakeOutput(21, 21, 8, kMarker);
  const PF_Err err = host->render(out);
  ASSERT_EQ(host->count(Op::AcquireSuite), 1);
  const PF_Err refusal = host->callsOf(Op::AcquireSuite).front().result;
  EXPECT_NE(refusal, PF_Err_NONE);
  EXPECT_EQ(err, refusal);
  EXPECT_EQ(Made(*host), ExpectedCalls([](Op op, int) { return op == Op::AcquireSuite; }));
  ExpectFrame(out, [](int, int) { return kMarker; });
  ExpectBalanced(*host);
}

TEST(RenderErrors, AWorldSuiteAnsweredAsNullIsNotUsed) {
  auto host = SceneHost();
  host->setSuiteAnswer(kPFWorldSuite, kPFWorldSuiteVersion2, standin::SuiteAnswer::NullWithNoError);
  World out = MakeOutput(21, 21, 8, kMarker);
  EXPECT_EQ(host->render(out), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host->count(Op::GetPixelFormat), 0);
  EXPECT_EQ(host->count(Op::Fill), 0);
  ExpectFrame(out, [](int, int) { return kMarker; });
  ExpectBalanced(*host);
}

TEST(RenderErrors, AWorldSuiteWithoutGetPixelFormatIsReleasedAndGivesBadCallbackParam) {
  auto host = SceneHost();
  host->worldSuite().PF_GetPixelFormat = nullptr;
  World out = MakeOutput(21, 21, 8, kMarker);
  EXPECT_EQ(host->render(out), PF_Err_BAD_CALLBACK_PARAM);
  // As a failed pixel-format query, without the query: nothing drawn, the
  // check-ins made and the world suite released.
  Lines expected = ExpectedCalls([](Op op, int) { return op == Op::GetPixelFormat; });
  expected.erase(std::find(expected.begin(), expected.end(), "pixel format"));
  EXPECT_EQ(Made(*host), expected);
  ExpectFrame(out, [](int, int) { return kMarker; });
  ExpectBalanced(*host);
}

TEST(RenderErrors, ABasicSuiteWithoutAcquireOrReleaseGivesBadCallbackParamWithoutAnyHostCall) {
  for (const bool noAcquire : {true, false}) {
    auto host = SceneHost();
    DropBasicSuiteMember(*host, noAcquire);
    World out = MakeOutput(21, 21, 8, kMarker);
    EXPECT_EQ(host->render(out), PF_Err_BAD_CALLBACK_PARAM) << (noAcquire ? "Acquire" : "Release");
    EXPECT_TRUE(host->calls().empty()) << Made(*host).front();
    ExpectFrame(out, [](int, int) { return kMarker; });
    ExpectBalanced(*host);
  }
}

TEST(RenderErrors, NoBasicSuiteReturnsBadCallbackParamWithoutAnyHostCall) {
  auto host = SceneHost();
  host->setBasicSuiteNull(true);
  World out = MakeOutput(21, 21, 8, kMarker);
  EXPECT_EQ(host->render(out), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host->calls().empty()) << Made(*host).front();
  ExpectFrame(out, [](int, int) { return kMarker; });
  ExpectBalanced(*host);
}

TEST(RenderErrors, AFailedRenderLeavesNothingBehindForTheNext) {
  // Every render starts afresh: after a failure mid-frame the same host
  // renders the whole frame again.
  auto host = SceneHost();
  host->failCall(Op::CheckoutParam, 4, 5);
  World first = MakeOutput(21, 21, 8);
  EXPECT_EQ(host->render(first), 5);
  host->clearLog();
  World second = MakeOutput(21, 21, 8);
  EXPECT_EQ(host->render(second), PF_Err_NONE);
  EXPECT_EQ(Made(*host), ExpectedCalls([](Op, int) { return false; }));
  ExpectFrame(second, Cells({0, 1, 2, 3}));
  ExpectBalanced(*host);
}

}  // namespace
}  // namespace tilvane_test
