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

// Writes straight-line code for one function body at a time. Every value is
// defined once (`const ptype tN = ...;`), which leaves register allocation to
// the device compiler.
class emitter {
 public:
  emitter(std::ostream& out, precision p);

  // A floating literal of the target precision that denotes exactly the
  // value rounded to that precision (hexadecimal form).
  std::string literal(long double v) const;

  // Function frame for a codelet `static inline void NAME(ptype *in, const ftype pmOne)`.
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
  value define(const std::string& expression);
  std::string spell_term(const term& t, bool first) const;

  std::ostream& out_;
  precision precision_;
  int next_temporary_ = 0;
  bool uses_lane_sign_ = false;
  std::vector<std::string> body_;
};

}  // namespace qez_codelets
