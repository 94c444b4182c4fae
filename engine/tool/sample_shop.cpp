#include "engine/tool/sample_shop.h"

#include <cstdint>
#include <vector>

#include "engine/storage/create_database.h"
#include "engine/storage/create_table.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/relationship.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"

namespace bv::tool {

namespace {

using storage::ColumnDesign;
using storage::IndexDesign;
using storage::TableDesign;

constexpr double kCreated = 45292.375;  // 2024-01-01 09:00, the sample's fixed birthday

// A small deterministic generator (64-bit LCG, high bits used).
class Dice {
 public:
  uint32_t next(uint32_t n) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state_ >> 33) % n);
  }

 private:
  uint64_t state_ = 20240101;
};

ColumnDesign col(const char16_t* name, ColType type, uint16_t size = 0) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.size = size;
  c.compressedUnicode = type == ColType::Text || type == ColType::Memo;
  return c;
}

IndexDesign primaryKey(const char16_t* column) {
  IndexDesign s;
  s.name = u"PrimaryKey";
  s.columns = {{column, true}};
  s.primaryKey = true;
  s.unique = true;
  s.required = true;
  return s;
}

IndexDesign plainIndex(const char16_t* name, const char16_t* column, bool unique = false) {
  IndexDesign s;
  s.name = name;
  s.columns = {{column, true}};
  s.unique = unique;
  return s;
}

TableDesign customers() {
  TableDesign t;
  t.name = u"Customers";
  t.columns = {col(u"CustomerID", ColType::Long), col(u"Name", ColType::Text, 60), col(u"City", ColType::Text, 40),
               col(u"Country", ColType::Text, 40), col(u"Email", ColType::Text, 80), col(u"Since", ColType::DateTime)};
  t.columns[0].autoNumber = true;
  t.indexes = {primaryKey(u"CustomerID"), plainIndex(u"Name", u"Name"), plainIndex(u"Country", u"Country")};
  return t;
}

TableDesign products() {
  TableDesign t;
  t.name = u"Products";
  t.columns = {col(u"ProductID", ColType::Long), col(u"Name", ColType::Text, 60), col(u"Category", ColType::Text, 30),
               col(u"Price", ColType::Currency), col(u"InStock", ColType::Bool), col(u"Description", ColType::Memo)};
  t.columns[0].autoNumber = true;
  t.indexes = {primaryKey(u"ProductID"), plainIndex(u"ProductName", u"Name", true), plainIndex(u"Category", u"Category")};
  return t;
}

TableDesign orders() {
  TableDesign t;
  t.name = u"Orders";
  t.columns = {col(u"OrderID", ColType::Long), col(u"CustomerID", ColType::Long), col(u"OrderDate", ColType::DateTime),
               col(u"Shipped", ColType::Bool), col(u"Note", ColType::Memo)};
  t.columns[0].autoNumber = true;
  t.indexes = {primaryKey(u"OrderID"), plainIndex(u"OrderDate", u"OrderDate")};
  return t;
}

TableDesign orderLines() {
  TableDesign t;
  t.name = u"OrderLines";
  t.columns = {col(u"LineID", ColType::Long), col(u"OrderID", ColType::Long), col(u"ProductID", ColType::Long),
               col(u"Quantity", ColType::Integer), col(u"UnitPrice", ColType::Currency)};
  t.columns[0].autoNumber = true;
  t.indexes = {primaryKey(u"LineID")};
  return t;
}

struct Person {
  const char16_t *name, *city, *country, *mail;
};

// Customers from several countries, their names in their own scripts.
const Person kPeople[] = {
    {u"Ann Baker", u"Leeds", u"United Kingdom", u"ann.baker"},
    {u"José Núñez", u"Sevilla", u"España", u"jose.nunez"},
    {u"Zoë Müller", u"Köln", u"Deutschland", u"zoe.mueller"},
    {u"Ελένη Παπαδοπούλου", u"Αθήνα", u"Ελλάδα", u"eleni.p"},
    {u"Иван Петров", u"Москва", u"Россия", u"ivan.petrov"},
    {u"さとう はなこ", u"とうきょう", u"にほん", u"hanako.sato"},
    {u"François Lefèvre", u"Lyon", u"France", u"f.lefevre"},
    {u"Åsa Lindqvist", u"Göteborg", u"Sverige", u"asa.l"},
    {u"Dorota Wiśniewska", u"Kraków", u"Polska", u"dorota.w"},
    {u"Mehmet Yılmaz", u"İzmir", u"Türkiye", u"mehmet.y"},
    {u"Olivia Chen", u"Vancouver", u"Canada", u"olivia.chen"},
    {u"Lucas Silva", u"Porto", u"Portugal", u"lucas.silva"},
};

const char16_t* const kGivenSuffix[] = {u"", u" Jr.", u" (2)", u" & Co."};

struct Product {
  const char16_t *name, *category;
  int64_t priceCents;
};

