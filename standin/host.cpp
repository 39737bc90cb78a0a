#include "standin/host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ledger/host_skeleton.h"
#include "src/params/params.h"

using tilvane::PARAM_COUNT;
using tilvane::PARAM_UNITS;

namespace standin {
namespace {

// The host whose command is running on this thread: suite calls carry no
// effect_ref, so this is how they find their host.
thread_local Host* tCurrent = nullptr;

// Every host running a command, on whatever thread. A suite call from a
// thread that runs none (a plug-in's worker) is charged to the host when
// only one is running, so that it is logged as misuse rather than lost.
std::mutex gRunningMutex;
std::vector<Host*> gRunning;

Host* CallingHost() {
  if (tCurrent != nullptr) return tCurrent;
  const std::lock_guard lock(gRunningMutex);
  return gRunning.size() == 1 ? gRunning.front() : nullptr;
}

using ledger::kSuiteNotFound;

bool Terminated(const char* s, size_t capacity) {
  return std::memchr(s, '\0', capacity) != nullptr;
}

}  // namespace

const char* ErrorName(PF_Err err) {
  switch (err) {
    case PF_Err_NONE:
      return "PF_Err_NONE";
    case PF_Err_OUT_OF_MEMORY:
      return "PF_Err_OUT_OF_MEMORY";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
      return "PF_Err_INTERNAL_STRUCT_DAMAGED";
    case PF_Err_INVALID_INDEX:
      return "PF_Err_INVALID_INDEX";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
      return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
    case PF_Err_INVALID_CALLBACK:
      return "PF_Err_INVALID_CALLBACK";
    case PF_Err_BAD_CALLBACK_PARAM:
      return "PF_Err_BAD_CALLBACK_PARAM";
    case PF_Interrupt_CANCEL:
      return "PF_Interrupt_CANCEL";
    default:
      return "an unknown error";
  }
}

struct Host::Callbacks {
  // A callback that carries effect_ref finds its host there.
  static Host& From(PF_ProgPtr ref) { return *reinterpret_cast<Host*>(ref); }
  static ledger::ScopedCall Books(Host& host, Op op) {
    return ledger::ScopedCall(host.books_, host, op);
  }

  static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step,
                              A_u_long scale, PF_ParamDef* def) {
    Host& host = From(ref);
    auto books = Books(host, Op::CheckoutParam);
    Call& call = books.log();
    call.a = index;
    call.b = time;
    call.c = step;
    call.d = scale;
    if (books.failed()) return books.cueCode();
    if (books.AnyNull({def}, "checkout_param with a null record")) {
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (index < 0 || index >= static_cast<PF_ParamIndex>(host.values_.size())) {
      return books.Result(PF_Err_INVALID_INDEX);
    }
    std::memset(def, 0, sizeof *def);
    const PF_ParamDef& value = host.values_[static_cast<size_t>(index)];
    WorldPtr frame;
    if (value.param_type == PF_Param_LAYER) {
      frame = host.LayerFrame(index, time, step, scale);
      def->param_type = PF_Param_LAYER;
      def->uu.id = index;
      if (frame) def->u.ld = *frame->record();
    } else {
      *def = value;
    }
    host.lentFrames_[host.books_.CheckOut(*def)] = std::move(frame);
    return 0;
  }

  static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* def) {
    Host& host = From(ref);
    auto books = Books(host, Op::CheckinParam);
    if (books.AnyNull({def}, "checkin_param with a null record")) {
      return books.ResultUnlessFailed(PF_Err_BAD_CALLBACK_PARAM);
    }
    books.log().a = def->uu.id;
    PF_Err result = 0;
    switch (host.books_.CheckInRecord(*def)) {
      case ledger::Ledger::CheckIn::Returned:
        host.lentFrames_.erase(def->unused);
        break;
      case ledger::Ledger::CheckIn::Empty:
        books.log().name = "empty";  // a check-out that failed or never happened
        break;
      case ledger::Ledger::CheckIn::Unknown:
        result = PF_Err_BAD_CALLBACK_PARAM;
        break;
    }
    return books.ResultUnlessFailed(result);
  }

