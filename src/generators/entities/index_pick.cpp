#include "generators/entities/index_pick.h"

namespace tessary {

std::size_t weighted_pick(std::span<const double> weights, Xoshiro256PlusPlus& rng) {
  double total = -0.0;
  for (double w : weights) total += w;
  double t = unit_f64(rng) * total;
  for (std::size_t j = 0; j < weights.size(); ++j) {
    t -= weights[j];
    if (t <= 0) return j;
  }
  return weights.size() - 1;
}

}  // namespace tessary