const Product kProducts[] = {
    {u"Assam Tea 250 g", u"Tea", 695},          {u"Darjeeling Tea 100 g", u"Tea", 895},
    {u"Sencha 100 g", u"Tea", 1150},            {u"Earl Grey 250 g", u"Tea", 750},
    {u"Rooibos 200 g", u"Tea", 560},            {u"Mint Tea 50 bags", u"Tea", 425},
    {u"Espresso Beans 1 kg", u"Coffee", 2490},  {u"Filter Coffee 500 g", u"Coffee", 899},
    {u"Decaf 250 g", u"Coffee", 650},           {u"Café de Colombia 500 g", u"Coffee", 1275},
    {u"Milk Chocolate 100 g", u"Sweets", 249},  {u"Dark Chocolate 85 %", u"Sweets", 299},
    {u"Shortbread Tin", u"Sweets", 1099},       {u"Turkish Delight", u"Sweets", 875},
    {u"Teapot, 1 l", u"Kitchen", 3450},         {u"Mug «Brimvale»", u"Kitchen", 995},
    {u"Tea Strainer", u"Kitchen", 450},         {u"Milk Frother", u"Kitchen", 1999},
    {u"Honey 500 g", u"Pantry", 799},           {u"Brown Sugar 1 kg", u"Pantry", 329},
    {u"Oat Biscuits", u"Sweets", 279},          {u"Matcha 30 g", u"Tea", 1890},
    {u"Chai Spice Mix", u"Tea", 620},           {u"Gift Box «Tea Time»", u"Gifts", 4500},
};

std::u16string digits(uint32_t n) {
  std::u16string s;
  for (char c : std::to_string(n)) s.push_back(static_cast<char16_t>(c));
  return s;
}

std::u16string ascii(const char* s) {
  std::u16string out;
  while (*s) out.push_back(static_cast<char16_t>(*s++));
  return out;
}

}  // namespace

void writeSampleShop(const std::string& path) {
  storage::CreateOptions options;
  options.created = kCreated;
  storage::createDatabase(path, storage::JetVersion::Jet4, options);
  auto db = storage::Database::open(path, storage::OpenMode::ReadWrite);
  storage::WriteUnit unit(*db, storage::WriteOptions{false});
  for (const TableDesign& t : {customers(), products(), orders(), orderLines()}) storage::createTable(unit, t, kCreated);

  Dice dice;
  const size_t people = sizeof kPeople / sizeof kPeople[0];
  {
    storage::TableWriter w(unit, u"Customers");
    for (size_t i = 0; i < 48; ++i) {
      const Person& p = kPeople[i % people];
      const std::u16string name = std::u16string(p.name) + kGivenSuffix[i / people % 4];
      const std::u16string mail = std::u16string(p.mail) + digits(static_cast<uint32_t>(i)) + u"@example.org";
      w.insert(std::vector<Value>{Value(), Value(name), Value(std::u16string(p.city)), Value(std::u16string(p.country)),
                                  Value(mail), Value(DateTime{kCreated - 900 + dice.next(900)})});
    }
  }
  const size_t productCount = sizeof kProducts / sizeof kProducts[0];
  {
    storage::TableWriter w(unit, u"Products");
    for (size_t i = 0; i < productCount; ++i) {
      const Product& p = kProducts[i];
      const std::u16string about = u"Item " + digits(static_cast<uint32_t>(i + 1)) + u" of the " +
                                   std::u16string(p.category) + u" shelf. " +
                                   (i % 3 == 0 ? ascii("Popular with regular customers; reordered weekly.") : u"");
      w.insert(std::vector<Value>{Value(), Value(std::u16string(p.name)), Value(std::u16string(p.category)),
                                  Value(Currency{p.priceCents * 100}), Value(i % 5 != 4), Value(about)});
    }
  }
  {
    storage::TableWriter ow(unit, u"Orders");
    storage::TableWriter lw(unit, u"OrderLines");
    for (int32_t order = 1; order <= 150; ++order) {
      const int32_t customer = static_cast<int32_t>(1 + dice.next(48));
      const double when = kCreated - 365 + order * 2.4 + dice.next(8) / 24.0;
      const Value note = order % 7 == 0 ? Value(u"Please gift-wrap. Merci ! Спасибо!") : Value();
      ow.insert(std::vector<Value>{Value(), Value(customer), Value(DateTime{when}), Value(order < 130), note});
      const uint32_t lines = 1 + dice.next(4);
      for (uint32_t l = 0; l < lines; ++l) {
        const uint32_t product = dice.next(static_cast<uint32_t>(productCount));
        lw.insert(std::vector<Value>{Value(), Value(order), Value(static_cast<int32_t>(product + 1)),
                                     Value(static_cast<int16_t>(1 + dice.next(6))),
                                     Value(Currency{kProducts[product].priceCents * 100})});
      }
    }
  }
  // Relationships after the rows: each one checks that every row has its related row.
  storage::RelationshipDesign r;
  r.created = kCreated;
  r.table = u"Orders";
  r.columns = {u"CustomerID"};
  r.referencedTable = u"Customers";
  storage::addRelationship(unit, r);
  r.table = u"OrderLines";
  r.columns = {u"OrderID"};
  r.referencedTable = u"Orders";
  r.cascadeDelete = true;
  storage::addRelationship(unit, r);
  r.columns = {u"ProductID"};
  r.referencedTable = u"Products";
  r.cascadeDelete = false;
  storage::addRelationship(unit, r);
  unit.commit();
}

}  // namespace bv::tool