  static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    Host& host = From(ref);
    auto books = Books(host, Op::AddParam);
    Call& call = books.log();
    call.a = index;
    if (books.failed()) return books.cueCode();
    if (def == nullptr) return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    call.b = def->uu.id;
    call.c = def->param_type;
    if (!Terminated(def->name, sizeof def->name)) return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    call.name = def->name;
    if (index != -1) return books.Result(PF_Err_INVALID_INDEX);
    RegisteredParam reg{*def, {}, {}};
    if (PF_Err err = Validate(host, reg)) return books.Result(err);
    host.Register(std::move(reg));
    return 0;
  }

  // Rejects what the host would: unknown types, duplicate ids, and fields
  // that contradict each other. Copies the strings the record points at.
  static PF_Err Validate(const Host& host, RegisteredParam& reg) {
    const PF_ParamDef& d = reg.def;
    if (d.uu.id <= 0) return PF_Err_BAD_CALLBACK_PARAM;
    for (const RegisteredParam& other : host.registered_) {
      if (other.def.uu.id == d.uu.id) return PF_Err_BAD_CALLBACK_PARAM;
    }
    switch (d.param_type) {
      case PF_Param_LAYER:
        return d.u.ld.dephault == PF_LayerDefault_NONE || d.u.ld.dephault == PF_LayerDefault_MYSELF
                   ? 0
                   : PF_Err_BAD_CALLBACK_PARAM;
      case PF_Param_SLIDER: {
        const PF_SliderDef& s = d.u.sd;
        const bool ok = s.valid_min <= s.valid_max && s.slider_min <= s.slider_max &&
                        s.valid_min <= s.slider_min && s.slider_max <= s.valid_max &&
                        s.dephault >= s.valid_min && s.dephault <= s.valid_max &&
                        s.value >= s.valid_min && s.value <= s.valid_max;
        return ok ? 0 : PF_Err_BAD_CALLBACK_PARAM;
      }
      case PF_Param_FLOAT_SLIDER: {
        const PF_FloatSliderDef& f = d.u.fs_d;
        const bool ok = f.valid_min <= f.valid_max && f.slider_min <= f.slider_max &&
                        f.valid_min <= f.slider_min && f.slider_max <= f.valid_max &&
                        f.dephault >= f.valid_min && f.dephault <= f.valid_max &&
                        f.value >= f.valid_min && f.value <= f.valid_max && f.precision >= 0 &&
                        f.precision <= 6 && std::isfinite(f.curve_tolerance);
        return ok ? 0 : PF_Err_BAD_CALLBACK_PARAM;
      }
      case PF_Param_CHECKBOX:
        if (d.u.bd.u.nameptr == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        reg.checkboxLabel = d.u.bd.u.nameptr;
        return (d.u.bd.value == 0 || d.u.bd.value == 1) ? 0 : PF_Err_BAD_CALLBACK_PARAM;
      case PF_Param_COLOR:
        return 0;
      case PF_Param_POPUP: {
        const PF_PopupDef& p = d.u.pd;
        if (p.u.namesptr == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        reg.popupItems = p.u.namesptr;
        int items = 1;
        for (char c : reg.popupItems) items += c == '|';
        const bool ok = p.num_choices == items && p.dephault >= 1 && p.dephault <= items &&
                        p.value >= 1 && p.value <= items;
        return ok ? 0 : PF_Err_BAD_CALLBACK_PARAM;
      }
      default:
        return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    }
  }

  static PF_Err Progress(PF_ProgPtr ref, A_long current, A_long total) {
    Host& host = From(ref);
    auto books = Books(host, Op::Progress);
    books.log().a = current;
    books.log().b = total;
    if (books.failed()) return books.cueCode();
    if (host.progressObserver_) host.progressObserver_(current, total);
    return 0;
  }

  static PF_Err Fill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                     PF_EffectWorld* world) {
    Host& host = From(ref);
    auto books = Books(host, Op::Fill);
    Call& call = books.log();
    if (rect != nullptr) {
      call.a = rect->left;
      call.b = rect->top;
      call.c = rect->right;
      call.d = rect->bottom;
    }
    if (color != nullptr) {
      call.name = std::to_string(color->alpha) + "," + std::to_string(color->red) + "," +
                  std::to_string(color->green) + "," + std::to_string(color->blue);
    }
    if (books.failed()) return books.cueCode();
    if (world == nullptr || host.output_ == nullptr || world != host.output_->record()) {
      host.books_.Misuse("fill of a world that is not the output");
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (world->data != nullptr) host.FillOutput(color, rect);
    return 0;
  }

  static A_char* Strcpy(A_char* dst, const A_char* src) {
    Host* host = CallingHost();
    if (host == nullptr) return nullptr;
    auto books = Books(*host, Op::Strcpy);
    if (books.failed() || books.AnyNull({dst, src}, "strcpy with a null pointer")) return nullptr;
    books.log().name = src;
    return std::strcpy(dst, src);
  }

  // Formats into the 256-byte buffers the host hands out (return_msg); a
  // longer result is cut there and reported as misuse.
  static int Sprintf(A_char* dst, const A_char* fmt, ...) {
    Host* host = CallingHost();
    if (host == nullptr) return -1;
    auto books = Books(*host, Op::Sprintf);
    if (books.failed() || books.AnyNull({dst, fmt}, "sprintf with a null pointer")) return -1;
    va_list args;
    va_start(args, fmt);
    const int length = ledger::BoundedSprintf(host->books_, books.log(), dst, 256, fmt, args);
    va_end(args);
    return length;
  }

  static SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    Host* host = CallingHost();
    if (host == nullptr || name == nullptr || suite == nullptr) return kSuiteNotFound;
    auto books = Books(*host, Op::AcquireSuite);
    Call& call = books.log();
    call.name = name;
    call.a = version;
    if (books.failed()) return books.cueCode();
    const auto key = std::make_pair(std::string(name), version);
    const auto answer = host->suiteAnswers_.find(key);
    const SuiteAnswer how =
        answer == host->suiteAnswers_.end() ? SuiteAnswer::Served : answer->second;
    if (how == SuiteAnswer::Missing) return books.Result(kSuiteNotFound);
    if (how == SuiteAnswer::NullWithNoError) {
      *suite = nullptr;
      call.unusableSuite = true;
      return 0;
    }
    if (key.first == kPFANSISuite && version == kPFANSISuiteVersion1) {
      *suite = &host->ansiSuite_;
      call.unusableSuite =
          host->ansiSuite_.sprintf == nullptr || host->ansiSuite_.strcpy == nullptr;
    } else if (key.first == kPFWorldSuite && version == kPFWorldSuiteVersion2) {
      *suite = &host->worldSuite_;
      call.unusableSuite = host->worldSuite_.PF_GetPixelFormat == nullptr;
    } else {
      return books.Result(kSuiteNotFound);
    }
    host->books_.Acquired(key);
    return 0;
  }

  static SPErr ReleaseSuite(const char* name, int32_t version) {
    Host* host = CallingHost();
    if (host == nullptr || name == nullptr) return kSuiteNotFound;
    auto books = Books(*host, Op::ReleaseSuite);
    books.log().name = name;
    books.log().a = version;
    const bool held = host->books_.Released({name, version});
    return books.ResultUnlessFailed(held ? 0 : kSuiteNotFound);
  }

  static PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    Host* host = CallingHost();
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto books = Books(*host, Op::GetPixelFormat);
    if (books.failed()) return books.cueCode();
    if (world == nullptr || format == nullptr || host->output_ == nullptr ||
        world != host->output_->record()) {
      host->books_.Misuse("PF_GetPixelFormat of a world the host did not hand out");
      return books.Result(PF_Err_BAD_CALLBACK_PARAM);
    }
    *format = host->output_->format();
    return 0;
  }

  static PF_Err NewWorld(PF_ProgPtr, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
  }
  static PF_Err DisposeWorld(PF_ProgPtr, PF_EffectWorld*) { return PF_Err_INVALID_CALLBACK; }
  static SPBoolean IsEqual(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
  }
  static SPErr AllocateBlock(size_t, void**) { return kSuiteNotFound; }
  static SPErr FreeBlock(void*) { return kSuiteNotFound; }
  static SPErr ReallocateBlock(void*, size_t, void**) { return kSuiteNotFound; }
  static SPErr Undefined() { return kSuiteNotFound; }

  static const PF_ANSICallbacksSuite1 kAnsiSuite;
  static const PF_WorldSuite2 kWorldSuite;
};

