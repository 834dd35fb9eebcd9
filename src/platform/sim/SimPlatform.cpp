#include "platform/sim/SimPlatform.hpp"

namespace mirevo::platform::sim {

SimPlatform::SimPlatform(SimQueues queues)
    : platform_{capture, devices, clock,
                queues == SimQueues::manual ? static_cast<QueueFactory&>(manualQueues)
                                            : static_cast<QueueFactory&>(threadQueues)} {}

}  // namespace mirevo::platform::sim
