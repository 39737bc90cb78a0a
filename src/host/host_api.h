// Our own declarations of the host records, callbacks and suites the effect
// uses. Layouts follow the host's published Windows x64 binary interface: the
// same field order, types, sizes and offsets, pinned by the static_asserts at
// the end so that GCC (LP64), mingw-w64 and MSVC builds all prove one layout.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define TILVANE_EXPORT extern "C" __declspec(dllexport)
#else
#define TILVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using A_long = int32_t;
using A_u_long = uint32_t;
using A_short = int16_t;
using A_u_short = uint16_t;
using A_char = char;
using A_u_char = unsigned char;
using PF_Boolean = char;
using PF_FpLong = double;
using PF_FpShort = float;

using PF_Err = A_long;
using PF_Cmd = A_long;
using PF_ParamIndex = A_long;
using PF_ParamType = A_long;
using PF_ParamFlags = A_long;
using PF_ParamUIFlags = A_long;
using PF_ParamValue = A_long;
using PF_OutFlags = A_long;
using PF_OutFlags2 = A_long;
using PF_InFlags = A_long;
using PF_Quality = A_long;
using PF_Field = A_long;
using PF_WorldFlags = A_long;
using PF_PixelFormat = A_long;
using PF_Fixed = A_long;
using PF_FSliderFlags = A_u_long;
using PF_ValueDisplayFlags = A_short;
using PF_Precision = A_short;
using PF_Handle = void**;
using SPErr = int32_t;
using SPBoolean = int32_t;

struct PF_ProgressInfo;  // opaque to the effect: the host's per-instance reference
using PF_ProgPtr = PF_ProgressInfo*;

// --- Codes ------------------------------------------------------------------

enum : PF_Cmd {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
};

enum : PF_Err {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
};

enum : PF_ParamType {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_NO_DATA = 9,
  PF_Param_FLOAT_SLIDER = 10,
  PF_Param_ARBITRARY_DATA = 11,
  PF_Param_PATH = 12,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
  PF_Param_BUTTON = 15,
  PF_Param_POINT_3D = 18,
};

enum : A_long { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };

enum : A_long {
  PF_Stage_DEVELOP = 0,
  PF_Stage_ALPHA = 1,
  PF_Stage_BETA = 2,
  PF_Stage_RELEASE = 3,
};

constexpr PF_OutFlags PF_OutFlag_WIDE_TIME_INPUT = 1 << 1;
constexpr PF_OutFlags PF_OutFlag_DEEP_COLOR_AWARE = 1 << 25;

// Pixel-format codes hold their characters first-in-lowest-byte; a multi-
// character literal would reverse them, so they are built from characters.
constexpr PF_PixelFormat PixelFormatCode(char a, char b, char c, char d) {
  return static_cast<PF_PixelFormat>(static_cast<uint32_t>(static_cast<unsigned char>(a)) |
                                     static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
                                     static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
                                     static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24);
}
constexpr PF_PixelFormat PF_PixelFormat_ARGB32 = PixelFormatCode('a', 'r', 'g', 'b');
constexpr PF_PixelFormat PF_PixelFormat_ARGB64 = PixelFormatCode('a', 'e', '1', '6');
constexpr PF_PixelFormat PF_PixelFormat_ARGB128 = PixelFormatCode('a', 'e', '3', '2');
constexpr PF_PixelFormat PF_PixelFormat_INVALID = PixelFormatCode('b', 'a', 'd', 'f');

constexpr A_long PF_MAX_CHAN8 = 255;
constexpr A_long PF_MAX_CHAN16 = 32768;
constexpr int PF_MAX_EFFECT_NAME_LEN = 31;
constexpr int PF_MAX_EFFECT_MSG_LEN = 255;

// The host's packing of an effect version into one 32-bit word.
constexpr A_u_long PF_VERSION(A_u_long vers, A_u_long subvers, A_u_long bugvers, A_u_long stage,
                              A_u_long build) {
  return ((vers >> 3) & 0xF) << 26 | (vers & 0x7) << 19 | (subvers & 0xF) << 15 |
         (bugvers & 0xF) << 11 | (stage & 0x3) << 9 | (build & 0x1FF);
}