const PF_ANSICallbacksSuite1 Host::Callbacks::kAnsiSuite = {
    [](double x) { return std::atan(x); },
    [](double y, double x) { return std::atan2(y, x); },
    [](double x) { return std::ceil(x); },
    [](double x) { return std::cos(x); },
    [](double x) { return std::exp(x); },
    [](double x) { return std::fabs(x); },
    [](double x) { return std::floor(x); },
    [](double x, double y) { return std::fmod(x, y); },
    [](double x, double y) { return std::hypot(x, y); },
    [](double x) { return std::log(x); },
    [](double x) { return std::log10(x); },
    [](double x, double y) { return std::pow(x, y); },
    [](double x) { return std::sin(x); },
    [](double x) { return std::sqrt(x); },
    [](double x) { return std::tan(x); },
    &Host::Callbacks::Sprintf,
    &Host::Callbacks::Strcpy,
    [](double x) { return std::asin(x); },
    [](double x) { return std::acos(x); },
};

const PF_WorldSuite2 Host::Callbacks::kWorldSuite = {
    &Host::Callbacks::NewWorld, &Host::Callbacks::DisposeWorld, &Host::Callbacks::GetPixelFormat};

Host::Host(PF_EntryPointFunc entry, int32_t paramCount)
    : entry_(entry),
      paramCount_(paramCount),
      in_(std::make_unique<PF_InData>()),
      out_(std::make_unique<PF_OutData>()),
      utils_(std::make_unique<PF_UtilCallbacks>()),
      basic_(std::make_unique<SPBasicSuite>()),
      ansiSuite_(Callbacks::kAnsiSuite),
      worldSuite_(Callbacks::kWorldSuite) {
  if (entry_ == nullptr) throw std::invalid_argument("the host needs an entry point");
  std::memset(in_.get(), 0, sizeof(PF_InData));
  std::memset(out_.get(), 0, sizeof(PF_OutData));
  std::memset(utils_.get(), 0, sizeof(PF_UtilCallbacks));
  std::memset(basic_.get(), 0, sizeof(SPBasicSuite));

  in_->inter.checkout_param = &Callbacks::CheckoutParam;
  in_->inter.checkin_param = &Callbacks::CheckinParam;
  in_->inter.add_param = &Callbacks::AddParam;
  in_->inter.progress = &Callbacks::Progress;
  utils_->fill = &Callbacks::Fill;
  // The utility callbacks begin with the same functions as the ANSI suite.
  std::memcpy(&utils_->ansi, &Callbacks::kAnsiSuite, sizeof(PF_ANSICallbacksSuite1));
  in_->utils = utils_.get();
  basic_->AcquireSuite = &Callbacks::AcquireSuite;
  basic_->ReleaseSuite = &Callbacks::ReleaseSuite;
  basic_->IsEqual = &Callbacks::IsEqual;
  basic_->AllocateBlock = &Callbacks::AllocateBlock;
  basic_->FreeBlock = &Callbacks::FreeBlock;
  basic_->ReallocateBlock = &Callbacks::ReallocateBlock;
  basic_->Undefined = &Callbacks::Undefined;

  ledger::SetInDataDefaults(*in_, reinterpret_cast<PF_ProgPtr>(this), paramCount_);
}

