// Image files in and out, one concern to a header: numbered names, layers and
// their kinds, serving layers to the host, fitting, and writing.
#pragma once

#include "tools/tilvane/errors.h"
#include "tools/tilvane/fitting.h"
#include "tools/tilvane/frame_pattern.h"
#include "tools/tilvane/image_writer.h"
#include "tools/tilvane/layer.h"
#include "tools/tilvane/layer_source.h"
#include "tools/tilvane/movie_reader.h"
#include "tools/tilvane/output_file.h"
