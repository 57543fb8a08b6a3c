/* A C program written against the library's FFTW3-style interface as a user
 * would write it: plan, execute, destroy. It transforms a signal forward and
 * back on the host CPU, checks the spectrum against a direct DFT and the
 * round trip against the input, runs a real-to-complex plan, and sees that
 * an offload planner without an OpenMP runtime makes no plan. Exit status 0
 * on success. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "qez_fftw3_offload.h"

#define N 24

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static double direct_dft_error(qez_fftw_complex* x, qez_fftw_complex* y, int n) {
  const double pi = 3.14159265358979323846;
  double worst = 0.0;
  for (int k = 0; k < n; ++k) {
    double re = 0.0, im = 0.0;
    for (int j = 0; j < n; ++j) {
      const double angle = -2.0 * pi * (double)((j * k) % n) / n;
      re += x[j][0] * cos(angle) - x[j][1] * sin(angle);
      im += x[j][0] * sin(angle) + x[j][1] * cos(angle);
    }
    const double e = hypot(y[k][0] - re, y[k][1] - im);
    if (e > worst) worst = e;
  }
  return worst;
}

static void complex_round_trip(void) {
  qez_fftw_complex in[N], out[N], back[N];
  for (int j = 0; j < N; ++j) {
    in[j][0] = sin(0.3 * j) + 0.1 * j;
    in[j][1] = cos(0.7 * j);
  }
  const int32_t n = N;
  const int forward = QEZ_FFTW_FORWARD, backward = QEZ_FFTW_BACKWARD;
  const unsigned flags = QEZ_FFTW_ESTIMATE;
  qez_fftw_plan plan_forward = 0, plan_backward = 0;
  dfftw_plan_dft_1d_cpu_lp64(&plan_forward, &n, in, out, &forward, &flags);
  dfftw_plan_dft_1d_cpu_lp64(&plan_backward, &n, out, back, &backward, &flags);
  check(plan_forward != 0 && plan_backward != 0, "complex plans are made");
  if (plan_forward == 0 || plan_backward == 0) return;

  qez_fftw_complex* in_var = in;
  qez_fftw_complex* out_var = out;
  qez_fftw_complex* back_var = back;
  dfftw_execute_dft_cpu(&plan_forward, &in_var, &out_var);
  dfftw_execute_dft_cpu(&plan_backward, &out_var, &back_var);
  check(direct_dft_error(in, out, N) < 1e-12, "spectrum matches the direct DFT");
  double worst = 0.0;
  for (int j = 0; j < N; ++j) {
    const double e = hypot(back[j][0] / N - in[j][0], back[j][1] / N - in[j][1]);
    if (e > worst) worst = e;
  }
  check(worst < 1e-14, "round trip returns the input");
  qez_fftw_destroy_plan(plan_forward);
  qez_fftw_destroy_plan(plan_backward);
}

static void real_to_complex(void) {
  float signal[N];
  qez_fftwf_complex spectrum[N / 2 + 1];
  for (int j = 0; j < N; ++j) signal[j] = (float)(j % 5) - 2.0f;
  const int64_t n = N;
  const unsigned flags = QEZ_FFTW_ESTIMATE;
  qez_fftw_plan plan = 0;
  sfftw_plan_dft_r2c_1d_cpu_ilp64(&plan, &n, signal, spectrum, &flags);
  check(plan != 0, "real plan is made");
  if (plan == 0) return;
  float* signal_var = signal;
  qez_fftwf_complex* spectrum_var = spectrum;
  sfftw_execute_dft_r2c_cpu(&plan, &signal_var, &spectrum_var);
  double sum = 0.0;
  for (int j = 0; j < N; ++j) sum += signal[j];
  check(fabs(spectrum[0][0] - sum) < 1e-4 && fabs(spectrum[0][1]) < 1e-4,
        "the zero frequency is the sum of the signal");
  qez_fftw_destroy_plan(plan);
}

static void offload_without_runtime(void) {
  qez_fftw_complex data[8];
  qez_fftw_plan plan =
      fftw_plan_dft_1d_omp_offload(8, data, data, QEZ_FFTW_FORWARD, QEZ_FFTW_ESTIMATE, 0);
  check(plan == 0, "no offload plan without an OpenMP runtime");
  qez_fftw_destroy_plan(plan);
}

int main(void) {
  complex_round_trip();
  real_to_complex();
  offload_without_runtime();
  if (failures == 0) printf("FFTW3-style C program: all checks passed\n");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