// --- Small records ------------------------------------------------------------

struct PF_SpecVersion {
  A_short major;
  A_short minor;
};

struct PF_Point {
  A_long h, v;
};

struct PF_Rect {
  A_long left, top, right, bottom;
};
using PF_LRect = PF_Rect;
using PF_UnionableRect = PF_Rect;

struct PF_RationalScale {
  A_long num;
  A_u_long den;
};

struct PF_Pixel {
  A_u_char alpha, red, green, blue;
};
using PF_Pixel8 = PF_Pixel;

struct PF_Pixel16 {
  A_u_short alpha, red, green, blue;
};

using PF_PixelPtr = PF_Pixel*;

struct PF_SoundFormatInfo {
  PF_FpLong rateF;
  A_short num_channels;
  A_short format;
  A_short sample_size;
};

struct PF_SoundWorld {
  PF_SoundFormatInfo fi;
  A_long num_samples;
  void* dataP;
};

struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  PF_PixelPtr data;
  A_long rowbytes;  // may exceed width × pixel size, and may be negative
  A_long width;
  A_long height;
  PF_UnionableRect extent_hint;
  void* platform_ref;
  A_long reserved_long1;
  void* reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void* reserved_long2;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
  A_long dephault;
};
using PF_EffectWorld = PF_LayerDef;

enum : PF_WorldFlags { PF_WorldFlag_DEEP = 1 << 0, PF_WorldFlag_WRITEABLE = 1 << 1 };

// --- Parameter definitions ----------------------------------------------------

struct PF_SliderDef {
  PF_ParamValue value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_ParamValue valid_min, valid_max;
  PF_ParamValue slider_min, slider_max;
  PF_ParamValue dephault;
};

struct PF_FixedSliderDef {
  PF_Fixed value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_Fixed valid_min, valid_max;
  PF_Fixed slider_min, slider_max;
  PF_Fixed dephault;
  PF_Precision precision;
  PF_ValueDisplayFlags display_flags;
};

struct PF_AngleDef {
  PF_Fixed value, dephault, valid_min, valid_max;
};

struct PF_CheckBoxDef {
  A_long value;
  PF_Boolean dephault;
  A_char reserved;
  A_short reserved1;
  union {
    const A_char* nameptr;
  } u;
};

struct PF_ColorDef {
  PF_Pixel value;
  PF_Pixel dephault;
};

struct PF_PointDef {
  PF_Fixed x_value, y_value;
  A_char reserved[3];
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault, y_dephault;
};

struct PF_PopupDef {
  A_long value;
  A_short num_choices;
  A_short dephault;
  union {
    const A_char* namesptr;  // items joined by "|"
  } u;
};

struct PF_FloatSliderDef {
  PF_FpLong value;
  PF_FpLong phase;
  A_char value_desc[32];
  PF_FpShort valid_min, valid_max;
  PF_FpShort slider_min, slider_max;
  PF_FpShort dephault;
  PF_Precision precision;
  PF_ValueDisplayFlags display_flags;
  PF_FSliderFlags fs_flags;
  PF_FpShort curve_tolerance;
  PF_Boolean useExponent;
  PF_FpShort exponent;
};

struct PF_ArbitraryDef {
  A_short id;
  A_short pad;
  PF_Handle dephault;
  PF_Handle value;
  void* refconPV;
};

struct PF_PathDef {
  A_u_long path_id;
  A_long reserved0;
  A_long dephault;
};

struct PF_ButtonDef {
  A_long value;
  union {
    const A_char* namesptr;
  } u;
};

struct PF_Point3DDef {
  PF_FpLong x_value, y_value, z_value;
  PF_FpLong x_dephault, y_dephault, z_dephault;
  A_char reserved[16];
};

