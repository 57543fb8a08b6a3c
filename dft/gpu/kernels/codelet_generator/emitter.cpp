#include "emitter.hpp"

#include <cmath>
#include <cstdio>

namespace qez_codelets {

const precision_spelling& spelling_of(precision p) {
  static const precision_spelling single_spelling{"float", "s"};
  static const precision_spelling double_spelling{"double", "d"};
  return p == precision::double_precision ? double_spelling : single_spelling;
}

value negate(value v) {
  v.negated = !v.negated;
  return v;
}

emitter::emitter(std::ostream& out, precision p, value_form form) : out_(out), precision_(p), form_(form) {}

std::string emitter::literal(long double v) const {
  char buffer[64];
  if (precision_ == precision::double_precision) {
    std::snprintf(buffer, sizeof buffer, "%a", static_cast<double>(v));
    return buffer;
  }
  // %a of the float widened to double prints the float's value exactly.
  std::snprintf(buffer, sizeof buffer, "%af", static_cast<double>(static_cast<float>(v)));
  return buffer;
}

void emitter::begin_codelet(const std::string& name) {
  out_ << "static inline void " << name
       << (split() ? "(ftype *re, ftype *im)\n{\n" : "(ptype *in, const ftype pmOne)\n{\n");
  next_temporary_ = 0;
  uses_lane_sign_ = false;
  body_.clear();
}

void emitter::end_codelet() {
  if (body_.empty()) out_ << (split() ? "    (void)re;\n    (void)im;\n" : "    (void)in;\n");
  if (!uses_lane_sign_ && !split()) out_ << "    (void)pmOne;\n";
  for (const std::string& line : body_) out_ << "    " << line << '\n';
  out_ << "}\n";
}

value emitter::load_input(int index) {
  const std::string name = "x" + std::to_string(index), at = "[" + std::to_string(index) + "]";
  if (split())
    body_.push_back("const ftype " + name + "r = re" + at + ", " + name + "i = im" + at + ";");
  else
    body_.push_back("const ptype " + name + " = in" + at + ";");
  return value{name, false};
}

void emitter::store_output(int index, const value& v) {
  const std::string at = "[" + std::to_string(index) + "] = ", sign = v.negated ? "-" : "";
  if (split())
    body_.push_back("re" + at + sign + v.name + "r; im" + at + sign + v.name + "i;");
  else
    body_.push_back("in" + at + sign + v.name + ";");
}

template <class Spell>
value emitter::define(Spell spell_part) {
  const std::string name = "t" + std::to_string(next_temporary_++);
  if (split())
    body_.push_back("const ftype " + name + "r = " + spell_part("r") + ", " + name + "i = " + spell_part("i") + ";");
  else
    body_.push_back("const ptype " + name + " = " + spell_part("") + ";");
  return value{name, false};
}

value emitter::add(const value& a, const value& b) { return linear({{1.0L, a}, {1.0L, b}}); }

value emitter::subtract(const value& a, const value& b) {
  return linear({{1.0L, a}, {-1.0L, b}});
}

std::string emitter::spell_term(const term& t, bool first, const char* part) const {
  const long double c = t.operand.negated ? -t.coefficient : t.coefficient;
  const bool minus = std::signbit(c);
  const long double magnitude = std::fabs(c);
  std::string s = minus ? (first ? "-" : " - ") : (first ? "" : " + ");
  if (magnitude != 1.0L) s += literal(magnitude) + " * ";
  return s + t.operand.name + part;
}

value emitter::linear(const std::vector<term>& terms) {
  std::vector<term> kept;
  for (const term& t : terms)
    if (t.coefficient != 0.0L) kept.push_back(t);
  if (kept.size() == 1 && std::fabs(kept[0].coefficient) == 1.0L) {
    // A bare (possibly negated) copy needs no statement.
    value v = kept[0].operand;
    return kept[0].coefficient < 0 ? negate(v) : v;
  }
  return define([&](const char* part) {
    std::string expression;
    for (std::size_t i = 0; i < kept.size(); ++i) expression += spell_term(kept[i], i == 0, part);
    if (expression.empty()) expression = split() ? literal(0.0L) : "(ptype)(" + literal(0.0L) + ")";
    return expression;
  });
}

value emitter::times_j(const value& v) {
  uses_lane_sign_ = true;
  value product = define([&](const char* part) {
    if (!split()) return "pmOne * swapReIm(" + v.name + ")";
    return std::string(part[0] == 'r' ? "QEZ_J_RE(" : "QEZ_J_IM(") + v.name + "r, " + v.name + "i)";
  });
  product.negated = v.negated;
  return product;
}

}  // namespace qez_codelets
