// Layout of an LvProp blob, worked out from the 39 Access-made fixtures (every blob of
// every MSysObjects row parses to its end with it, in both versions):
//
//   4 bytes   signature: "KKD\0" (Jet 3) or "MR2\0" (Jet 4)
//   chunks    u32 length (the 6-byte chunk header included), u16 kind, body
//     kind 0x80: the property names, each u16 byte length + name; later chunks refer to
//                names by their position in this list
//     kind 0x00: the object's own properties; kind 0x01: one column's properties.
//                Body: u32 length of the name part (these 4 bytes included), u16 byte
//                length + the column's name (empty for the object), then entries:
//                  u16 entry length (header included), u8 ddl flag, u8 data type,
//                  u16 name position, u16 value length, value bytes
//
// Seen values: Required and AllowZeroLength as Yes/No (type 1, one byte 00/01),
// DefaultValue as Memo text ("0", "GenGUID()"), Format and captions as Text.
#include "engine/storage/properties.h"

#include <cstring>

#include "engine/storage/error.h"
#include "engine/storage/tabledef.h"

namespace bv::storage {

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void bad(const std::string& what) {
  throw JetError(3049, "The database is damaged: a property list " + what + ".");
}

template <class T> T readAs(const uint8_t* p, size_t n) {
  T v{};
  if (n >= sizeof(T)) std::memcpy(&v, p, sizeof(T));
  return v;
}

Value decodeValue(const Database& db, uint8_t type, const uint8_t* p, size_t n) {
  switch (static_cast<ColType>(type)) {
    case ColType::Bool: return Value(n > 0 && p[0] != 0);
    case ColType::Byte: return n >= 1 ? Value(p[0]) : Value();
    case ColType::Integer: return n >= 2 ? Value(readAs<int16_t>(p, n)) : Value();
    case ColType::Long: return n >= 4 ? Value(readAs<int32_t>(p, n)) : Value();
    case ColType::Currency: return n >= 8 ? Value(Currency{readAs<int64_t>(p, n)}) : Value();
    case ColType::Single: return n >= 4 ? Value(readAs<float>(p, n)) : Value();
    case ColType::Double: return n >= 8 ? Value(readAs<double>(p, n)) : Value();
    case ColType::DateTime: return n >= 8 ? Value(DateTime{readAs<double>(p, n)}) : Value();
    case ColType::Text:
    case ColType::Memo: return Value(db.decodeText(p, n));
    case ColType::Guid:
      if (n >= 16) {
        Guid g;
        std::memcpy(g.bytes.data(), p, 16);
        return Value(g);
      }
      return Value();
    default: return Value(Bytes(p, p + n));
  }
}

}  // namespace

const Property* PropertyBlock::find(std::u16string_view propertyName) const {
  for (const auto& p : properties)
    if (jetNameEquals(p.name, propertyName)) return &p;
  return nullptr;
}

const PropertyBlock* ObjectProperties::object() const {
  for (const auto& b : blocks)
    if (b.name.empty()) return &b;
  return nullptr;
}

const PropertyBlock* ObjectProperties::column(std::u16string_view columnName) const {
  for (const auto& b : blocks)
    if (!b.name.empty() && jetNameEquals(b.name, columnName)) return &b;
  return nullptr;
}

ObjectProperties parseProperties(const Database& db, const Bytes& blob) {
  ObjectProperties out;
  if (blob.empty()) return out;
  if (blob.size() < 4 || (std::memcmp(blob.data(), "MR2", 4) != 0 && std::memcmp(blob.data(), "KKD", 4) != 0))
    bad("does not start with its signature");
  std::vector<std::u16string> names;
  size_t pos = 4;
  while (pos + 6 <= blob.size()) {
    const uint32_t len = le32(&blob[pos]);
    const uint16_t kind = le16(&blob[pos + 4]);
    if (len < 6 || len > blob.size() - pos) bad("has a chunk longer than the list");
    const uint8_t* body = blob.data() + pos + 6;
    const size_t bodyLen = len - 6;
    if (kind == 0x80) {
      for (size_t q = 0; q + 2 <= bodyLen;) {
        const uint16_t n = le16(body + q);
        q += 2;
        if (n > bodyLen - q) bad("has a name longer than its chunk");
        names.push_back(db.decodeText(body + q, n));
        q += n;
      }
    } else if (kind == 0x00 || kind == 0x01) {
      if (bodyLen < 6) bad("has a block too short for its name");
      const uint32_t namePart = le32(body);
      const uint16_t nameLen = le16(body + 4);
      if (namePart < 6u + nameLen || namePart > bodyLen) bad("has a block name longer than its block");
      PropertyBlock block;
      block.name = db.decodeText(body + 6, nameLen);
      for (size_t q = namePart; q + 8 <= bodyLen;) {
        const uint16_t entryLen = le16(body + q);
        const uint16_t nameIndex = le16(body + q + 4);
        const uint16_t valueLen = le16(body + q + 6);
        if (entryLen < 8 || entryLen > bodyLen - q || valueLen > entryLen - 8u)
          bad("has an entry longer than its block");
        if (nameIndex >= names.size()) bad("refers to a property name it does not hold");
        Property p;
        p.name = names[nameIndex];
        p.ddl = body[q + 2];
        p.dataType = body[q + 3];
        p.value = decodeValue(db, p.dataType, body + q + 8, valueLen);
        block.properties.push_back(std::move(p));
        q += entryLen;
      }
      out.blocks.push_back(std::move(block));
    }
    // Other chunk kinds carry nothing the engine uses; their length still lets us skip them.
    pos += len;
  }
  return out;
}

ObjectProperties readTableProperties(const Database& db, uint32_t tdefPage) {
  auto sys = db.tableAt(2, u"MSysObjects");
  const int cId = sys->findColumn(u"Id"), cProp = sys->findColumn(u"LvProp");
  if (cId < 0 || cProp < 0) return {};
  TableCursor cur = db.scan(sys);
  while (cur.next()) {
    const Value& id = cur.value(static_cast<size_t>(cId));
    const int32_t* n = id.get<int32_t>();
    if (!n || (static_cast<uint32_t>(*n) & 0x00FFFFFFu) != tdefPage || (static_cast<uint32_t>(*n) >> 24) != 0)
      continue;
    const Value& blob = cur.value(static_cast<size_t>(cProp));
    if (const Bytes* b = blob.get<Bytes>()) return parseProperties(db, *b);
    return {};
  }
  return {};
}

}  // namespace bv::storage