union PF_ParamDefUnion {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_ColorDef cd;
  PF_PointDef td;
  PF_PopupDef pd;
  PF_FloatSliderDef fs_d;
  PF_ArbitraryDef arb_d;
  PF_PathDef path_d;
  PF_ButtonDef button_d;
  PF_Point3DDef point3d_d;
};

struct PF_ParamDef {
  union {
    A_long id;
    A_long change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[32];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
};

using PF_ParamList = PF_ParamDef**;

// --- Callbacks ----------------------------------------------------------------

using PF_UnusedCallback = void (*)();

struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
  PF_UnusedCallback register_ui;
  PF_UnusedCallback checkout_layer_audio;
  PF_UnusedCallback checkin_layer_audio;
  PF_UnusedCallback get_audio_data;
  void* reserved_str[3];
  void* reserved[10];
};

using PF_ANSISprintf = int (*)(A_char* dst, const A_char* fmt, ...);
using PF_ANSIStrcpy = A_char* (*)(A_char* dst, const A_char* src);
using PF_ANSIMath1 = double (*)(double);
using PF_ANSIMath2 = double (*)(double, double);

// The ANSI functions, in the host's order: the same in the utility callbacks
// and in "PF ANSI Suite" version 1.
#define TILVANE_PF_ANSI_FUNCTIONS \
  PF_ANSIMath1 atan;              \
  PF_ANSIMath2 atan2;             \
  PF_ANSIMath1 ceil;              \
  PF_ANSIMath1 cos;               \
  PF_ANSIMath1 exp;               \
  PF_ANSIMath1 fabs;              \
  PF_ANSIMath1 floor;             \
  PF_ANSIMath2 fmod;              \
  PF_ANSIMath2 hypot;             \
  PF_ANSIMath1 log;               \
  PF_ANSIMath1 log10;             \
  PF_ANSIMath2 pow;               \
  PF_ANSIMath1 sin;               \
  PF_ANSIMath1 sqrt;              \
  PF_ANSIMath1 tan;               \
  PF_ANSISprintf sprintf;         \
  PF_ANSIStrcpy strcpy;           \
  PF_ANSIMath1 asin;              \
  PF_ANSIMath1 acos;

struct PF_ANSICallbacks {
  TILVANE_PF_ANSI_FUNCTIONS
  A_long ansi_procs[1];
};

struct PF_ColorCallbacks {
  PF_UnusedCallback procs[8];
};

using PF_FillFunc = PF_Err (*)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* rect,
                               PF_EffectWorld* world);

struct PF_UtilCallbacks {
  PF_UnusedCallback begin_sampling;
  PF_UnusedCallback subpixel_sample;
  PF_UnusedCallback area_sample;
  void* reserved_data;
  PF_UnusedCallback end_sampling;
  PF_UnusedCallback composite_rect;
  PF_UnusedCallback blend;
  PF_UnusedCallback convolve;
  PF_UnusedCallback copy;
  PF_FillFunc fill;
  PF_UnusedCallback gaussian_kernel;
  PF_UnusedCallback iterate;
  PF_UnusedCallback premultiply;
  PF_UnusedCallback premultiply_color;
  PF_UnusedCallback new_world;
  PF_UnusedCallback dispose_world;
  PF_UnusedCallback iterate_origin;
  PF_UnusedCallback iterate_lut;
  PF_UnusedCallback transfer_rect;
  PF_UnusedCallback transform_world;
  PF_UnusedCallback host_new_handle;
  PF_UnusedCallback host_lock_handle;
  PF_UnusedCallback host_unlock_handle;
  PF_UnusedCallback host_dispose_handle;
  PF_UnusedCallback get_callback_addr;
  PF_UnusedCallback app;
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
  PF_UnusedCallback get_platform_data;
  PF_UnusedCallback host_get_handle_size;
  PF_UnusedCallback iterate_origin_non_clip_src;
  PF_UnusedCallback iterate_generic;
  PF_UnusedCallback host_resize_handle;
  PF_UnusedCallback subpixel_sample16;
  PF_UnusedCallback area_sample16;
  PF_UnusedCallback fill16;
  PF_UnusedCallback premultiply_color16;
  PF_UnusedCallback iterate16;
  PF_UnusedCallback iterate_origin16;
  PF_UnusedCallback iterate_origin_non_clip_src16;
  PF_UnusedCallback get_pixel_data8;
  PF_UnusedCallback get_pixel_data16;
  A_long reserved[1];
};

