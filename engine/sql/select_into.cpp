#include "engine/sql/select_into.h"

#include "engine/sql/action_apply.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"

namespace bv::sql {

storage::TableDesign makeTableDesign(const ActionPlan& plan, bool jet4) {
  storage::TableDesign t;
  t.name = *plan.createTable;
  for (const SourceColumn& s : plan.createColumns) {
    storage::ColumnDesign c;
    c.name = s.name;
    // Jet 3 files have no Decimal type: such values are kept as Double.
    c.type = s.type == ColType::Decimal && !jet4 ? ColType::Double : s.type;
    if (c.type == ColType::Text) c.size = static_cast<uint16_t>(s.maxLength == 0 || s.maxLength > 255 ? 255 : s.maxLength);
    if (c.type == ColType::Binary) c.size = static_cast<uint16_t>(s.maxLength == 0 ? 255 : s.maxLength);
    c.precision = s.precision;
    c.scale = s.scale;
    t.columns.push_back(std::move(c));
  }
  return t;
}

int64_t applyMakeTable(storage::WriteUnit& unit, ActionPlan& plan, bool failOnError) {
  const storage::TableDesign design = makeTableDesign(plan, unit.db().isJet4());
  // An expression's values may be of several kinds (its column took the kind of the first):
  // each is converted to the column as an INSERT converts it, before anything is written.
  for (std::vector<Value>& row : plan.changes.front().inserts) {
    for (size_t k = 0; k < row.size(); ++k) {
      const storage::ColumnDesign& c = design.columns[k];
      const uint32_t size = c.type == ColType::Text || c.type == ColType::Binary ? c.size : 0;
      row[k] = coerceToColumn(row[k], c.type, size, c.precision, c.scale);
    }
  }
  storage::createTable(unit, design);
  return applyPlan(unit, plan, failOnError);
}

}  // namespace bv::sql
