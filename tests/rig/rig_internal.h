// Pieces shared by the rig's own source files.
#ifndef ZOLVO_TESTS_RIG_INTERNAL_H
#define ZOLVO_TESTS_RIG_INTERNAL_H

#include <string>

namespace rig {
namespace detail {

// Clears proxy variables, sets no_proxy for loopback, ignores SIGPIPE and removes
// temporary entries of test processes that died. Runs once per process.
void atLoad();
// mkstemp/mkdtemp pattern in /tmp carrying this process's id.
std::string tempPattern(const std::string& what);
// A loopback port free at this moment.
int freePort();
// Whether something accepts TCP connections on 127.0.0.1:port.
bool acceptsConnections(int port);

}  // namespace detail
}  // namespace rig

#endif