// --- Suites -------------------------------------------------------------------

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
  SPErr (*Undefined)();
};

struct PF_ANSICallbacksSuite1 {
  TILVANE_PF_ANSI_FUNCTIONS
};

struct PF_WorldSuite2 {
  PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear,
                        PF_PixelFormat pixel_format, PF_EffectWorld* world);
  PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
  PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* pixel_format);
};

constexpr const char* kPFANSISuite = "PF ANSI Suite";
constexpr int32_t kPFANSISuiteVersion1 = 1;
constexpr const char* kPFWorldSuite = "PF World Suite";
constexpr int32_t kPFWorldSuiteVersion2 = 2;

// --- Records of a command -------------------------------------------------------

struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  PF_SpecVersion version;
  A_long serial_num;
  A_long appl_id;
  A_long num_params;
  A_long reserved;
  A_long what_cpu;
  A_long what_fpu;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  PF_InFlags in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  A_long start_sampL;
  A_long dur_sampL;
  A_long total_sampL;
  PF_SoundWorld src_snd;
  SPBasicSuite* pica_basicP;
  A_long pre_effect_source_origin_x;
  A_long pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
};

struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width;
  A_long height;
  PF_Point origin;
  PF_OutFlags out_flags;
  A_char return_msg[256];
  A_long start_sampL;
  A_long dur_sampL;
  PF_SoundWorld dest_snd;
  PF_OutFlags2 out_flags2;
};

using PF_EntryPointFunc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// --- The Windows x64 layout, proven ---------------------------------------------

#define TILVANE_LAYOUT(type, size, align) \
  static_assert(sizeof(type) == (size));  \
  static_assert(alignof(type) == (align))
#define TILVANE_AT(type, field, offset) static_assert(offsetof(type, field) == (offset))

TILVANE_LAYOUT(PF_SpecVersion, 4, 2);
TILVANE_LAYOUT(PF_Point, 8, 4);
TILVANE_LAYOUT(PF_Rect, 16, 4);
TILVANE_LAYOUT(PF_RationalScale, 8, 4);
TILVANE_LAYOUT(PF_Pixel, 4, 1);
TILVANE_AT(PF_Pixel, alpha, 0);
TILVANE_AT(PF_Pixel, red, 1);
TILVANE_AT(PF_Pixel, green, 2);
TILVANE_AT(PF_Pixel, blue, 3);
TILVANE_LAYOUT(PF_Pixel16, 8, 2);
TILVANE_AT(PF_Pixel16, alpha, 0);
TILVANE_AT(PF_Pixel16, red, 2);
TILVANE_AT(PF_Pixel16, green, 4);
TILVANE_AT(PF_Pixel16, blue, 6);
TILVANE_LAYOUT(PF_SoundFormatInfo, 16, 8);
TILVANE_LAYOUT(PF_SoundWorld, 32, 8);
TILVANE_AT(PF_SoundWorld, num_samples, 16);
TILVANE_AT(PF_SoundWorld, dataP, 24);

