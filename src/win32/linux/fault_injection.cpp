// The armed faults: one plan and two counts per kind of call.
#include "fault_injection.h"

#include <cerrno>

namespace lystrel::layer {
namespace {

struct FaultPlan {
    bool armed = false;
    int error = 0;
    unsigned occurrence = kEveryOccurrence;
    unsigned reached = 0;
    unsigned failed = 0;
};

FaultPlan plans[static_cast<unsigned>(Fault::Count)];

FaultPlan& PlanOf(Fault fault) { return plans[static_cast<unsigned>(fault)]; }

}  // namespace

namespace detail {

bool faultsArmed = false;

bool TakeFault(Fault fault) {
    FaultPlan& plan = PlanOf(fault);
    if (!plan.armed) return false;
    ++plan.reached;
    if (plan.occurrence != kEveryOccurrence && plan.reached != plan.occurrence) return false;
    ++plan.failed;
    errno = plan.error;
    return true;
}

}  // namespace detail

void ArmFault(Fault fault, int error, unsigned occurrence) {
    FaultPlan& plan = PlanOf(fault);
    plan = FaultPlan();
    plan.armed = true;
    plan.error = error;
    plan.occurrence = occurrence;
    detail::faultsArmed = true;
}

void DisarmFaults() {
    for (FaultPlan& plan : plans) plan.armed = false;
    detail::faultsArmed = false;
}

unsigned FaultReached(Fault fault) { return PlanOf(fault).reached; }

unsigned FaultFailed(Fault fault) { return PlanOf(fault).failed; }

}  // namespace lystrel::layer
