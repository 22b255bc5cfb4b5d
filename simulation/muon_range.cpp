#include "simulation/muon_range.h"

#include <cmath>
#include <limits>

// The ranges are the CSDA columns of the muon energy-loss tables in the
// format of the Particle Data Group's "Atomic and nuclear properties of
// materials" (Groom, Mokhov and Striganov, "Muon stopping power and range
// tables 10 MeV-100 TeV", At. Data Nucl. Data Tables 78 (2001) 183): the same
// ionisation formula, mean excitation energies and Sternheimer density-effect
// coefficients, as tabulated for each material by PUMAS (V. Niess et al.,
// Comput. Phys. Commun. 229 (2018) 54) in the pumas-materials compilation,
// files dedx/muon/<name>.txt: polyvinyltoluene, lead, iron,
// shielding_concrete, water_liquid (PUMAS v0.15), standard_rock, aluminum
// (the others PUMAS v1.00). Up to some GeV the range is set by ionisation,
// where these tables and the PDG's share their inputs; above some tens of
// GeV radiative losses join in, which PUMAS computes with newer cross
// sections than the PDG's, so that there the two may differ by a few
// percent. The PDG's own text tables were not at hand. The rows kept run from
// 10 MeV to 100 GeV of kinetic energy, 16 a decade as tabulated.

