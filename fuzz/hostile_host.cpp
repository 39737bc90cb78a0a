#include "fuzz/hostile_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ledger/host_skeleton.h"
#include "src/params/params.h"

using enum tilvane::ParamIndex;

namespace fuzz {
namespace {

// Suite calls carry no effect_ref: this is how they find their host.
HostileHost* gHost = nullptr;

using ledger::kSuiteNotFound;
constexpr size_t kReturnMsgSize = sizeof(PF_OutData::return_msg);
constexpr size_t kNameSize = sizeof(PF_ParamDef::name);

void SetEnv(const char* name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
}

}  // namespace

struct HostileHost::Frame {
  WorldPlan plan;
  std::unique_ptr<GuardedPixels> pixels;
  PF_LayerDef record{};
};

std::unique_ptr<HostileHost::Frame> HostileHost::MakeFrame(const WorldPlan& w, bool input) {
  auto frame = std::make_unique<Frame>();
  frame->plan = w;
  PF_LayerDef& r = frame->record;
  std::memset(&r, 0, sizeof r);
  const int pixelSize = plan_.PixelSize();
  if (w.kind == WorldPlan::Kind::Absent) return frame;
  r.width = w.width;
  r.height = w.height;
  r.world_flags = (pixelSize == 8 ? 1 : 0) | (input ? 0 : 2);
  r.extent_hint = PF_Rect{0, 0, w.width, w.height};
  r.pix_aspect_ratio = PF_RationalScale{1, 1};
  if (w.kind == WorldPlan::Kind::NullData) {
    r.rowbytes = w.width * pixelSize;
    return frame;
  }
  if (w.kind == WorldPlan::Kind::NoExtent) {
    r.data = reinterpret_cast<PF_PixelPtr>(NoAccessPage());
    r.rowbytes = pixelSize;
    return frame;
  }
  frame->pixels = std::make_unique<GuardedPixels>(w.width, w.height, pixelSize, w.layout, w.padding,
                                                  w.bottomUp, input);
  Rng content(w.contentSeed);
  const size_t rowSize = frame->pixels->RowSize();
  for (int32_t y = 0; y < w.height; ++y) {
    unsigned char* row = frame->pixels->WritableRow(y);
    for (size_t i = 0; i < rowSize; i += 8) {
      uint64_t bits = content.Next();
      if (pixelSize == 8 && !w.overfull) {
        // Four channels of 0 to 32768 (full scale) each.
        uint64_t scaled = 0;
        for (int c = 0; c < 4; ++c) scaled |= ((bits >> (16 * c) & 0xFFFF) % 32769) << (16 * c);
        bits = scaled;
      }
      std::memcpy(row + i, &bits, std::min<size_t>(8, rowSize - i));
    }
  }
  r.data = reinterpret_cast<PF_PixelPtr>(frame->pixels->origin());
  r.rowbytes = frame->pixels->rowbytes();
  return frame;
}

// ----- The host's callbacks ------------------------------------------------------

struct HostileHost::Callbacks {
  // The books of one call; a callback that carries an effect_ref must carry
  // the one this host handed out.
  static ledger::ScopedCall Books(HostileHost& host, Op op, const PF_ProgPtr* ref = nullptr) {
    const bool foreign = ref != nullptr && *ref != reinterpret_cast<PF_ProgPtr>(&host);
    return ledger::ScopedCall(
        host.books_, host, op,
        foreign ? "a callback with an effect_ref the host never handed out" : nullptr);
  }

