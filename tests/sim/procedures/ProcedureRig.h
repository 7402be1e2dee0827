// The rig moved to tests/support, where the benchmark may use it too.
#pragma once

#include "tests/support/ProcedureRig.h"
