// The runtime's whole surface for programs built on it: text and console output, files,
// directories and processes, media pools, images and audio, and math. Include this one
// header and link the `runtime` library.
#pragma once

#include "runtime/text/slice.h"
#include "runtime/text/print.h"
#include "runtime/text/format.h"
#include "runtime/system/temporary.h"
#include "runtime/system/file.h"
#include "runtime/system/system.h"
#include "runtime/system/directory.h"
#include "runtime/media/pool.h"
#include "runtime/media/image.h"
#include "runtime/media/audio_wave.h"
#include "runtime/media/audio_stream.h"
#include "runtime/math/math.h"
