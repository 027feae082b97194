#pragma once
// The long-run helpers moved to the benchmarks, their only users.
#include "../../bench/LongRun.h"