TILVANE_LAYOUT(PF_LayerDef, 120, 8);
TILVANE_AT(PF_LayerDef, reserved0, 0);
TILVANE_AT(PF_LayerDef, reserved1, 8);
TILVANE_AT(PF_LayerDef, world_flags, 16);
TILVANE_AT(PF_LayerDef, data, 24);
TILVANE_AT(PF_LayerDef, rowbytes, 32);
TILVANE_AT(PF_LayerDef, width, 36);
TILVANE_AT(PF_LayerDef, height, 40);
TILVANE_AT(PF_LayerDef, extent_hint, 44);
TILVANE_AT(PF_LayerDef, platform_ref, 64);
TILVANE_AT(PF_LayerDef, reserved_long1, 72);
TILVANE_AT(PF_LayerDef, reserved_long4, 80);
TILVANE_AT(PF_LayerDef, pix_aspect_ratio, 88);
TILVANE_AT(PF_LayerDef, reserved_long2, 96);
TILVANE_AT(PF_LayerDef, origin_x, 104);
TILVANE_AT(PF_LayerDef, origin_y, 108);
TILVANE_AT(PF_LayerDef, reserved_long3, 112);
TILVANE_AT(PF_LayerDef, dephault, 116);

TILVANE_LAYOUT(PF_SliderDef, 88, 4);
TILVANE_AT(PF_SliderDef, value_str, 4);
TILVANE_AT(PF_SliderDef, value_desc, 36);
TILVANE_AT(PF_SliderDef, valid_min, 68);
TILVANE_AT(PF_SliderDef, valid_max, 72);
TILVANE_AT(PF_SliderDef, slider_min, 76);
TILVANE_AT(PF_SliderDef, slider_max, 80);
TILVANE_AT(PF_SliderDef, dephault, 84);
TILVANE_LAYOUT(PF_FixedSliderDef, 92, 4);
TILVANE_AT(PF_FixedSliderDef, precision, 88);
TILVANE_AT(PF_FixedSliderDef, display_flags, 90);
TILVANE_LAYOUT(PF_AngleDef, 16, 4);
TILVANE_LAYOUT(PF_CheckBoxDef, 16, 8);
TILVANE_AT(PF_CheckBoxDef, dephault, 4);
TILVANE_AT(PF_CheckBoxDef, reserved, 5);
TILVANE_AT(PF_CheckBoxDef, reserved1, 6);
TILVANE_AT(PF_CheckBoxDef, u.nameptr, 8);
TILVANE_LAYOUT(PF_ColorDef, 8, 1);
TILVANE_AT(PF_ColorDef, dephault, 4);
TILVANE_LAYOUT(PF_PointDef, 20, 4);
TILVANE_AT(PF_PointDef, restrict_bounds, 11);
TILVANE_AT(PF_PointDef, x_dephault, 12);
TILVANE_AT(PF_PointDef, y_dephault, 16);
TILVANE_LAYOUT(PF_PopupDef, 16, 8);
TILVANE_AT(PF_PopupDef, num_choices, 4);
TILVANE_AT(PF_PopupDef, dephault, 6);
TILVANE_AT(PF_PopupDef, u.namesptr, 8);
TILVANE_LAYOUT(PF_FloatSliderDef, 88, 8);
TILVANE_AT(PF_FloatSliderDef, phase, 8);
TILVANE_AT(PF_FloatSliderDef, value_desc, 16);
TILVANE_AT(PF_FloatSliderDef, valid_min, 48);
TILVANE_AT(PF_FloatSliderDef, valid_max, 52);
TILVANE_AT(PF_FloatSliderDef, slider_min, 56);
TILVANE_AT(PF_FloatSliderDef, slider_max, 60);
TILVANE_AT(PF_FloatSliderDef, dephault, 64);
TILVANE_AT(PF_FloatSliderDef, precision, 68);
TILVANE_AT(PF_FloatSliderDef, display_flags, 70);
TILVANE_AT(PF_FloatSliderDef, fs_flags, 72);
TILVANE_AT(PF_FloatSliderDef, curve_tolerance, 76);
TILVANE_AT(PF_FloatSliderDef, useExponent, 80);
TILVANE_AT(PF_FloatSliderDef, exponent, 84);
TILVANE_LAYOUT(PF_ArbitraryDef, 32, 8);
TILVANE_AT(PF_ArbitraryDef, dephault, 8);
TILVANE_AT(PF_ArbitraryDef, value, 16);
TILVANE_AT(PF_ArbitraryDef, refconPV, 24);
TILVANE_LAYOUT(PF_PathDef, 12, 4);
TILVANE_LAYOUT(PF_ButtonDef, 16, 8);
TILVANE_AT(PF_ButtonDef, u.namesptr, 8);
TILVANE_LAYOUT(PF_Point3DDef, 64, 8);
TILVANE_AT(PF_Point3DDef, reserved, 48);
TILVANE_LAYOUT(PF_ParamDefUnion, 120, 8);