Host::~Host() = default;

void Host::setLayer(int index, FrameSourcePtr source) { layers_[index] = std::move(source); }

void Host::failCall(Op op, int nth, PF_Err code) {
  if (nth < 1) throw std::invalid_argument("calls are counted from 1");
  failRules_.push_back(FailRule{op, opCounts_[op] + nth, code});
}

void Host::setSuiteAnswer(const std::string& name, int32_t version, SuiteAnswer answer) {
  suiteAnswers_[std::make_pair(name, version)] = answer;
}

WorldPtr Host::LayerFrame(int index, A_long time, A_long step, A_u_long scale) const {
  const auto source = layers_.find(index);
  if (source == layers_.end() || !source->second) return nullptr;
  const int depth = output_ && output_->format() == PF_PixelFormat_ARGB64 ? 16 : 8;
  return source->second->frameAt(LayerRequest{time, step, scale, depth});
}

void Host::Register(RegisteredParam reg) {
  registered_.push_back(std::move(reg));
  // The copies own their strings; moving them may have moved the text.
  for (RegisteredParam& stored : registered_) {
    if (stored.def.param_type == PF_Param_POPUP) {
      stored.def.u.pd.u.namesptr = stored.popupItems.c_str();
    } else if (stored.def.param_type == PF_Param_CHECKBOX) {
      stored.def.u.bd.u.nameptr = stored.checkboxLabel.c_str();
    }
  }
}

