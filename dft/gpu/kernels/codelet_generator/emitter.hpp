// The only layer of the generator that knows how OpenCL C is spelled: types,
// literals of each precision, statements of straight-line complex code.
// Butterflies and codelets above it speak in values and coefficients.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qez_codelets {

enum class precision { single_precision, double_precision };

// Spelling of one precision in OpenCL C.
struct precision_spelling {
  const char* real_type;  // ftype
  const char* letter;     // "s" or "d", as in kernel names
};
const precision_spelling& spelling_of(precision p);

// A complex value of the generated code: a named variable, possibly negated.
// Negation is carried here and folded into the next expression that uses the
// value, so it never costs a statement.
struct value {
  std::string name;
  bool negated = false;
};
value negate(value v);

// One term of a real linear combination: coefficient times value.
struct term {
  long double coefficient;
  value operand;
};

// How a codelet holds its complex values.
enum class value_form {
  // One ptype per value: `NAME(ptype *in, const ftype pmOne)`, every lane form.
  complex_values,
  // Real and imaginary parts in ftype scalars: `NAME(ftype *re, ftype *im)`,
  // the direction by FWD_DIR through QEZ_J_RE / QEZ_J_IM.
  split_parts,
};

// Writes straight-line code for one function body at a time. Every value is
// defined once (`const ptype tN = ...;`, or `const ftype tNr = ..., tNi = ...;`
// in the split form), which leaves register allocation to the device compiler.
class emitter {
 public:
  emitter(std::ostream& out, precision p, value_form form = value_form::complex_values);

  // A floating literal of the target precision that denotes exactly the
  // value rounded to that precision (hexadecimal form).
  std::string literal(long double v) const;

  // Function frame for a codelet `static inline void NAME(ptype *in, const ftype pmOne)`
  // (split form: `NAME(ftype *re, ftype *im)`).
  void begin_codelet(const std::string& name);
  void end_codelet();

  value load_input(int index);
  void store_output(int index, const value& v);

  value add(const value& a, const value& b);
  value subtract(const value& a, const value& b);
  // Sum of coefficient * value; coefficients that are exactly zero drop out,
  // coefficients of magnitude one cost no multiplication.
  value linear(const std::vector<term>& terms);
  // The value times the unit J of the build direction: -i forward, +i
  // backward (pmOne * swapReIm(v), valid in every lane form).
  value times_j(const value& v);

 private:
  bool split() const { return form_ == value_form::split_parts; }
  // Defines a new value from its expression, spelled once per part (the
  // suffix "" of the complex form, or "r" and "i" of the split form).
  template <class Spell>
  value define(Spell spell_part);
  std::string spell_term(const term& t, bool first, const char* part) const;

  std::ostream& out_;
  precision precision_;
  value_form form_;
  int next_temporary_ = 0;
  bool uses_lane_sign_ = false;
  std::vector<std::string> body_;
};

}  // namespace qez_codelets