TILVANE_LAYOUT(PF_ParamDef, 176, 8);
TILVANE_AT(PF_ParamDef, uu.id, 0);
TILVANE_AT(PF_ParamDef, ui_flags, 4);
TILVANE_AT(PF_ParamDef, ui_width, 8);
TILVANE_AT(PF_ParamDef, ui_height, 10);
TILVANE_AT(PF_ParamDef, param_type, 12);
TILVANE_AT(PF_ParamDef, name, 16);
TILVANE_AT(PF_ParamDef, flags, 48);
TILVANE_AT(PF_ParamDef, unused, 52);
TILVANE_AT(PF_ParamDef, u, 56);
TILVANE_AT(PF_ParamDef, u.ld.data, 80);
TILVANE_AT(PF_ParamDef, u.ld.rowbytes, 88);
TILVANE_AT(PF_ParamDef, u.ld.width, 92);
TILVANE_AT(PF_ParamDef, u.ld.height, 96);

TILVANE_LAYOUT(PF_InteractCallbacks, 176, 8);
TILVANE_AT(PF_InteractCallbacks, checkout_param, 0);
TILVANE_AT(PF_InteractCallbacks, checkin_param, 8);
TILVANE_AT(PF_InteractCallbacks, add_param, 16);
TILVANE_AT(PF_InteractCallbacks, abort, 24);
TILVANE_AT(PF_InteractCallbacks, progress, 32);
TILVANE_AT(PF_InteractCallbacks, register_ui, 40);
TILVANE_AT(PF_InteractCallbacks, get_audio_data, 64);
TILVANE_AT(PF_InteractCallbacks, reserved_str, 72);
TILVANE_AT(PF_InteractCallbacks, reserved, 96);

TILVANE_LAYOUT(PF_ANSICallbacks, 160, 8);
TILVANE_AT(PF_ANSICallbacks, sprintf, 120);
TILVANE_AT(PF_ANSICallbacks, strcpy, 128);
TILVANE_AT(PF_ANSICallbacks, acos, 144);
TILVANE_AT(PF_ANSICallbacks, ansi_procs, 152);
TILVANE_LAYOUT(PF_ColorCallbacks, 64, 8);
TILVANE_LAYOUT(PF_UtilCallbacks, 552, 8);
TILVANE_AT(PF_UtilCallbacks, reserved_data, 24);
TILVANE_AT(PF_UtilCallbacks, fill, 72);
TILVANE_AT(PF_UtilCallbacks, app, 200);
TILVANE_AT(PF_UtilCallbacks, ansi, 208);
TILVANE_AT(PF_UtilCallbacks, ansi.sprintf, 328);
TILVANE_AT(PF_UtilCallbacks, ansi.strcpy, 336);
TILVANE_AT(PF_UtilCallbacks, colorCB, 368);
TILVANE_AT(PF_UtilCallbacks, get_platform_data, 432);
TILVANE_AT(PF_UtilCallbacks, fill16, 488);
TILVANE_AT(PF_UtilCallbacks, get_pixel_data16, 536);
TILVANE_AT(PF_UtilCallbacks, reserved, 544);

TILVANE_LAYOUT(SPBasicSuite, 56, 8);
TILVANE_AT(SPBasicSuite, AcquireSuite, 0);
TILVANE_AT(SPBasicSuite, ReleaseSuite, 8);
TILVANE_AT(SPBasicSuite, Undefined, 48);
TILVANE_LAYOUT(PF_ANSICallbacksSuite1, 152, 8);
TILVANE_AT(PF_ANSICallbacksSuite1, sprintf, 120);
TILVANE_AT(PF_ANSICallbacksSuite1, strcpy, 128);
static_assert(sizeof(PF_ANSICallbacksSuite1) == offsetof(PF_ANSICallbacks, ansi_procs));
TILVANE_LAYOUT(PF_WorldSuite2, 24, 8);
TILVANE_AT(PF_WorldSuite2, PF_GetPixelFormat, 16);

