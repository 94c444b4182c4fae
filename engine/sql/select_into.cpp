#include "engine/sql/select_into.h"

#include "engine/sql/action_apply.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"

namespace bv::sql {

storage::TableDesign makeTableDesign(const ActionPlan& plan) {
  storage::TableDesign t;
  t.name = *plan.createTable;
  for (const SourceColumn& s : plan.createColumns) {
    storage::ColumnDesign c;
    c.name = s.name;
    c.type = s.type;
    if (c.type == ColType::Text) c.size = static_cast<uint16_t>(s.maxLength == 0 || s.maxLength > 255 ? 255 : s.maxLength);
    if (c.type == ColType::Binary) c.size = static_cast<uint16_t>(s.maxLength == 0 ? 255 : s.maxLength);
    c.precision = s.precision;
    c.scale = s.scale;
    for (const storage::ColumnDesign& o : t.columns)
      if (storage::jetNameEquals(o.name, c.name))
        throw JetError(3191, "The new table would have the field '" + storage::toUtf8(c.name) +
                                 "' twice; rename one with AS.");
    t.columns.push_back(std::move(c));
  }
  return t;
}

int64_t applyMakeTable(storage::WriteUnit& unit, const ActionPlan& plan, bool failOnError) {
  storage::createTable(unit, makeTableDesign(plan));
  return applyPlan(unit, plan, failOnError);
}

}  // namespace bv::sql
