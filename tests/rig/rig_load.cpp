// Compiled into every program that links the rig, so that its load-time set-up
// (no proxy for loopback, stale temporary entries removed) runs before any test.
#include "rig_internal.h"

namespace {
struct RigLoad {
    RigLoad() { rig::detail::atLoad(); }
};
const RigLoad rigLoad;
}  // namespace
