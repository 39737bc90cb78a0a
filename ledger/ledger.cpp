#include "ledger/ledger.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "src/params/params.h"

namespace ledger {

using tilvane::kUnitsMax;
using tilvane::kUnitsMin;
using tilvane::PARAM_COUNT;
using tilvane::PARAM_UNITS;

namespace {

bool AllZero(const void* p, size_t n) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  return std::all_of(bytes, bytes + n, [](unsigned char b) { return b == 0; });
}

// The first host error is the result, and after it nothing more is checked
// out, filled, queried or added. A suite answered as unusable is the error
// 516 at that point.
void CheckFirstError(std::span<const Call> calls, const CallReport& report,
                     std::vector<std::string>* broken) {
  PF_Err first = PF_Err_NONE;
  const bool about = report.cmd == PF_Cmd_ABOUT;
  for (const Call& c : calls) {
    const bool takes = c.op == Op::CheckoutParam || c.op == Op::Fill ||
                       c.op == Op::GetPixelFormat || c.op == Op::AddParam;
    if (first != PF_Err_NONE && takes) {
      broken->push_back(std::string(OpName(c.op)) + " after the first error " +
                        std::to_string(first));
      return;
    }
    if (first != PF_Err_NONE) continue;
    switch (c.op) {
      case Op::AcquireSuite:
        // About reports any missing suite as 516, never the host's own code.
        if (c.result != PF_Err_NONE) first = about ? PF_Err_BAD_CALLBACK_PARAM : c.result;
        if (c.result == PF_Err_NONE && c.unusableSuite) first = PF_Err_BAD_CALLBACK_PARAM;
        break;
      case Op::GetPixelFormat:
      case Op::Fill:
      case Op::CheckoutParam:
      case Op::CheckinParam:
      case Op::AddParam:
        first = c.result;
        break;
      default:  // progress, release, sprintf and strcpy results are not examined
        break;
    }
  }
  if (report.result != first) {
    broken->push_back("returned " + std::to_string(report.result) + " where the first error was " +
                      std::to_string(first));
  }
}

// Only the fields a command sets may change in out_data.
void CheckOutData(const CallReport& report, std::vector<std::string>* broken) {
  if (report.outBefore.empty() || report.outBefore.size() != report.outAfter.size()) return;
  struct Field {
    size_t offset, size;
  };
  std::vector<Field> writable;
  if (report.cmd == PF_Cmd_GLOBAL_SETUP) {
    writable = {{offsetof(PF_OutData, my_version), sizeof(PF_OutData::my_version)},
                {offsetof(PF_OutData, out_flags), sizeof(PF_OutData::out_flags)}};
  } else if (report.cmd == PF_Cmd_ABOUT) {
    writable = {{offsetof(PF_OutData, return_msg), sizeof(PF_OutData::return_msg)}};
  } else if (report.cmd == PF_Cmd_PARAMS_SETUP) {
    writable = {{offsetof(PF_OutData, num_params), sizeof(PF_OutData::num_params)}};
  }
  for (size_t i = 0; i < report.outBefore.size(); ++i) {
    const bool mayChange = std::any_of(writable.begin(), writable.end(), [i](const Field& f) {
      return i >= f.offset && i < f.offset + f.size;
    });
    if (!mayChange && report.outAfter[i] != report.outBefore[i]) {
      broken->push_back("out_data byte " + std::to_string(i) + " changed");
      return;
    }
  }
}

}  // namespace

const char* OpName(Op op) {
  // In the order of Op, as the host names each call.
  static const char* const kNames[] = {
      "add_param", "checkout_param", "checkin_param", "progress",     "fill",
      "strcpy",    "sprintf",        "AcquireSuite",  "ReleaseSuite", "PF_GetPixelFormat"};
  static_assert(std::size(kNames) == kOpCount);
  const int i = static_cast<int>(op);
  return i >= 0 && i < kOpCount ? kNames[i] : "?";
}

// ----- The books ----------------------------------------------------------------------

std::thread::id Ledger::Begin() {
  const std::lock_guard lock(mutex_);
  const std::thread::id previous = entryThread_;
  entryThread_ = std::this_thread::get_id();
  commandStart_ = calls_.size();
  return previous;
}

void Ledger::End(std::thread::id previous) {
  const std::lock_guard lock(mutex_);
  entryThread_ = previous;
}

Call& Ledger::Log(Op op) {
  const bool onEntryThread = std::this_thread::get_id() == entryThread_;
  if (!onEntryThread) {
    Misuse(std::string(OpName(op)) +
           (entryThread_ == std::thread::id()
                ? " called when no command was running"
                : " called from a thread other than the one that called the entry point"));
  }
  Call call;
  call.op = op;
  call.onEntryThread = onEntryThread;
  if (!keepLog_) return scratch_ = call;
  calls_.push_back(call);
  return calls_.back();
}

int32_t Ledger::CheckOut(PF_ParamDef& def) {
  const int32_t token = nextToken_++;
  def.unused = token;
  outstanding_.insert(token);
  return token;
}

Ledger::CheckIn Ledger::CheckInRecord(const PF_ParamDef& def) {
  if (AllZero(&def, sizeof def)) return CheckIn::Empty;
  if (outstanding_.erase(def.unused) == 1) return CheckIn::Returned;
  Misuse("checkin_param of a record that is not checked out");
  return CheckIn::Unknown;
}

