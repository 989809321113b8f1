#include "records/attr_spec.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tessary {
namespace {

double total_in_list_order(std::span<const double> weights) {
  double total = -0.0;
  for (double w : weights) total += w;
  return total;
}

}  // namespace

Choice make_choice(std::vector<JsonValue> values, std::vector<double> weights) {
  Choice choice{std::move(values), std::move(weights), {}, -0.0};
  choice.weight_total = total_in_list_order(choice.weights);
  if (std::isfinite(choice.weight_total)) return choice;
  // An infinite or NaN weight is taken as it is.
  if (!std::all_of(choice.weights.begin(), choice.weights.end(),
                   [](double w) { return std::isfinite(w); })) {
    return choice;
  }

  // Halve until the total fits. k finite weights add up to less than k * DBL_MAX in magnitude, so
  // this ends after about log2(k) halvings; the mildest factor keeps the most of the small weights.
  choice.scaled_weights.resize(choice.weights.size());
  for (int halvings = 1; !std::isfinite(choice.weight_total); ++halvings) {
    const double factor = std::ldexp(1.0, -halvings);
    std::transform(choice.weights.begin(), choice.weights.end(), choice.scaled_weights.begin(),
                   [factor](double w) { return w * factor; });
    choice.weight_total = total_in_list_order(choice.scaled_weights);
  }
  return choice;
}

}  // namespace tessary
