#include "net/Probe.h"

#include <utility>

namespace vantor::net {

namespace {
thread_local app::ProbeFacts t_probe;
}  // namespace

void StartProbe() {
    t_probe = {};
}

app::ProbeFacts TakeProbe() {
    return std::exchange(t_probe, {});
}

app::ProbeFacts& ThisProbe() {
    return t_probe;
}

}  // namespace vantor::net