bool Ledger::Released(const SuiteKey& suite) {
  int& balance = suiteBalance_[suite];
  if (balance <= 0) {
    Misuse("release of " + suite.first + " " + std::to_string(suite.second) +
           ", which is not acquired");
    return false;
  }
  --balance;
  return true;
}

std::map<SuiteKey, int> Ledger::SuiteBalance() const {
  std::map<SuiteKey, int> out;
  for (const auto& [key, n] : suiteBalance_) {
    if (n != 0) out[key] = n;
  }
  return out;
}

std::span<const Call> Ledger::CommandCalls() const {
  return std::span<const Call>(calls_).subspan(std::min(commandStart_, calls_.size()));
}

std::vector<Call> Ledger::CallsOf(Op op) const {
  std::vector<Call> out;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
               [op](const Call& c) { return c.op == op; });
  return out;
}

int Ledger::Count(Op op) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [op](const Call& c) { return c.op == op; }));
}

void Ledger::ClearLog() {
  calls_.clear();
  commandStart_ = 0;
}

int BoundedSprintf(Ledger& books, Call& call, char* dst, size_t capacity, const char* format,
                   va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  if (length >= 0) {
    call.name.assign(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(call.name.data(), call.name.size(), format, again);
    call.name.pop_back();
  }
  va_end(again);
  if (length < 0) return -1;
  if (static_cast<size_t>(length) >= capacity) {
    books.Misuse("sprintf wrote " + std::to_string(length + 1) + " bytes into a " +
                 std::to_string(capacity) + "-byte buffer");
    std::memcpy(dst, call.name.data(), capacity - 1);
    dst[capacity - 1] = '\0';
    return -1;
  }
  std::memcpy(dst, call.name.c_str(), call.name.size() + 1);
  return length;
}

// ----- The promises --------------------------------------------------------------------

bool RecordsComplete(PF_Cmd cmd, const PF_InData* in, const PF_OutData* out,
                     PF_ParamDef* const* params, int32_t paramCount, const PF_LayerDef* output) {
  const PF_UtilCallbacks* utils = in != nullptr ? in->utils : nullptr;
  // Every suite goes through the basic suite, and nothing acquired could be
  // given back without its release.
  const SPBasicSuite* basic = in != nullptr ? in->pica_basicP : nullptr;
  const bool suites =
      basic != nullptr && basic->AcquireSuite != nullptr && basic->ReleaseSuite != nullptr;
  const bool registers =
      utils != nullptr && in->inter.add_param != nullptr && utils->ansi.strcpy != nullptr;
  const bool draws = utils != nullptr && utils->fill != nullptr &&
                     in->inter.checkout_param != nullptr && in->inter.checkin_param != nullptr &&
                     in->inter.progress != nullptr;
  // A render reads every value; the layers it checks out.
  bool values = params != nullptr;
  for (int i = PARAM_UNITS; values && i < paramCount; ++i) values = params[i] != nullptr;
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return out != nullptr && suites;
    case PF_Cmd_GLOBAL_SETUP:
      return out != nullptr;
    case PF_Cmd_PARAMS_SETUP:
      return out != nullptr && registers;
    case PF_Cmd_RENDER:
      return output != nullptr && draws && suites && values;
    default:
      return true;
  }
}

std::string Verdict::Text() const {
  std::string text;
  for (const std::string& b : broken) text += b + "\n";
  return text;
}

Verdict PromisesKept(const Ledger& books, const CallReport& call) {
  Verdict verdict{books.Misuse()};
  const auto fail = [&verdict](bool holds, const std::string& what) {
    if (!holds) verdict.broken.push_back(what);
  };
  const std::span<const Call> calls = books.CommandCalls();
  const auto count = [&calls](Op op) {
    return std::count_if(calls.begin(), calls.end(), [op](const Call& c) { return c.op == op; });
  };

  fail(books.OutstandingCheckouts() == 0,
       std::to_string(books.OutstandingCheckouts()) + " check-outs never checked in");
  for (const auto& [key, n] : books.SuiteBalance()) {
    fail(n == 0, key.first + " " + std::to_string(key.second) + " acquired " + std::to_string(n) +
                     " more times than released");
  }
  fail(count(Op::Fill) <= 1, std::to_string(count(Op::Fill)) + " fills");

  const bool known = call.cmd == PF_Cmd_ABOUT || call.cmd == PF_Cmd_GLOBAL_SETUP ||
                     call.cmd == PF_Cmd_PARAMS_SETUP || call.cmd == PF_Cmd_RENDER;
  if (!call.recordsComplete) {
    fail(call.result == PF_Err_BAD_CALLBACK_PARAM && calls.empty(),
         "a missing record gave " + std::to_string(call.result) + " after " +
             std::to_string(calls.size()) + " host calls, not 516 after none");
  } else if (!known) {
    fail(call.result == PF_Err_NONE && calls.empty(),
         "an unknown command returned " + std::to_string(call.result) + " or called the host");
  } else {
    CheckFirstError(calls, call, &verdict.broken);
  }
  if (call.cmd == PF_Cmd_RENDER && call.recordsComplete) {
    // Every cell checks its icon in, and so do the two set-up check-outs.
    const int64_t units = std::clamp<int32_t>(call.units, kUnitsMin, kUnitsMax);
    fail(count(Op::CheckinParam) == units * units + 2,
         std::to_string(count(Op::CheckinParam)) + " check-ins for " + std::to_string(units) +
             " units, not units squared plus 2");
  }
  CheckOutData(call, &verdict.broken);
  return verdict;
}

}  // namespace ledger
