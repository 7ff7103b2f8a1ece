// The runtime: values, code blocks, objects and the class table, call frames, the settings
// store, dates, the string and list routines, the error object and launch, quit and shutdown.
#pragma once

#include "dates.h"
#include "error.h"
#include "frames.h"
#include "process.h"
#include "settings.h"
#include "strings.h"
#include "ui.h"
#include "value.h"
