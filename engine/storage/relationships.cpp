#include "engine/storage/relationships.h"

#include <algorithm>
#include <map>

#include "engine/storage/error.h"

namespace bv::storage {

namespace {

int32_t asInt(const Value& v) {
  if (auto p = v.get<int32_t>()) return *p;
  if (auto p = v.get<int16_t>()) return *p;
  if (auto p = v.get<uint8_t>()) return *p;
  return 0;
}

std::u16string asText(const Value& v) {
  if (auto p = v.get<std::u16string>()) return *p;
  return {};
}

}  // namespace

std::vector<Relationship> readRelationships(const Database& db) {
  const CatalogEntry* e = db.findObject(u"MSysRelationships");
  if (!e || e->type != 1) return {};
  auto t = db.tableAt(e->tdefPage(), e->name);
  const int cName = t->findColumn(u"szRelationship"), cFlags = t->findColumn(u"grbit"),
            cPos = t->findColumn(u"icolumn"), cObj = t->findColumn(u"szObject"),
            cCol = t->findColumn(u"szColumn"), cRef = t->findColumn(u"szReferencedObject"),
            cRefCol = t->findColumn(u"szReferencedColumn");
  if (cName < 0 || cFlags < 0 || cPos < 0 || cObj < 0 || cCol < 0 || cRef < 0 || cRefCol < 0)
    throw JetError(3049, "The database is damaged: MSysRelationships lacks one of its columns.");
  struct Part {
    int32_t pos;
    std::u16string col, refCol;
  };
  std::vector<Relationship> out;
  std::vector<std::vector<Part>> parts;
  TableCursor cur = db.scan(t);
  while (cur.next()) {
    const std::u16string name = asText(cur.value(static_cast<size_t>(cName)));
    auto it = std::find_if(out.begin(), out.end(), [&](const Relationship& r) { return jetNameEquals(r.name, name); });
    if (it == out.end()) {
      Relationship r;
      r.name = name;
      r.flags = static_cast<uint32_t>(asInt(cur.value(static_cast<size_t>(cFlags))));
      r.table = asText(cur.value(static_cast<size_t>(cObj)));
      r.referencedTable = asText(cur.value(static_cast<size_t>(cRef)));
      out.push_back(std::move(r));
      parts.emplace_back();
      it = out.end() - 1;
    }
    parts[static_cast<size_t>(it - out.begin())].push_back(
        {asInt(cur.value(static_cast<size_t>(cPos))), asText(cur.value(static_cast<size_t>(cCol))),
         asText(cur.value(static_cast<size_t>(cRefCol)))});
  }
  for (size_t i = 0; i < out.size(); ++i) {
    std::sort(parts[i].begin(), parts[i].end(), [](const Part& a, const Part& b) { return a.pos < b.pos; });
    for (auto& p : parts[i]) {
      out[i].columns.push_back(std::move(p.col));
      out[i].referencedColumns.push_back(std::move(p.refCol));
    }
  }
  return out;
}

}  // namespace bv::storage