namespace {

constexpr int rows = range_rows;

constexpr double kinetic_mev[rows] = {
    1.0e1, 1.2e1, 1.4e1, 1.7e1, 2.0e1, 2.5e1, 3.0e1, 3.5e1, 4.0e1, 4.5e1, 5.0e1,
    5.5e1, 6.0e1, 7.0e1, 8.0e1, 9.0e1, 1.0e2, 1.2e2, 1.4e2, 1.7e2, 2.0e2, 2.5e2,
    3.0e2, 3.5e2, 4.0e2, 4.5e2, 5.0e2, 5.5e2, 6.0e2, 7.0e2, 8.0e2, 9.0e2, 1.0e3,
    1.2e3, 1.4e3, 1.7e3, 2.0e3, 2.5e3, 3.0e3, 3.5e3, 4.0e3, 4.5e3, 5.0e3, 5.5e3,
    6.0e3, 7.0e3, 8.0e3, 9.0e3, 1.0e4, 1.2e4, 1.4e4, 1.7e4, 2.0e4, 2.5e4, 3.0e4,
    3.5e4, 4.0e4, 4.5e4, 5.0e4, 5.5e4, 6.0e4, 7.0e4, 8.0e4, 9.0e4, 1.0e5};

constexpr double polyvinyltoluene_range[rows] = {
    7.050e-1, 9.762e-1, 1.283e0, 1.805e0, 2.395e0, 3.514e0, 4.783e0, 6.184e0,
    7.699e0,  9.316e0,  1.102e1, 1.281e1, 1.466e1, 1.855e1, 2.265e1, 2.691e1,
    3.132e1,  4.046e1,  4.993e1, 6.455e1, 7.949e1, 1.048e2, 1.303e2, 1.558e2,
    1.813e2,  2.068e2,  2.321e2, 2.573e2, 2.824e2, 3.323e2, 3.817e2, 4.307e2,
    4.793e2,  5.754e2,  6.703e2, 8.107e2, 9.492e2, 1.177e3, 1.401e3, 1.622e3,
    1.841e3,  2.057e3,  2.273e3, 2.486e3, 2.699e3, 3.120e3, 3.537e3, 3.950e3,
    4.361e3,  5.175e3,  5.980e3, 7.173e3, 8.354e3, 1.030e4, 1.221e4, 1.411e4,
    1.598e4,  1.784e4,  1.968e4, 2.151e4, 2.332e4, 2.691e4, 3.045e4, 3.395e4,
    3.740e4};

constexpr double lead_range[rows] = {
    1.479e0, 2.024e0, 2.636e0, 3.668e0, 4.826e0, 7.002e0, 9.451e0, 1.214e1,
    1.503e1, 1.810e1, 2.132e1, 2.469e1, 2.818e1, 3.546e1, 4.309e1, 5.099e1,
    5.911e1, 7.582e1, 9.299e1, 1.193e2, 1.458e2, 1.903e2, 2.346e2, 2.787e2,
    3.223e2, 3.655e2, 4.082e2, 4.506e2, 4.925e2, 5.752e2, 6.566e2, 7.368e2,
    8.160e2, 9.714e2, 1.124e3, 1.347e3, 1.566e3, 1.922e3, 2.269e3, 2.610e3,
    2.945e3, 3.274e3, 3.599e3, 3.921e3, 4.239e3, 4.865e3, 5.480e3, 6.085e3,
    6.681e3, 7.850e3, 8.990e3, 1.065e4, 1.227e4, 1.485e4, 1.733e4, 1.971e4,
    2.200e4, 2.421e4, 2.633e4, 2.839e4, 3.038e4, 3.418e4, 3.775e4, 4.112e4,
    4.431e4};

constexpr double iron_range[rows] = {
    1.030e0, 1.418e0, 1.856e0, 2.598e0, 3.434e0, 5.014e0, 6.800e0, 8.765e0,
    1.089e1, 1.315e1, 1.554e1, 1.803e1, 2.062e1, 2.604e1, 3.174e1, 3.766e1,
    4.377e1, 5.639e1, 6.942e1, 8.944e1, 1.098e2, 1.441e2, 1.785e2, 2.129e2,
    2.471e2, 2.810e2, 3.148e2, 3.482e2, 3.815e2, 4.473e2, 5.123e2, 5.765e2,
    6.401e2, 7.653e2, 8.885e2, 1.070e3, 1.248e3, 1.540e3, 1.826e3, 2.107e3,
    2.384e3, 2.658e3, 2.929e3, 3.198e3, 3.464e3, 3.991e3, 4.511e3, 5.026e3,
    5.535e3, 6.539e3, 7.528e3, 8.987e3, 1.042e4, 1.276e4, 1.504e4, 1.728e4,
    1.947e4, 2.162e4, 2.373e4, 2.581e4, 2.785e4, 3.184e4, 3.571e4, 3.947e4,
    4.312e4};

constexpr double shielding_concrete_range[rows] = {
    8.440e-1, 1.166e0, 1.529e0, 2.146e0, 2.843e0, 4.161e0, 5.653e0, 7.297e0,
    9.074e0,  1.097e1, 1.296e1, 1.505e1, 1.722e1, 2.176e1, 2.654e1, 3.150e1,
    3.662e1,  4.722e1, 5.818e1, 7.505e1, 9.225e1, 1.213e2, 1.505e2, 1.796e2,
    2.087e2,  2.377e2, 2.665e2, 2.951e2, 3.236e2, 3.800e2, 4.359e2, 4.912e2,
    5.459e2,  6.541e2, 7.607e2, 9.183e2, 1.073e3, 1.328e3, 1.577e3, 1.824e3,
    2.067e3,  2.308e3, 2.547e3, 2.784e3, 3.020e3, 3.486e3, 3.948e3, 4.405e3,
    4.858e3,  5.755e3, 6.642e3, 7.954e3, 9.248e3, 1.137e4, 1.346e4, 1.553e4,
    1.756e4,  1.957e4, 2.156e4, 2.352e4, 2.547e4, 2.931e4, 3.307e4, 3.677e4,
    4.041e4};

constexpr double water_range[rows] = {
    7.078e-1, 9.794e-1, 1.287e0, 1.809e0, 2.399e0, 3.518e0, 4.786e0, 6.185e0,
    7.698e0,  9.311e0,  1.101e1, 1.280e1, 1.465e1, 1.853e1, 2.261e1, 2.685e1,
    3.123e1,  4.028e1,  4.966e1, 6.412e1, 7.890e1, 1.039e2, 1.291e2, 1.543e2,
    1.795e2,  2.046e2,  2.296e2, 2.545e2, 2.793e2, 3.284e2, 3.771e2, 4.254e2,
    4.732e2,  5.679e2,  6.613e2, 7.994e2, 9.356e2, 1.159e3, 1.379e3, 1.596e3,
    1.811e3,  2.024e3,  2.235e3, 2.445e3, 2.653e3, 3.066e3, 3.475e3, 3.880e3,
    4.282e3,  5.079e3,  5.867e3, 7.035e3, 8.190e3, 1.009e4, 1.196e4, 1.381e4,
    1.564e4,  1.745e4,  1.925e4, 2.102e4, 2.279e4, 2.628e4, 2.972e4, 3.311e4,
    3.645e4};

constexpr double standard_rock_range[rows] = {
    8.498e-1, 1.174e0, 1.540e0, 2.161e0, 2.862e0, 4.188e0, 5.691e0, 7.345e0,
    9.134e0,  1.104e1, 1.305e1, 1.515e1, 1.733e1, 2.191e1, 2.674e1, 3.175e1,
    3.693e1,  4.765e1, 5.874e1, 7.582e1, 9.324e1, 1.226e2, 1.522e2, 1.818e2,
    2.113e2,  2.407e2, 2.699e2, 2.990e2, 3.278e2, 3.851e2, 4.417e2, 4.978e2,
    5.534e2,  6.631e2, 7.713e2, 9.310e2, 1.088e3, 1.346e3, 1.599e3, 1.849e3,
    2.096e3,  2.340e3, 2.582e3, 2.822e3, 3.061e3, 3.533e3, 4.001e3, 4.464e3,
    4.923e3,  5.831e3, 6.728e3, 8.056e3, 9.367e3, 1.152e4, 1.363e4, 1.572e4,
    1.778e4,  1.981e4, 2.182e4, 2.381e4, 2.577e4, 2.965e4, 3.346e4, 3.719e4,
    4.087e4};

constexpr double aluminium_range[rows] = {
    9.094e-1, 1.255e0, 1.646e0, 2.308e0, 3.056e0, 4.471e0, 6.072e0, 7.836e0,
    9.742e0,  1.177e1, 1.392e1, 1.616e1, 1.848e1, 2.336e1, 2.849e1, 3.382e1,
    3.931e1,  5.065e1, 6.235e1, 8.033e1, 9.862e1, 1.294e2, 1.604e2, 1.913e2,
    2.220e2,  2.526e2, 2.830e2, 3.132e2, 3.432e2, 4.027e2, 4.615e2, 5.196e2,
    5.772e2,  6.910e2, 8.030e2, 9.684e2, 1.131e3, 1.398e3, 1.660e3, 1.918e3,
    2.173e3,  2.426e3, 2.676e3, 2.924e3, 3.171e3, 3.659e3, 4.142e3, 4.621e3,
    5.095e3,  6.034e3, 6.961e3, 8.332e3, 9.685e3, 1.190e4, 1.409e4, 1.623e4,
    1.835e4,  2.044e4, 2.251e4, 2.455e4, 2.657e4, 3.055e4, 3.444e4, 3.826e4,
    4.201e4};

struct properties {
  const double *range;
  double density_g_cm3;
  double radiation_length_g_cm2;
};

// Densities and radiation lengths as the PDG's material pages give them
// (pdg.lbl.gov, AtomicNuclearProperties). For mixtures the radiation length
// follows 1/X0 = sum w_j / X0_j over the elements' X0_j: water (H 63.04,
// O 34.24 g/cm^2) gives 36.08, polyvinyltoluene (C9H10; C 42.70) 43.90.
// In the order of the materials.
constexpr properties all_properties[material_count] = {
    {polyvinyltoluene_range, 1.032, 43.90},
    {lead_range, 11.35, 6.37},
    {iron_range, 7.874, 13.84},
    {shielding_concrete_range, 2.300, 26.57},
    {water_range, 1.000, 36.08},
    {standard_rock_range, 2.650, 26.54},
    {aluminium_range, 2.699, 24.01},
};
static_assert(static_cast<int>(material::aluminium) == material_count - 1);

properties properties_of(material m) {
  return all_properties[static_cast<int>(m)];
}

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

} // namespace

