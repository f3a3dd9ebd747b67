#include "FanCore/Sensors/ReadingsSmoother.h"

namespace {

// Rising temperatures are followed twice as fast as falling ones, so the fans react to heat
// quickly but do not chase every dip.
std::optional<double> smooth(std::optional<double>& stored, std::optional<double> incoming) {
    if (!incoming) return stored;
    if (!stored) {
        stored = incoming;
        return stored;
    }
    const double alpha = *incoming > *stored ? 0.3 : 0.15;
    stored = *stored + (*incoming - *stored) * alpha;
    return stored;
}

}  // namespace

Readings ReadingsSmoother::apply(const Readings& incoming) {
    Readings out = incoming;
    out.cpu = smooth(cpu, incoming.cpu);
    out.gpu = smooth(gpu, incoming.gpu);
    out.die = smooth(die, incoming.die);
    return out;
}
