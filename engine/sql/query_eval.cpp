// Evaluation of bound expressions against a frame of source rows.
#include "engine/sql/query_executor.h"

#include <algorithm>

namespace bv::sql::query {

// Evaluation ------------------------------------------------------------------------
Value Executor::eval(const Expr& e, const Frame& f) {
  switch (e.kind) {
    case ExprKind::Literal:
      if (e.output >= 0 && f.outputs) return f.outputs[e.output];
      return e.value;
    case ExprKind::Column: {
      if (e.param >= 0) return paramValues_[e.param];
      const Frame* fr = &f;
      for (int d = 0; d < e.depth; ++d) fr = fr->parent;
      if (e.output >= 0) return fr->outputs ? fr->outputs[e.output] : Value();
      const Value* row = fr->rows[e.source];
      return row ? row[e.column] : Value();
    }
    case ExprKind::Param:
      return paramValues_[e.param];
    case ExprKind::Unary:
      return applyUnary(toUnary(e.op), eval(*e.args[0], f));
    case ExprKind::Binary: {
      Value a = eval(*e.args[0], f);
      if (e.op == Op::And && a.kind() == Kind::Bool && !a.as<bool>()) return Value(false);
      if (e.op == Op::Or && a.kind() == Kind::Bool && a.as<bool>()) return Value(true);
      return applyBinary(toBinary(e.op), a, eval(*e.args[1], f));
    }
    case ExprKind::Like: {
      Value r = likeMatch(eval(*e.args[0], f), eval(*e.args[1], f));
      return e.negated ? applyUnary(UnaryOp::Not, r) : r;
    }
    case ExprKind::Between: {
      Value r = between(eval(*e.args[0], f), eval(*e.args[1], f), eval(*e.args[2], f));
      return e.negated ? applyUnary(UnaryOp::Not, r) : r;
    }
    case ExprKind::InList: {
      Value v = eval(*e.args[0], f);
      if (const InSet* set = constantSet(e, f)) {
        Value r = set->contains(v);
        return e.negated ? applyUnary(UnaryOp::Not, r) : r;
      }
      std::vector<Value> list;
      list.reserve(e.args.size() - 1);
      for (size_t i = 1; i < e.args.size(); ++i) list.push_back(eval(*e.args[i], f));
      Value r = inList(v, list);
      return e.negated ? applyUnary(UnaryOp::Not, r) : r;
    }
    case ExprKind::InSelect: {
      Value r = inSubquery(e, f);
      return e.negated ? applyUnary(UnaryOp::Not, r) : r;
    }
    case ExprKind::IsNull: {
      bool null = eval(*e.args[0], f).isNull();
      return Value(e.negated ? !null : null);
    }
    case ExprKind::Exists: {
      bool any = !subqueryRows(*e.sub, f, 1).empty();
      return Value(e.negated ? !any : any);
    }
    case ExprKind::Subquery: {
      const auto& rows = subqueryRows(*e.sub, f, 2);
      if (rows.empty()) return Value();
      if (rows.size() > 1)
        throw JetError(3354, "The subquery " + quoted(fromUtf8(textOf(e))) +
                                 " returns more than one record where one value is needed.");
      return rows[0][0];
    }
    case ExprKind::Call: {
      if (e.aggregate >= 0) return f.aggs ? f.aggs[e.aggregate] : Value();
      if (equalsNoCase(e.name, u"IIf") && e.args.size() == 3)
        return eval(*e.args[isTrue(eval(*e.args[0], f)) ? 1 : 2], f);
      std::vector<Value> args;
      args.reserve(e.args.size());
      for (const auto& a : e.args) args.push_back(eval(*a, f));
      return callFunction(e.name, args);
    }
  }
  return Value();
}

// An IN list of constants (literals and parameters) becomes a set on first use.
bool Executor::isConstant(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Literal: return e.output < 0;
    case ExprKind::Param: return true;
    case ExprKind::Column: return e.param >= 0;
    case ExprKind::Unary: return e.op != Op::Not && isConstant(*e.args[0]);
    default: return false;
  }
}

const InSet* Executor::constantSet(const Expr& e, const Frame& f) {
  auto it = inSets_.find(&e);
  if (it != inSets_.end()) return it->second.get();
  std::unique_ptr<InSet> set;
  bool constant = true;
  for (size_t i = 1; i < e.args.size() && constant; ++i) constant = isConstant(*e.args[i]);
  if (constant) {
    std::vector<Value> items;
    items.reserve(e.args.size() - 1);
    for (size_t i = 1; i < e.args.size(); ++i) items.push_back(eval(*e.args[i], f));
    set = std::make_unique<InSet>(std::move(items));
  }
  return inSets_.emplace(&e, std::move(set)).first->second.get();
}

}  // namespace bv::sql::query