range_table table_of(material m) {
  return {kinetic_mev, properties_of(m).range, rows};
}

double density_g_cm3(material m) {
  return properties_of(m).density_g_cm3;
}

double radiation_length_g_cm2(material m) {
  return properties_of(m).radiation_length_g_cm2;
}

double log_log_interpolate(const double *x, const double *y, int n, double at) {
  if (!(at >= x[0] && at <= x[n - 1])) {
    return not_a_number;
  }
  // The segment [x[lo], x[lo + 1]] holding `at`, by bisection.
  int lo = 0, hi = n - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    (at < x[mid] ? hi : lo) = mid;
  }
  if (at == x[lo]) {
    return y[lo];
  }
  if (at == x[hi]) {
    return y[hi];
  }
  const double t = std::log(at / x[lo]) / std::log(x[hi] / x[lo]);
  return y[lo] * std::exp(t * std::log(y[hi] / y[lo]));
}

double csda_range_g_cm2(material m, double kinetic_gev) {
  return log_log_interpolate(kinetic_mev, properties_of(m).range, rows,
                             kinetic_gev * 1e3);
}

double kinetic_energy_to_cross_gev(material m, double thickness_g_cm2) {
  const double *range = properties_of(m).range;
  if (thickness_g_cm2 == 0.0) {
    return 0.0;
  }
  // Below the first row the muon is slow and its range grows nearly as the
  // square of its energy (Bragg-Kleeman with exponent 1.7 to 1.8): that
  // power, taken from the first two rows, carries the table down to 0.
  if (thickness_g_cm2 < range[0]) {
    const double power = std::log(range[1] / range[0]) /
                         std::log(kinetic_mev[1] / kinetic_mev[0]);
    return 1e-3 * kinetic_mev[0] *
           std::pow(thickness_g_cm2 / range[0], 1.0 / power);
  }
  return 1e-3 * log_log_interpolate(range, kinetic_mev, rows, thickness_g_cm2);
}