  static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long, A_u_long,
                              PF_ParamDef* def) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::CheckoutParam, &ref);
    if (books.failed()) return books.cueCode();
    if (books.AnyNull({def}, "checkout_param with a null record")) {
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (index < 0 || index >= PARAM_COUNT) return books.Result(PF_Err_INVALID_INDEX);
    std::memset(def, 0, sizeof *def);
    if (index <= PARAM_DISPLACEMENT_LAYER) {
      def->param_type = PF_Param_LAYER;
      def->uu.id = index;
      def->u.ld = host->LayerAt(index, time);
    } else {
      *def = *host->r_.params[static_cast<size_t>(index)].get();
    }
    host->books_.CheckOut(*def);
    return 0;
  }

  static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* def) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::CheckinParam, &ref);  // failed on cue, it still checks in
    if (books.AnyNull({def}, "checkin_param with a null record")) {
      return books.ResultUnlessFailed(PF_Err_BAD_CALLBACK_PARAM);
    }
    host->books_.CheckInRecord(*def);
    return books.ResultUnlessFailed(0);
  }

  static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::AddParam, &ref);
    if (books.failed()) return books.cueCode();
    if (def == nullptr || index != -1 || std::memchr(def->name, '\0', kNameSize) == nullptr) {
      host->books_.Misuse("add_param with a null, unterminated or non-appending definition");
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    return 0;
  }

  static PF_Err Progress(PF_ProgPtr ref, A_long, A_long) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::Progress, &ref);
    return books.failed() ? books.cueCode() : 0;
  }

  static PF_Err Fill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                     PF_EffectWorld* world) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::Fill, &ref);
    if (books.failed()) return books.cueCode();
    if (world != host->r_.output.get()) {
      host->books_.Misuse("fill of a world that is not the output");
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    host->FillOutput(color, rect);
    return 0;
  }

  static A_char* Strcpy(A_char* dst, const A_char* src) {
    HostileHost* host = gHost;
    if (host == nullptr) return nullptr;
    auto books = Books(*host, Op::Strcpy);
    if (books.failed() || books.AnyNull({dst, src}, "strcpy with a null pointer")) return nullptr;
    // The effect copies parameter names only, into 32-byte fields.
    if (std::strlen(src) >= kNameSize)
      host->books_.Misuse("strcpy of a name longer than 31 characters");
    std::memcpy(dst, src, std::min(std::strlen(src) + 1, kNameSize));
    return dst;
  }

  static int Sprintf(A_char* dst, const A_char* fmt, ...) {
    HostileHost* host = gHost;
    if (host == nullptr) return -1;
    auto books = Books(*host, Op::Sprintf);
    if (books.failed()) return -1;
    if (dst == nullptr || fmt == nullptr || dst != host->r_.out->return_msg) {
      host->books_.Misuse("sprintf into anything but return_msg");
      return -1;
    }
    va_list args;
    va_start(args, fmt);
    const int length =
        ledger::BoundedSprintf(host->books_, books.log(), dst, kReturnMsgSize, fmt, args);
    va_end(args);
    return length;
  }

  static SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    HostileHost* host = gHost;
    if (host == nullptr || name == nullptr || suite == nullptr) return kSuiteNotFound;
    auto books = Books(*host, Op::AcquireSuite);
    if (books.failed()) return books.cueCode();
    const bool world = std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2;
    const bool ansi = std::strcmp(name, kPFANSISuite) == 0 && version == kPFANSISuiteVersion1;
    if (!world && !ansi) return books.Result(kSuiteNotFound);
    const Plan& plan = host->plan_;
    const SuiteServe serve = world ? plan.worldSuite : plan.ansiSuite;
    if (serve == SuiteServe::Refused)
      return books.Result(world ? plan.worldRefusal : plan.ansiRefusal);
    ledger::Call& call = books.log();
    if (serve == SuiteServe::NullWithNoError) {
      *suite = nullptr;
      call.unusableSuite = true;
      return 0;
    }
    if (world) {
      *suite = host->r_.worldSuite.get();
      call.unusableSuite = plan.Has(Missing::WorldGetPixelFormat);
    } else {
      *suite = host->r_.ansi.get();
      call.unusableSuite = plan.Has(Missing::AnsiSprintf) || plan.Has(Missing::AnsiStrcpy);
    }
    host->books_.Acquired({name, version});
    return 0;
  }

  static SPErr ReleaseSuite(const char* name, int32_t version) {
    HostileHost* host = gHost;
    if (host == nullptr || name == nullptr) return kSuiteNotFound;
    auto books = Books(*host, Op::ReleaseSuite);  // failed on cue, it still releases
    if (!host->books_.Released({name, version})) return books.Result(kSuiteNotFound);
    return books.ResultUnlessFailed(0);
  }

  static PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    HostileHost* host = gHost;
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::GetPixelFormat);
    if (books.failed()) return books.cueCode();
    if (world != host->r_.output.get() || format == nullptr) {
      host->books_.Misuse("PF_GetPixelFormat of a world that is not the output");
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    *format = host->plan_.pixelFormat;
    return 0;
  }

  static SPBoolean IsEqual(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
  }
};

