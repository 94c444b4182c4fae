#include "engine/sql/rules_table.h"

#include <random>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/error.h"

namespace bv::sql {

namespace {

std::u16string trim(std::u16string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == u' ' || s[a] == u'\t' || s[a] == u'\r' || s[a] == u'\n')) ++a;
  while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t' || s[b - 1] == u'\r' || s[b - 1] == u'\n')) --b;
  return std::u16string(s.substr(a, b - a));
}

bool startsWithWord(std::u16string_view s, std::u16string_view word) {
  if (s.size() < word.size() || !storage::jetNameEquals(s.substr(0, word.size()), word)) return false;
  if (s.size() == word.size()) return true;
  const char16_t next = s[word.size()];
  return next == u' ' || next == u'(' || next == u'\t' || next == u'"' || next == u'\'';
}

bool containsNoCase(std::u16string_view hay, std::u16string_view needle) {
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (storage::jetNameEquals(hay.substr(i, needle.size()), needle)) return true;
  return false;
}

bool startsWithOperator(std::u16string_view rule) {
  const char16_t first = rule.empty() ? u' ' : rule[0];
  return first == u'<' || first == u'>' || first == u'=' || startsWithWord(rule, u"Like") ||
         startsWithWord(rule, u"In") || startsWithWord(rule, u"Between") || startsWithWord(rule, u"Is") ||
         startsWithWord(rule, u"Not");
}

bool isWordChar(char16_t c) { return c == u'_' || (c >= u'0' && c <= u'9') || ((c | 0x20) >= u'a' && (c | 0x20) <= u'z'); }

// The rule split at its outermost Or / And (an And that closes a Between stays), with the
// operators between the parts.
std::vector<std::u16string> splitLogical(const std::u16string& rule, std::vector<std::u16string>& ops) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  int depth = 0, betweens = 0;
  char16_t quote = 0;
  for (size_t i = 0; i < rule.size(); ++i) {
    const char16_t c = rule[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == u'"' || c == u'\'' || c == u'#' || c == u'[') {
      quote = c == u'[' ? u']' : c;
      continue;
    }
    if (c == u'(') ++depth;
    if (c == u')') --depth;
    if (depth != 0 || (i > 0 && isWordChar(rule[i - 1]))) continue;
    auto word = [&](std::u16string_view w) {
      return i + w.size() <= rule.size() && storage::jetNameEquals(std::u16string_view(rule).substr(i, w.size()), w) &&
             (i + w.size() == rule.size() || !isWordChar(rule[i + w.size()]));
    };
    if (word(u"Between")) ++betweens;
    if (word(u"And") && betweens > 0) {
      --betweens;
      continue;
    }
    for (std::u16string_view w : {std::u16string_view(u"Or"), std::u16string_view(u"And")}) {
      if (!word(w)) continue;
      parts.push_back(trim(std::u16string_view(rule).substr(start, i - start)));
      ops.emplace_back(w);
      start = i + w.size();
      break;
    }
  }
  parts.push_back(trim(std::u16string_view(rule).substr(start)));
  return parts;
}

// A column's rule is usually the right-hand part of a comparison (">0", "Like 'A*'",
// "Between 1 And 9", "Is Not Null"), possibly several joined by Or / And: each such part
// is applied to the column. A rule that names the column itself is a whole expression; a
// part that is a plain value is what the column must equal.
std::u16string columnRuleExpression(const std::u16string& column, const std::u16string& rule) {
  const std::u16string ref = u"[" + column + u"]";
  if (containsNoCase(rule, ref)) return rule;
  std::vector<std::u16string> ops;
  std::vector<std::u16string> parts = splitLogical(rule, ops);
  std::u16string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += u" " + ops[i - 1] + u" ";
    if (startsWithOperator(parts[i])) out += u"(" + ref + u" " + parts[i] + u")";
    else if (parts.size() == 1) out += ref + u" = (" + parts[i] + u")";
    else out += u"(" + ref + u" = (" + parts[i] + u"))";
  }
  return out;
}

std::optional<std::u16string> textProperty(const storage::PropertyBlock* b, std::u16string_view name) {
  if (!b) return std::nullopt;
  const storage::Property* p = b->find(name);
  if (!p) return std::nullopt;
  const auto* s = p->value.get<std::u16string>();
  if (!s) return std::nullopt;
  std::u16string t = trim(*s);
  if (t.empty()) return std::nullopt;
  return t;
}

std::optional<bool> boolProperty(const storage::PropertyBlock* b, std::u16string_view name) {
  if (!b) return std::nullopt;
  const storage::Property* p = b->find(name);
  if (!p) return std::nullopt;
  if (auto v = p->value.get<bool>()) return *v;
  if (auto v = p->value.get<uint8_t>()) return *v != 0;
  return std::nullopt;
}

std::string utf8(std::u16string_view s) { return storage::toUtf8(s); }

Value newGuid() {
  static thread_local std::mt19937_64 gen{std::random_device{}()};
  Guid g;
  for (size_t i = 0; i < 16; i += 8) {
    const uint64_t r = gen();
    for (size_t k = 0; k < 8; ++k) g.bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  g.bytes[7] = static_cast<uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // version 4 (stored little-endian)
  g.bytes[8] = static_cast<uint8_t>((g.bytes[8] & 0x3F) | 0x80);
  return Value(g);
}

}  // namespace

// An expression compiled once as "SELECT (expr) FROM [table]" and evaluated over a
// one-row in-memory copy of the row being written.
struct TableRules::Compiled {
  Statement statement;
  std::u16string tableName;
  std::vector<SourceColumn> columns;

