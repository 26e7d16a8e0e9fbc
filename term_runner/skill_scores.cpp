#include "skill_scores.h"

#include <algorithm>
#include <cmath>
#include <vector>

// Every sum below is compensated (Neumaier's variant of Kahan's summation,
// which also keeps the digits of a term larger than the running sum), so
// that its error does not grow with the number of days; variances and the
// covariance are sums of deviations from means computed first (two passes),
// never differences of sums of squares, which cancel for discharges that
// vary little about a large mean. The code is plain double arithmetic in a
// fixed order, without fused multiply-adds, so every platform gives the
// same bits (the logarithm of log_nse aside, which comes from the libm).

namespace {

// The compensated sum of term(i) for i in [0, n).
template <typename Term>
double compensated_sum(std::size_t n, Term term) {
    double sum = 0.0;
    double compensation = 0.0;  // the low-order parts lost from `sum` so far
    for (std::size_t i = 0; i < n; ++i) {
        const double x = term(i);
        const double t = sum + x;
        // The exact rounding error of sum + x, from the larger operand.
        if (std::fabs(sum) >= std::fabs(x)) {
            compensation += (sum - t) + x;
        } else {
            compensation += (x - t) + sum;
        }
        sum = t;
    }
    return sum + compensation;
}

// The mean of `values` (two or more): exactly the value for a series that
// never changes, so that its deviations are zero and not rounding noise.
double mean_of(const std::vector<double>& values) {
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    if (*low == *high) {
        return *low;
    }
    const double sum = compensated_sum(values.size(), [&](std::size_t i) { return values[i]; });
    return sum / static_cast<double>(values.size());
}

// The sum of (x[i] - mean_x) (y[i] - mean_y), with the corrected two-pass
// formula: the sums of the deviations themselves are zero but for the
// rounding of the means, and subtracting their product over n removes that
// rounding's effect to first order.
double centred_product_sum(const std::vector<double>& x, double mean_x,
                           const std::vector<double>& y, double mean_y) {
    const std::size_t n = x.size();
    const double products =
        compensated_sum(n, [&](std::size_t i) { return (x[i] - mean_x) * (y[i] - mean_y); });
    const double dx = compensated_sum(n, [&](std::size_t i) { return x[i] - mean_x; });
    const double dy = compensated_sum(n, [&](std::size_t i) { return y[i] - mean_y; });
    return products - dx * dy / static_cast<double>(n);
}

// The sum of the squared deviations of x from mean_x: never negative, where
// the correction of the two-pass formula rounds below zero for a series that
// barely varies (and NaN kept NaN, for the scores to be undefined).
double centred_square_sum(const std::vector<double>& x, double mean_x) {
    const double sum = centred_product_sum(x, mean_x, x, mean_x);
    return sum < 0.0 ? 0.0 : sum;
}

// ln(1 + x) for x > -1 without the loss of ln(1 + x) for small x: the
// rounding of 1 + x is undone by scaling with x / (u - 1) (Goldberg, 1991),
// with std::log the only function of the libm used.
double log_one_plus(double x) {
    const double u = 1.0 + x;
    if (u == 1.0) {
        return x;
    }
    return std::log(u) * x / (u - 1.0);
}

// `value` where it is finite, otherwise undefined.
std::optional<double> if_finite(double value) {
    if (std::isfinite(value)) {
        return value;
    }
    return std::nullopt;
}

// 1 - errors / variation: the form of the Nash-Sutcliffe efficiency;
// undefined without variation.
std::optional<double> efficiency(double errors, double variation) {
    if (!std::isfinite(variation) || variation == 0.0) {
        return std::nullopt;
    }
    return if_finite(1.0 - errors / variation);
}

// The Euclidean distance of (r, variability, bias) from the ideal point
// (1, 1, 1), taken from 1: the Kling-Gupta efficiency with `variability`
// alpha (Gupta et al., 2009) or gamma (Kling et al., 2012).
std::optional<double> kling_gupta(std::optional<double> r, std::optional<double> variability,
                                  std::optional<double> bias) {
    if (!r || !variability || !bias) {
        return std::nullopt;
    }
    const double dr = *r - 1.0;
    const double dv = *variability - 1.0;
    const double db = *bias - 1.0;
    return if_finite(1.0 - std::sqrt(dr * dr + dv * dv + db * db));
}

// The paired days: those where both values are discharges, that is finite
// and not negative (-0 counts as 0).
void pair_days(std::span<const double> simulated, std::span<const double> observed,
               std::vector<double>& s, std::vector<double>& o) {
    // Spans of unequal length are paired over the shorter one.
    const std::size_t days = std::min(simulated.size(), observed.size());
    for (std::size_t i = 0; i < days; ++i) {
        const double sim = simulated[i];
        const double obs = observed[i];
        if (std::isfinite(sim) && sim >= 0.0 && std::isfinite(obs) && obs >= 0.0) {
            s.push_back(sim);
            o.push_back(obs);
        }
    }
}

// The log efficiency of Pushpalatha et al. (2012): the NSE of ln(s + e)
// against ln(o + e), e = mean(o) / 100 keeping zero flows finite. The
// differences of logarithms are taken as logarithms of ratios, ln(s + e) -
// ln(o + e) = ln(1 + (s - o) / (o + e)), and the observed logarithms about
// ln(mean(o) + e), a constant that their centring removes anyway, so that
// discharges close to each other keep their digits.
std::optional<double> log_efficiency(const std::vector<double>& s, const std::vector<double>& o,
                                     double mean_o) {
    const double e = mean_o / 100.0;
    if (!std::isfinite(e) || e <= 0.0) {
        return std::nullopt;
    }
    const std::size_t n = o.size();
    const double errors = compensated_sum(n, [&](std::size_t i) {
        const double d = log_one_plus((s[i] - o[i]) / (o[i] + e));
        return d * d;
    });
    std::vector<double> logs(n);
    for (std::size_t i = 0; i < n; ++i) {
        logs[i] = log_one_plus((o[i] - mean_o) / (mean_o + e));
    }
    const double mean_log = mean_of(logs);
    return efficiency(errors, centred_square_sum(logs, mean_log));
}

// The scores that compare the spread and timing of the two series: r, alpha
// and gamma, from the centred sums of squares and products.
void spread_scores(const std::vector<double>& s, const std::vector<double>& o,
                   SkillScores& scores) {
    const double ss = centred_square_sum(s, *scores.mean_sim);
    const double oo = centred_square_sum(o, *scores.mean_obs);
    const double so = centred_product_sum(s, *scores.mean_sim, o, *scores.mean_obs);
    if (!std::isfinite(ss) || !std::isfinite(oo) || !std::isfinite(so) || oo <= 0.0) {
        return;
    }
    // sd(s) / sd(o): the divisions by n cancel.
    scores.alpha = if_finite(std::sqrt(ss / oo));
    if (ss > 0.0) {
        // sqrt(ss * oo) is exactly ss where ss == oo, so that a perfect
        // simulation has r = 1 exactly; the product of the roots where the
        // product would overflow or underflow.
        const double product = ss * oo;
        const double root =
            std::isnormal(product) ? std::sqrt(product) : std::sqrt(ss) * std::sqrt(oo);
        // Rounding can carry the ratio a hair past the bounds that the
        // Cauchy-Schwarz inequality sets.
        scores.r = if_finite(std::clamp(so / root, -1.0, 1.0));
    }
    // (sd(s) / mean(s)) / (sd(o) / mean(o)) = alpha / beta.
    if (scores.alpha && scores.beta && *scores.beta > 0.0) {
        scores.gamma = if_finite(*scores.alpha / *scores.beta);
    }
}

}  // namespace