void Host::FillOutput(const PF_Pixel* color, const PF_Rect* rect) {
  World& out = const_cast<World&>(*output_);
  const PF_Pixel c = color != nullptr ? *color : PF_Pixel{0, 0, 0, 0};
  PF_Rect r = rect != nullptr ? *rect : PF_Rect{0, 0, out.width(), out.height()};
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, out.width());
  r.bottom = std::min(r.bottom, out.height());
  // Row by row, as a real host fills: the benchmarks time it with the render.
  const PF_Pixel16 deep = ledger::Pixel8To16(c);
  for (int32_t y = r.top; y < r.bottom && r.left < r.right; ++y) {
    if (out.depth() == 16) {
      std::fill_n(&out.at16(r.left, y), r.right - r.left, deep);
    } else {
      std::fill_n(&out.at8(r.left, y), r.right - r.left, c);
    }
  }
}

bool Host::FailsOnCue(Op op, Call&, PF_Err* code) {
  const int n = ++opCounts_[op];
  for (const FailRule& rule : failRules_) {
    if (rule.op == op && rule.nth == n) {
      *code = rule.code;
      return true;
    }
  }
  return false;
}

PF_Err Host::run(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output) {
  ledger::SetInDataTime(*in_, time_);
  in_->pica_basicP = basicNull_ ? nullptr : basic_.get();
  if (output != nullptr) ledger::SetInDataSize(*in_, output->width, output->height);
  last_ = ledger::CallReport{};
  last_.cmd = cmd;
  // A plug-in that registered fewer parameters gets a shorter array, which
  // the promises cannot judge.
  const bool fullArray = params == nullptr || values_.size() >= static_cast<size_t>(paramCount_);
  last_.recordsComplete = !fullArray || ledger::RecordsComplete(cmd, in_.get(), out_.get(), params,
                                                                paramCount_, output);
  if (cmd == PF_Cmd_RENDER && params != nullptr && fullArray && params[PARAM_UNITS] != nullptr) {
    last_.units = params[PARAM_UNITS]->u.sd.value;
  }
  const auto* out = reinterpret_cast<const unsigned char*>(out_.get());
  last_.outBefore.assign(out, out + sizeof(PF_OutData));
  // Callbacks are checked against this thread until the command returns.
  struct Running {
    Host* host;
    Host* previous = tCurrent;
    std::thread::id previousThread;
    explicit Running(Host* h) : host(h) {
      tCurrent = host;
      previousThread = host->books_.Begin();
      const std::lock_guard lock(gRunningMutex);
      gRunning.push_back(host);
    }
    ~Running() {
      {
        const std::lock_guard lock(gRunningMutex);
        gRunning.erase(std::find(gRunning.begin(), gRunning.end(), host));
      }
      host->books_.End(previousThread);
      tCurrent = previous;
    }
  } running{this};
  last_.result =
      cmd == PF_Cmd_RENDER && renderThreads_ > 0
          ? entryWithThreads_(cmd, in_.get(), out_.get(), params, output, nullptr, renderThreads_)
          : entry_(cmd, in_.get(), out_.get(), params, output, nullptr);
  last_.outAfter.assign(out, out + sizeof(PF_OutData));
  return last_.result;
}

