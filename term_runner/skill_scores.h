// The skill scores of a simulated series against an observed one, over the
// days both hold (pure functions, in double precision, with compensated
// sums, so that 10^4 days of values up to 10^5 lose no digits).
//
// With s the simulated and o the observed values of the paired days, n of
// them, means and population standard deviations (divided by n):
//   nse       1 - sum((s - o)^2) / sum((o - mean(o))^2)        Nash and Sutcliffe (1970)
//   log_nse   nse of ln(s + e) and ln(o + e), e = mean(o) / 100  Pushpalatha et al. (2012)
//   r         Pearson's correlation of s and o
//   alpha     sd(s) / sd(o)
//   beta      mean(s) / mean(o)
//   kge       1 - sqrt((r - 1)^2 + (alpha - 1)^2 + (beta - 1)^2) Gupta et al. (2009)
//   gamma     (sd(s) / mean(s)) / (sd(o) / mean(o))
//   kge_prime kge with gamma for alpha                          Kling et al. (2012)
//   pbias     100 sum(s - o) / sum(o): positive where the simulation is too high
//   rmse      sqrt(mean((s - o)^2))
// A score is undefined (nullopt) with fewer than 2 paired days, where a
// denominator is zero (observations without variance, a zero mean, a
// series without variance for r) or where it is not finite.
#ifndef DISCHARGE_TERM_RUNNER_SKILL_SCORES_H
#define DISCHARGE_TERM_RUNNER_SKILL_SCORES_H

#include <cstddef>
#include <optional>
#include <span>

struct SkillScores {
    std::size_t days = 0;  // paired
    std::optional<double> nse;
    std::optional<double> log_nse;
    std::optional<double> kge;
    std::optional<double> r;
    std::optional<double> alpha;
    std::optional<double> beta;
    std::optional<double> kge_prime;
    std::optional<double> gamma;
    std::optional<double> pbias;
    std::optional<double> rmse;
    std::optional<double> mean_sim;
    std::optional<double> mean_obs;
};

// The scores of `simulated` against `observed`, of equal length, day by
// day: a day counts where the simulated value is a discharge (finite, not
// negative) and the observed one is present (finite, not negative).
SkillScores skill_scores(std::span<const double> simulated, std::span<const double> observed);

#endif  // DISCHARGE_TERM_RUNNER_SKILL_SCORES_H