TILVANE_LAYOUT(PF_InData, 408, 8);
TILVANE_AT(PF_InData, inter, 0);
TILVANE_AT(PF_InData, utils, 176);
TILVANE_AT(PF_InData, effect_ref, 184);
TILVANE_AT(PF_InData, quality, 192);
TILVANE_AT(PF_InData, version, 196);
TILVANE_AT(PF_InData, serial_num, 200);
TILVANE_AT(PF_InData, appl_id, 204);
TILVANE_AT(PF_InData, num_params, 208);
TILVANE_AT(PF_InData, reserved, 212);
TILVANE_AT(PF_InData, what_cpu, 216);
TILVANE_AT(PF_InData, what_fpu, 220);
TILVANE_AT(PF_InData, current_time, 224);
TILVANE_AT(PF_InData, time_step, 228);
TILVANE_AT(PF_InData, total_time, 232);
TILVANE_AT(PF_InData, local_time_step, 236);
TILVANE_AT(PF_InData, time_scale, 240);
TILVANE_AT(PF_InData, field, 244);
TILVANE_AT(PF_InData, shutter_angle, 248);
TILVANE_AT(PF_InData, width, 252);
TILVANE_AT(PF_InData, height, 256);
TILVANE_AT(PF_InData, extent_hint, 260);
TILVANE_AT(PF_InData, output_origin_x, 276);
TILVANE_AT(PF_InData, output_origin_y, 280);
TILVANE_AT(PF_InData, downsample_x, 284);
TILVANE_AT(PF_InData, downsample_y, 292);
TILVANE_AT(PF_InData, pixel_aspect_ratio, 300);
TILVANE_AT(PF_InData, in_flags, 308);
TILVANE_AT(PF_InData, global_data, 312);
TILVANE_AT(PF_InData, sequence_data, 320);
TILVANE_AT(PF_InData, frame_data, 328);
TILVANE_AT(PF_InData, start_sampL, 336);
TILVANE_AT(PF_InData, dur_sampL, 340);
TILVANE_AT(PF_InData, total_sampL, 344);
TILVANE_AT(PF_InData, src_snd, 352);
TILVANE_AT(PF_InData, pica_basicP, 384);
TILVANE_AT(PF_InData, pre_effect_source_origin_x, 392);
TILVANE_AT(PF_InData, pre_effect_source_origin_y, 396);
TILVANE_AT(PF_InData, shutter_phase, 400);

TILVANE_LAYOUT(PF_OutData, 408, 8);
TILVANE_AT(PF_OutData, my_version, 0);
TILVANE_AT(PF_OutData, name, 4);
TILVANE_AT(PF_OutData, global_data, 40);
TILVANE_AT(PF_OutData, num_params, 48);
TILVANE_AT(PF_OutData, sequence_data, 56);
TILVANE_AT(PF_OutData, flat_sdata_size, 64);
TILVANE_AT(PF_OutData, frame_data, 72);
TILVANE_AT(PF_OutData, width, 80);
TILVANE_AT(PF_OutData, height, 84);
TILVANE_AT(PF_OutData, origin, 88);
TILVANE_AT(PF_OutData, out_flags, 96);
TILVANE_AT(PF_OutData, return_msg, 100);
TILVANE_AT(PF_OutData, start_sampL, 356);
TILVANE_AT(PF_OutData, dur_sampL, 360);
TILVANE_AT(PF_OutData, dest_snd, 368);
TILVANE_AT(PF_OutData, out_flags2, 400);

#undef TILVANE_LAYOUT
#undef TILVANE_AT
#undef TILVANE_PF_ANSI_FUNCTIONS