  Value evaluate(const std::vector<Value>& row) const {
    auto t = std::make_shared<MemoryTable>(tableName, columns);
    t->addRow(row);
    MemoryCatalog catalog;
    catalog.add(t);
    ResultSet r = executeSelect(statement, catalog);
    if (r.rows.empty() || r.rows[0].empty()) return Value();
    return r.rows[0][0];
  }
};

namespace {
std::unique_ptr<TableRules::Compiled> compile(const std::u16string& expr, const std::u16string& table,
                                              const std::vector<SourceColumn>& columns) {
  auto c = std::make_unique<TableRules::Compiled>();
  c->statement = parseStatement(u"SELECT (" + expr + u") FROM [" + table + u"]");
  c->tableName = table;
  c->columns = columns;
  return c;
}
}  // namespace

TableRules::TableRules(const storage::TableDef& table, const storage::ObjectProperties& props, bool jet4)
    : table_(&table) {
  for (const auto& c : table.columns) sourceColumns_.push_back(sourceColumn(c, jet4));
  for (const auto& c : table.columns) {
    const storage::PropertyBlock* b = props.column(c.name);
    ColumnRules r;
    r.required = boolProperty(b, u"Required").value_or(false);
    r.allowZeroLength = boolProperty(b, u"AllowZeroLength").value_or(true);
    if (auto d = textProperty(b, u"DefaultValue")) {
      std::u16string text = *d;
      if (!text.empty() && text[0] == u'=') text = trim(std::u16string_view(text).substr(1));
      if (!text.empty()) r.defaultValue = text;
    }
    r.validationRule = textProperty(b, u"ValidationRule");
    r.validationText = textProperty(b, u"ValidationText");
    columnRules_.push_back(r.validationRule ? compile(columnRuleExpression(c.name, *r.validationRule), table.name,
                                                      sourceColumns_)
                                            : nullptr);
    columns_.push_back(std::move(r));
  }
  const storage::PropertyBlock* own = props.object();
  tableRule_ = textProperty(own, u"ValidationRule");
  tableText_ = textProperty(own, u"ValidationText");
  if (tableRule_) tableRuleCompiled_ = compile(*tableRule_, table.name, sourceColumns_);
  enforcesNothing_ = !tableRuleCompiled_;
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].required || !columns_[i].allowZeroLength || columnRules_[i]) enforcesNothing_ = false;
}

TableRules::TableRules(TableRules&&) noexcept = default;
TableRules::~TableRules() = default;

bool TableRules::hasDefaults() const {
  for (const auto& c : columns_)
    if (c.defaultValue) return true;
  return false;
}

std::vector<Value> TableRules::defaults() const {
  std::vector<Value> out(columns_.size());
  // Defaults are constants or functions of nothing (Date(), Now()): evaluated over a
  // one-row table whose single column they cannot name (the query executor expects a
  // source to have a column).
  const std::u16string scratch = u"Defaults";
  for (size_t i = 0; i < columns_.size(); ++i) {
    const auto& def = table_->columns[i];
    if (!columns_[i].defaultValue || def.autoNumber) continue;
    const std::u16string& text = *columns_[i].defaultValue;
    if (storage::jetNameEquals(text, u"GenGUID()")) {
      // A GUID AutoNumber numbers itself; an ordinary GUID column gets a fresh one.
      if (!def.guidAutoNumber) out[i] = newGuid();
      continue;
    }
    SourceColumn unused;
    unused.name = u"Unused";
    auto c = compile(text, scratch, {unused});
    Value v = c->evaluate({Value()});
    const SourceColumn& s = sourceColumns_[i];
    out[i] = coerceToColumn(v, s.type, s.maxLength, s.precision, s.scale);
  }
  return out;
}

void TableRules::check(const std::vector<Value>& row, const std::vector<bool>* changed) const {
  for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
    const ColumnRules& r = columns_[i];
    const auto& def = table_->columns[i];
    if (r.required && row[i].isNull() && !def.autoNumber && !def.guidAutoNumber)
      throw JetError(3314, "The field '" + utf8(table_->name) + "." + utf8(def.name) +
                               "' cannot contain a Null value because its Required property is set to True. "
                               "Enter a value in this field.");
    if (changed && !(*changed)[i]) continue;
    if (!r.allowZeroLength && def.isText()) {
      if (const auto* s = row[i].get<std::u16string>(); s && s->empty())
        throw JetError(3315, "Field '" + utf8(table_->name) + "." + utf8(def.name) +
                                 "' cannot be a zero-length string.");
    }
    if (columnRules_[i]) {
      Value v = columnRules_[i]->evaluate(row);
      if (!v.isNull() && !isTrue(v))
        throw JetError(3317, r.validationText ? utf8(*r.validationText)
                                              : "One or more values are prohibited by the validation rule '" +
                                                    utf8(*r.validationRule) + "' set for '" + utf8(table_->name) +
                                                    "." + utf8(def.name) +
                                                    "'. Enter a value that the expression for this field can accept.");
    }
  }
  if (tableRuleCompiled_) {
    Value v = tableRuleCompiled_->evaluate(row);
    if (!v.isNull() && !isTrue(v))
      throw JetError(3316, tableText_ ? utf8(*tableText_)
                                      : "One or more values are prohibited by the validation rule '" +
                                            utf8(*tableRule_) + "' set for '" + utf8(table_->name) +
                                            "'. Enter a value that the expression for this table can accept.");
  }
}

TableRules readTableRules(const storage::Database& db, const storage::TableDef& table) {
  return TableRules(table, storage::readTableProperties(db, table.tdefPage), db.isJet4());
}

}  // namespace bv::sql