// ----- Building the records ------------------------------------------------------

void Records::Clear() {
  in.Clear();
  out.Clear();
  utils.Clear();
  basic.Clear();
  ansi.Clear();
  worldSuite.Clear();
  paramArray.Clear();
  for (auto& p : params) p.Clear();
  output.Clear();
}

bool Records::GuardsIntact() const {
  bool intact = in.GuardIntact() && out.GuardIntact() && utils.GuardIntact() &&
                basic.GuardIntact() && ansi.GuardIntact() && worldSuite.GuardIntact() &&
                paramArray.GuardIntact() && output.GuardIntact();
  for (const auto& p : params) intact = intact && p.GuardIntact();
  return intact;
}

HostileHost::HostileHost(const Plan& plan, Records& records)
    : plan_(plan), r_(records), failRng_(plan.seed ^ 0xFA11) {
  using C = Callbacks;
  const auto missing = [&plan](Missing m) { return plan.Has(m); };
  r_.Clear();

  PF_InData& in = *r_.in.get();
  in.inter.checkout_param = missing(Missing::CheckoutParam) ? nullptr : &C::CheckoutParam;
  in.inter.checkin_param = missing(Missing::CheckinParam) ? nullptr : &C::CheckinParam;
  in.inter.add_param = missing(Missing::AddParam) ? nullptr : &C::AddParam;
  in.inter.progress = missing(Missing::Progress) ? nullptr : &C::Progress;
  in.utils = missing(Missing::Utils) ? nullptr : r_.utils.get();
  ledger::SetInDataDefaults(in, reinterpret_cast<PF_ProgPtr>(this), PARAM_COUNT);
  ledger::SetInDataTime(in, {plan.currentTime, plan.timeStep, plan.totalTime, plan.timeScale});
  ledger::SetInDataSize(in, plan.output.width, plan.output.height);
  in.pica_basicP = missing(Missing::BasicSuite) ? nullptr : r_.basic.get();

  PF_UtilCallbacks& utils = *r_.utils.get();
  utils.fill = missing(Missing::Fill) ? nullptr : &C::Fill;
  utils.ansi.sprintf = &C::Sprintf;
  utils.ansi.strcpy = missing(Missing::UtilsStrcpy) ? nullptr : &C::Strcpy;

  SPBasicSuite& basic = *r_.basic.get();
  basic.AcquireSuite = missing(Missing::BasicAcquire) ? nullptr : &C::AcquireSuite;
  basic.ReleaseSuite = missing(Missing::BasicRelease) ? nullptr : &C::ReleaseSuite;
  basic.IsEqual = &C::IsEqual;
  r_.ansi->sprintf = missing(Missing::AnsiSprintf) ? nullptr : &C::Sprintf;
  r_.ansi->strcpy = missing(Missing::AnsiStrcpy) ? nullptr : &C::Strcpy;
  r_.worldSuite->PF_GetPixelFormat =
      missing(Missing::WorldGetPixelFormat) ? nullptr : &C::GetPixelFormat;

  // The output record arrives with whatever the host left in out_data.
  std::memset(r_.out.get(), 0x5A, sizeof(PF_OutData));
  report_.outBefore.assign(reinterpret_cast<unsigned char*>(r_.out.get()),
                           reinterpret_cast<unsigned char*>(r_.out.get()) + sizeof(PF_OutData));

  output_ = MakeFrame(plan.output, false);
  *r_.output.get() = output_->record;
  displacement_ = MakeFrame(plan.displacement, true);
  for (const WorldPlan& w : plan.iconFrames) icons_.push_back(MakeFrame(w, true));
  FillParams();

  // Nothing the host lends for reading may be written.
  const auto lend = [this](const void* p, size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    lent_.emplace_back(p, std::vector<unsigned char>(bytes, bytes + n));
  };
  lend(r_.in.get(), sizeof(PF_InData));
  lend(r_.utils.get(), sizeof(PF_UtilCallbacks));
  lend(r_.basic.get(), sizeof(SPBasicSuite));
  lend(r_.ansi.get(), sizeof(PF_ANSICallbacksSuite1));
  lend(r_.worldSuite.get(), sizeof(PF_WorldSuite2));
  lend(r_.paramArray.data(), r_.paramArray.size());
  for (const auto& p : r_.params) lend(p.get(), sizeof(PF_ParamDef));
  lend(r_.output.get(), sizeof(PF_LayerDef));
}

