// The trace of swallowed exceptions lives with the engine, below every window layer.
#pragma once

#include "engine/CaughtExceptionTrace.h"
