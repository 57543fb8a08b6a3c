#include "butterflies.hpp"

#include <numeric>

#include "unit_roots.hpp"

namespace qez_codelets {

namespace {

bool is_prime(int n) {
  if (n < 2) return false;
  for (int d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

int smallest_prime_factor(int n) {
  for (int d = 2; d * d <= n; ++d)
    if (n % d == 0) return d;
  return n;
}

// The largest power of p dividing n.
int prime_power_part(int n, int p) {
  int part = 1;
  while (n % p == 0) {
    n /= p;
    part *= p;
  }
  return part;
}

int modular_inverse(int a, int m) {
  for (int x = 1; x < m; ++x)
    if ((a % m) * x % m == 1) return x;
  return 1;  // m == 1
}

values slice(const values& x, int start, int stride, int count) {
  values s;
  for (int i = 0; i < count; ++i) s.push_back(x[start + i * stride]);
  return s;
}

// ---- Closed butterflies ---------------------------------------------------

values radix_2(emitter& em, const values& x) { return {em.add(x[0], x[1]), em.subtract(x[0], x[1])}; }

// y_k = x0 + sum_j cos(2pi jk/n) (x_j + x_(n-j)) + J sum_j sin(2pi jk/n) (x_j - x_(n-j))
// and y_(n-k) the same with -J: J is -i forward, +i backward.
values odd_prime_pairs(emitter& em, const values& x) {
  const int n = static_cast<int>(x.size());
  const int half = n / 2;
  values sums(half + 1), differences(half + 1);
  std::vector<term> total{{1.0L, x[0]}};
  for (int j = 1; j <= half; ++j) {
    sums[j] = em.add(x[j], x[n - j]);
    differences[j] = em.subtract(x[j], x[n - j]);
    total.push_back({1.0L, sums[j]});
  }
  values y(n);
  y[0] = em.linear(total);
  for (int k = 1; k <= half; ++k) {
    std::vector<term> even{{1.0L, x[0]}}, odd;
    for (int j = 1; j <= half; ++j) {
      const unit_root w = root_of_unity(static_cast<std::int64_t>(j) * k, n);
      even.push_back({w.cosine, sums[j]});
      odd.push_back({w.sine, differences[j]});
    }
    const value a = em.linear(even);
    const value jb = em.times_j(em.linear(odd));
    y[k] = em.add(a, jb);
    y[n - k] = em.subtract(a, jb);
  }
  return y;
}

// v * exp(-+2 pi i m/n) = cos * v + sin * J v; quadrant roots cost no product.
value rotate(emitter& em, const value& v, int m, int n) {
  const unit_root w = root_of_unity(m, n);
  if (w.sine == 0.0L) return w.cosine > 0 ? v : negate(v);
  const value jv = em.times_j(v);
  return em.linear({{w.cosine, v}, {w.sine, jv}});
}

// ---- Compositions -------------------------------------------------------

// n = a*b, input n = b*n1 + n2, output k = k1 + a*k2.
values cooley_tukey(emitter& em, const values& x, int a, int b) {
  const int n = a * b;
  std::vector<values> columns(b);
  for (int n2 = 0; n2 < b; ++n2) {
    columns[n2] = transform(em, slice(x, n2, b, a));
    for (int k1 = 1; k1 < a; ++k1) columns[n2][k1] = rotate(em, columns[n2][k1], n2 * k1, n);
  }
  values y(n);
  for (int k1 = 0; k1 < a; ++k1) {
    values row;
    for (int n2 = 0; n2 < b; ++n2) row.push_back(columns[n2][k1]);
    const values out = transform(em, row);
    for (int k2 = 0; k2 < b; ++k2) y[k1 + a * k2] = out[k2];
  }
  return y;
}

// Good-Thomas: n = a*b coprime, input n = (b*n1 + a*n2) mod n, output
// k = (b*(b^-1 mod a)*k1 + a*(a^-1 mod b)*k2) mod n.
values prime_factor(emitter& em, const values& x, int a, int b) {
  const int n = a * b;
  std::vector<values> columns(b);
  for (int n2 = 0; n2 < b; ++n2) {
    values column;
    for (int n1 = 0; n1 < a; ++n1) column.push_back(x[(b * n1 + a * n2) % n]);
    columns[n2] = transform(em, column);
  }
  const int u = b * modular_inverse(b, a), v = a * modular_inverse(a, b);
  values y(n);
  for (int k1 = 0; k1 < a; ++k1) {
    values row;
    for (int n2 = 0; n2 < b; ++n2) row.push_back(columns[n2][k1]);
    const values out = transform(em, row);
    for (int k2 = 0; k2 < b; ++k2) y[(u * k1 + v * k2) % n] = out[k2];
  }
  return y;
}

}  // namespace

plan choose_plan(int n) {
  if (n == 1) return {algorithm::identity};
  if (n == 2) return {algorithm::radix_2};
  if (is_prime(n)) return {algorithm::odd_prime_pairs};
  const int p = smallest_prime_factor(n);
  const int p_part = prime_power_part(n, p);
  if (p_part != n) {
    // Split off the power of the smallest prime (powers of two first).
    return {algorithm::prime_factor, p_part, n / p_part};
  }
  // A prime power p^e: the larger half of the exponent first, e.g. 8*8,
  // 8*4, 4*4, 4*2, 9*3.
  int exponent = 0;
  for (int m = n; m > 1; m /= p) ++exponent;
  int a = 1;
  for (int i = 0; i < (exponent + 1) / 2; ++i) a *= p;
  return {algorithm::cooley_tukey, a, n / a};
}

std::string describe_plan(int n) {
  const plan c = choose_plan(n);
  const std::string split = std::to_string(c.first) + " x " + std::to_string(c.second);
  switch (c.kind) {
    case algorithm::identity: return "identity";
    case algorithm::radix_2: return "radix-2 butterfly";
    case algorithm::odd_prime_pairs: return "odd prime, symmetric pairs";
    case algorithm::prime_factor: return "prime-factor split " + split;
    case algorithm::cooley_tukey: return "Cooley-Tukey split " + split;
  }
  return "";
}

values transform(emitter& em, const values& x) {
  const plan c = choose_plan(static_cast<int>(x.size()));
  switch (c.kind) {
    case algorithm::identity: return x;
    case algorithm::radix_2: return radix_2(em, x);
    case algorithm::odd_prime_pairs: return odd_prime_pairs(em, x);
    case algorithm::prime_factor: return prime_factor(em, x, c.first, c.second);
    case algorithm::cooley_tukey: return cooley_tukey(em, x, c.first, c.second);
  }
  return x;
}

}  // namespace qez_codelets