HostileHost::~HostileHost() = default;

void HostileHost::FillParams() {
  Rng noise(plan_.seed ^ 0x9A9A);
  auto** array = static_cast<PF_ParamDef**>(r_.paramArray.data());
  for (int i = 0; i < PARAM_COUNT; ++i) {
    PF_ParamDef& d = *r_.params[static_cast<size_t>(i)].get();
    // Every byte the value does not cover is noise: the effect reads values only.
    auto* bytes = reinterpret_cast<unsigned char*>(&d.u);
    for (size_t b = 0; b < sizeof d.u; ++b) bytes[b] = static_cast<unsigned char>(noise.Next());
    d.uu.id = i;
    array[i] = (plan_.missingParams >> i) & 1u ? nullptr : &d;
  }
  const auto at = [this](int index) -> PF_ParamDef& {
    return *r_.params[static_cast<size_t>(index)].get();
  };
  for (int i = PARAM_INPUT; i <= PARAM_DISPLACEMENT_LAYER; ++i) {
    at(i).param_type = PF_Param_LAYER;
    std::memset(&at(i).u.ld, 0, sizeof(PF_LayerDef));
  }
  const auto integer = [&](int index, PF_ParamType type, int32_t value) {
    at(index).param_type = type;
    at(index).u.sd.value = value;  // slider, popup and checkbox values share the offset
  };
  const auto real = [&](int index, double value) {
    at(index).param_type = PF_Param_FLOAT_SLIDER;
    at(index).u.fs_d.value = value;
  };
  const auto color = [&](int index, PF_Pixel value) {
    at(index).param_type = PF_Param_COLOR;
    at(index).u.cd.value = value;
  };
  integer(PARAM_UNITS, PF_Param_SLIDER, plan_.units);
  integer(PARAM_DISPLACEMENT_EFFECT, PF_Param_POPUP, plan_.displacementEffect);
  real(PARAM_EFFECT_INTENSITY, plan_.effectIntensity);
  real(PARAM_ROTATION_OFFSET, plan_.rotationOffset);
  real(PARAM_SCALE_OFFSET, plan_.scaleOffset);
  real(PARAM_TIME_OFFSET, plan_.timeOffset);
  integer(PARAM_BORDER, PF_Param_CHECKBOX, plan_.border);
  color(PARAM_BORDER_COLOR, plan_.borderColor);
  color(PARAM_COLOR_A, plan_.colorA);
  color(PARAM_COLOR_B, plan_.colorB);
  integer(PARAM_TIME_MAPPING, PF_Param_POPUP, plan_.timeMapping);
  integer(PARAM_COLOR_MAPPING, PF_Param_POPUP, plan_.colorMapping);
  integer(PARAM_TRANSPARENCY_MAPPING, PF_Param_POPUP, plan_.transparencyMapping);
  integer(PARAM_SEED, PF_Param_SLIDER, plan_.seedValue);
}

PF_LayerDef HostileHost::LayerAt(int index, int32_t time) const {
  const Frame* frame = nullptr;
  if (index == PARAM_DISPLACEMENT_LAYER) {
    frame = displacement_.get();
  } else if (index == PARAM_ICON_LAYER && !icons_.empty()) {
    const WorldPlan* w = plan_.IconAt(time);
    frame = icons_[static_cast<size_t>(w - plan_.iconFrames.data())].get();
  }
  PF_LayerDef none;
  std::memset(&none, 0, sizeof none);
  return frame != nullptr ? frame->record : none;
}