SkillScores skill_scores(std::span<const double> simulated, std::span<const double> observed) {
    std::vector<double> s;
    std::vector<double> o;
    pair_days(simulated, observed, s, o);
    SkillScores scores;
    scores.days = s.size();
    if (scores.days < 2) {
        return scores;
    }
    const std::size_t n = scores.days;
    const double days = static_cast<double>(n);
    scores.mean_sim = if_finite(mean_of(s));
    scores.mean_obs = if_finite(mean_of(o));
    if (!scores.mean_sim || !scores.mean_obs) {
        return scores;
    }
    // The errors: s - o is exact wherever the two are within a factor of two
    // of each other (Sterbenz), so the bias keeps the digits that a
    // difference of the two sums would cancel away.
    const double errors = compensated_sum(n, [&](std::size_t i) {
        const double d = s[i] - o[i];
        return d * d;
    });
    const double error_sum = compensated_sum(n, [&](std::size_t i) { return s[i] - o[i]; });
    const double observed_sum = compensated_sum(n, [&](std::size_t i) { return o[i]; });
    scores.rmse = if_finite(std::sqrt(errors / days));
    if (*scores.mean_obs > 0.0) {
        scores.beta = if_finite(*scores.mean_sim / *scores.mean_obs);
        scores.pbias = if_finite(100.0 * error_sum / observed_sum);
    }
    const double variation = centred_square_sum(o, *scores.mean_obs);
    scores.nse = efficiency(errors, variation);
    scores.log_nse = log_efficiency(s, o, *scores.mean_obs);
    spread_scores(s, o, scores);
    scores.kge = kling_gupta(scores.r, scores.alpha, scores.beta);
    scores.kge_prime = kling_gupta(scores.r, scores.gamma, scores.beta);
    return scores;
}