void Host::setRenderThreads(tilvane::TilvaneEntryWithThreadsFunc entry, int threads) {
  if (entry == nullptr && threads > 0) {
    throw std::invalid_argument("the plug-in takes no threads per render (a Windows build?)");
  }
  entryWithThreads_ = entry;
  renderThreads_ = threads;
}

PF_Err Host::globalSetup() { return run(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr); }
PF_Err Host::about() { return run(PF_Cmd_ABOUT, nullptr, nullptr); }
PF_Err Host::command(PF_Cmd cmd) { return run(cmd, nullptr, nullptr); }

PF_Err Host::paramsSetup() {
  registered_.clear();
  values_.clear();
  const PF_Err err = run(PF_Cmd_PARAMS_SETUP, nullptr, nullptr);
  if (err == 0) resetValues();
  return err;
}

void Host::resetValues() {
  values_.assign(registered_.size() + 1, PF_ParamDef{});
  std::memset(values_.data(), 0, sizeof(PF_ParamDef) * values_.size());
  values_[0].param_type = PF_Param_LAYER;  // the effect's own input layer
  for (size_t i = 0; i < registered_.size(); ++i) values_[i + 1] = registered_[i].def;
}

PF_Err Host::render(World& output) {
  if (values_.empty()) {
    if (PF_Err err = paramsSetup()) return err;
  }
  std::vector<PF_ParamDef> copies = values_;  // the plug-in may scribble on them
  std::vector<PF_ParamDef*> params;
  for (PF_ParamDef& def : copies) params.push_back(&def);
  output_ = &output;
  struct Clear {
    const World** output;
    ~Clear() { *output = nullptr; }
  } clear{&output_};
  return run(PF_Cmd_RENDER, params.data(), output.record());
}

PF_ParamDef& Host::param(int index) {
  if (index < 1 || static_cast<size_t>(index) >= values_.size()) {
    throw std::out_of_range("no parameter " + std::to_string(index) +
                            "; run parameter set-up first");
  }
  return values_[static_cast<size_t>(index)];
}

void Host::setInt(int index, int32_t value) {
  PF_ParamDef& def = param(index);
  switch (def.param_type) {
    case PF_Param_SLIDER:
      def.u.sd.value = value;
      break;
    case PF_Param_POPUP:
      def.u.pd.value = value;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = value;
      break;
    default:
      throw std::invalid_argument("parameter " + std::to_string(index) + " takes no integer");
  }
}

void Host::setFloat(int index, double value) {
  PF_ParamDef& def = param(index);
  if (def.param_type != PF_Param_FLOAT_SLIDER) {
    throw std::invalid_argument("parameter " + std::to_string(index) + " is not a float slider");
  }
  def.u.fs_d.value = value;
}

void Host::setColor(int index, PF_Pixel argb) {
  PF_ParamDef& def = param(index);
  if (def.param_type != PF_Param_COLOR) {
    throw std::invalid_argument("parameter " + std::to_string(index) + " is not a colour");
  }
  def.u.cd.value = argb;
}

}  // namespace standin