void HostileHost::FillOutput(const PF_Pixel* color, const PF_Rect* rect) {
  const Frame& out = *output_;
  if (out.pixels == nullptr) return;
  const PF_Pixel c = color != nullptr ? *color : PF_Pixel{0, 0, 0, 0};
  PF_Rect r = rect != nullptr ? *rect : PF_Rect{0, 0, r_.output->width, r_.output->height};
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, out.plan.width);
  r.bottom = std::min(r.bottom, out.plan.height);
  const PF_Pixel16 c16 = ledger::Pixel8To16(c);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t x = r.left; x < r.right; ++x) {
      if (plan_.PixelSize() == 8) {
        std::memcpy(out.pixels->Row(y) + 8 * static_cast<size_t>(x), &c16, 8);
      } else {
        std::memcpy(out.pixels->Row(y) + 4 * static_cast<size_t>(x), &c, 4);
      }
    }
  }
}

bool HostileHost::FailsOnCue(Op op, ledger::Call& call, PF_Err* code) {
  const FailPlan& f = plan_.fail[static_cast<size_t>(op)];
  const int64_t n = ++counts_[static_cast<int>(op)];
  const bool fails = (f.mode == FailPlan::Mode::Nth && n == f.nth) ||
                     (f.mode == FailPlan::Mode::Random && failRng_.Unit() < f.probability);
  if (fails) {
    *code = f.code;
    ++injected_;
    call.failedOnCue = true;
  }
  return fails;
}

// ----- The call and the promises -------------------------------------------------

PF_Err HostileHost::Call(PF_EntryPointFunc entry,
                         tilvane::TilvaneEntryWithThreadsFunc withThreads) {
  SetEnv("TILVANE_SIMD", plan_.simd);
  SetEnv("TILVANE_THREADS", plan_.threads);
  PF_InData* in = plan_.Has(Missing::InData) ? nullptr : r_.in.get();
  PF_OutData* out = plan_.Has(Missing::OutData) ? nullptr : r_.out.get();
  PF_ParamDef** params =
      plan_.Has(Missing::ParamArray) ? nullptr : static_cast<PF_ParamDef**>(r_.paramArray.data());
  PF_LayerDef* output = plan_.Has(Missing::Output) ? nullptr : r_.output.get();
  report_.cmd = plan_.cmd;
  report_.recordsComplete =
      ledger::RecordsComplete(plan_.cmd, in, out, params, PARAM_COUNT, output);
  report_.units = plan_.units;
  gHost = this;
  books_.Begin();
  report_.result = plan_.hostThreads != Plan::kRealHost && withThreads != nullptr
                       ? withThreads(plan_.cmd, in, out, params, output, nullptr, plan_.hostThreads)
                       : entry(plan_.cmd, in, out, params, output, nullptr);
  books_.End();
  gHost = nullptr;
  const auto* after = reinterpret_cast<const unsigned char*>(r_.out.get());
  report_.outAfter.assign(after, after + sizeof(PF_OutData));
  return report_.result;
}

std::vector<std::string> HostileHost::BrokenPromises() const {
  std::vector<std::string> broken = ledger::PromisesKept(books_, report_).broken;
  const auto fail = [&broken](bool holds, const std::string& what) {
    if (!holds) broken.push_back(what);
  };

  // This host's own fences: guards, and the records lent for reading.
  bool guards = r_.GuardsIntact();
  const auto pixelsIntact = [](const std::unique_ptr<Frame>& f) {
    return f->pixels == nullptr || f->pixels->GuardIntact();
  };
  guards = guards && pixelsIntact(output_) && pixelsIntact(displacement_);
  for (const auto& icon : icons_) guards = guards && pixelsIntact(icon);
  fail(guards, "guard bytes next to a record or a row were overwritten");
  // Input layers are mapped read-only to the plug-in: a write to one faults
  // at once, so they are unchanged whenever the call returns.
  for (const auto& [record, copy] : lent_) {
    if (std::memcmp(record, copy.data(), copy.size()) != 0) {
      broken.push_back("a record the host lent for reading was written");
      break;
    }
  }

  return broken;
}

}  // namespace fuzz
