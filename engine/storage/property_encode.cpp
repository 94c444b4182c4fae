#include "engine/storage/property_encode.h"

#include "engine/storage/error.h"
#include "engine/storage/text_key.h"

namespace bv::storage {

namespace {

void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes textBytes(const std::u16string& s, bool jet4) {
  Bytes out;
  for (char16_t c : s) {
    if (jet4) {
      put16(out, c);
    } else {
      const int b = cp1252Byte(c);
      if (b < 0) throw JetError(3251, "A property holds a character this database's code page cannot store.");
      out.push_back(static_cast<uint8_t>(b));
    }
  }
  return out;
}

Bytes valueBytes(const Property& p, bool jet4) {
  if (const bool* v = p.value.get<bool>()) return Bytes{static_cast<uint8_t>(*v ? 1 : 0)};
  if (const int32_t* v = p.value.get<int32_t>()) {
    Bytes b;
    put32(b, static_cast<uint32_t>(*v));
    return b;
  }
  if (const std::u16string* v = p.value.get<std::u16string>()) return textBytes(*v, jet4);
  // The other kinds a stored property list may hold go back as they were read, so that a
  // list read from the file can be written again with one property changed.
  auto raw = [](const auto& v) {
    const auto* b = reinterpret_cast<const uint8_t*>(&v);
    return Bytes(b, b + sizeof v);
  };
  if (const uint8_t* v = p.value.get<uint8_t>()) return Bytes{*v};
  if (const int16_t* v = p.value.get<int16_t>()) return raw(*v);
  if (const Currency* v = p.value.get<Currency>()) return raw(v->scaled);
  if (const float* v = p.value.get<float>()) return raw(*v);
  if (const double* v = p.value.get<double>()) return raw(*v);
  if (const DateTime* v = p.value.get<DateTime>()) return raw(v->days);
  if (const Guid* v = p.value.get<Guid>()) return Bytes(v->bytes.begin(), v->bytes.end());
  if (const Bytes* v = p.value.get<Bytes>()) return *v;
  throw JetError(3251, "A property of this kind cannot be stored by this engine yet.");
}

}  // namespace

Bytes encodeProperties(const ObjectProperties& props, bool jet4) {
  Bytes out = {jet4 ? uint8_t{'M'} : uint8_t{'K'}, jet4 ? uint8_t{'R'} : uint8_t{'K'},
               jet4 ? uint8_t{'2'} : uint8_t{'D'}, 0};
  std::vector<std::u16string> names;
  auto nameIndex = [&](const std::u16string& n) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == n) return i;
    names.push_back(n);
    return names.size() - 1;
  };
  for (const PropertyBlock& b : props.blocks)
    for (const Property& p : b.properties) nameIndex(p.name);

  // The names chunk.
  const size_t namesAt = out.size();
  put32(out, 0);
  put16(out, 0x80);
  for (const std::u16string& n : names) {
    const Bytes t = textBytes(n, jet4);
    put16(out, static_cast<uint32_t>(t.size()));
    out.insert(out.end(), t.begin(), t.end());
  }
  set32(out, namesAt, static_cast<uint32_t>(out.size() - namesAt));

  for (const PropertyBlock& b : props.blocks) {
    const size_t at = out.size();
    put32(out, 0);
    put16(out, b.name.empty() ? 0x00 : 0x01);
    const Bytes blockName = textBytes(b.name, jet4);
    put32(out, static_cast<uint32_t>(6 + blockName.size()));
    put16(out, static_cast<uint32_t>(blockName.size()));
    out.insert(out.end(), blockName.begin(), blockName.end());
    for (const Property& p : b.properties) {
      const Bytes v = valueBytes(p, jet4);
      put16(out, static_cast<uint32_t>(8 + v.size()));
      out.push_back(p.ddl);
      out.push_back(p.dataType);
      put16(out, static_cast<uint32_t>(nameIndex(p.name)));
      put16(out, static_cast<uint32_t>(v.size()));
      out.insert(out.end(), v.begin(), v.end());
    }
    set32(out, at, static_cast<uint32_t>(out.size() - at));
  }
  return out;
}

}  // namespace bv::storage
