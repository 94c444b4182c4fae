#include "engine/storage/database.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_set>

#include "engine/storage/data_page.h"
#include "engine/storage/file.h"
#include "engine/storage/journal.h"
#include "engine/storage/sharing.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/text.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

struct Database::TableCache {
  std::unique_ptr<File> file;
  std::mutex mu;
  std::map<uint32_t, std::shared_ptr<const TableDef>> byPage;
  // Definitions replaced after a change: kept alive, since callers may hold plain
  // references to them for as long as the Database lives.
  std::vector<std::shared_ptr<const TableDef>> retired;
};

namespace {

constexpr uint32_t kMaskStart = 0x18;
constexpr uint32_t kCachedBytes = 4u << 20;  // page cache budget

// RC4 keystream of the fixed header key; XORing it masks and unmasks the header region.
void rc4Xor(uint8_t* data, size_t n) {
  static const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void notJet(const std::string& path, const std::string& why) {
  throw JetError(3343, "Unrecognized database format '" + path + "': " + why + ".");
}

}  // namespace

void xorHeaderMask(uint8_t* page0, JetVersion version) {
  rc4Xor(page0 + kMaskStart, version == JetVersion::Jet4 ? 128 : 126);
}

Database::~Database() = default;

std::unique_ptr<Database> Database::open(const std::string& path, OpenMode mode,
                                         const std::u16string& password) {
  OpenOptions options;
  options.mode = mode;
  options.password = password;
  return open(path, options);
}

namespace {
// A file nobody may write (the read-only attribute on Windows) is opened read-only.
bool readOnlyFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms p = fs::status(fs::u8path(path), ec).permissions();
  if (ec) return false;
  return (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}
}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  db->mode_ = options.mode;
  db->tables_ = std::make_unique<TableCache>();
  if (db->mode_ == OpenMode::ReadWrite && readOnlyFile(path)) db->mode_ = OpenMode::ReadOnly;
  try {
    db->tables_->file = std::make_unique<File>(path, db->mode_ == OpenMode::ReadWrite);
  } catch (const JetError& e) {
    if (e.number() != 3051 || db->mode_ != OpenMode::ReadWrite) throw;
    db->tables_->file = std::make_unique<File>(path, false);  // no write permission
    db->mode_ = OpenMode::ReadOnly;
  }
  ShareOptions share;
  share.exclusive = options.exclusive;
  share.writable = db->mode_ == OpenMode::ReadWrite;
  share.userName = options.userName;
  share.timeoutMs = options.lockTimeoutMs;
  db->share_ = std::make_unique<ShareSession>(path, share);
  db->recoverInterruptedChange();
  // The header and the catalog are read while no other user's change is being written.
  db->share_->beginRead();
  struct EndRead {
    ShareSession& s;
    ~EndRead() { s.endRead(); }
  } endRead{*db->share_};
  db->readHeader(options.password);
  try {
    db->readCatalog();
  } catch (const JetError& e) {
    // Name the file, as the header's errors do.
    static const std::string generic = "The database is damaged: ";
    const std::string what = e.what();
    if (what.compare(0, generic.size(), generic) != 0) throw;
    throw JetError(e.number(), "The database '" + path + "' is damaged: " + what.substr(generic.size()));
  }
  return db;
}

bool Database::exclusive() const { return share_->exclusive(); }

void Database::recoverInterruptedChange() {
  // A journal beside the file means a change was interrupted, or that another user's change
  // is being written right now. A writer keeps the writer lock until its journal is gone,
  // so a journal still there once this open holds the writer lock is an interrupted one:
  // put the file back before reading anything. A reader that may not write cannot do
  // that, and must not read a half-changed file.
  const std::string journal = journalPath(path_);
  if (!File::exists(journal)) return;
  share_->beginWrite();
  struct EndWrite {
    ShareSession& s;
    ~EndWrite() { s.endWrite(); }
  } end{*share_};
  if (!File::exists(journal)) return;
  if (mode_ != OpenMode::ReadWrite)
    throw JetError(3049, "The last change to the database '" + path_ +
                             "' was interrupted before it was complete; open the file once for writing "
                             "(any command that changes it, or the program) to restore it.");
  share_->beginCommit();
  struct EndCommit {
    ShareSession& s;
    ~EndCommit() { s.endCommit(); }
  } endCommit{*share_};
  recoverJournal(*tables_->file, journal);
}

void Database::refresh() {
  if (unit_) return;
  recoverInterruptedChange();
  cache_->clear();
  cache_->setPageCount(static_cast<uint32_t>(tables_->file->size() / pageSize_));
  invalidateTables();
  catalog_.clear();
  readCatalog();
}

void Database::readHeader(const std::u16string& password) {
  File& f = *tables_->file;
  const uint64_t size = f.size();
  std::vector<uint8_t> h(4096, 0);
  const size_t got = f.readAt(0, h.data(), h.size());
  if (got < 0x18 + 128) notJet(path_, "the file is too small to be a database");
  static const uint8_t magic[4] = {0x00, 0x01, 0x00, 0x00};
  if (std::memcmp(h.data(), magic, 4) != 0) notJet(path_, "it is not a Jet database file");
  if (std::memcmp(h.data() + 4, "Standard ACE DB", 16) == 0)
    notJet(path_, "it is in the Access 2007 (ACE) format, which this engine does not read");
  if (std::memcmp(h.data() + 4, "Standard Jet DB", 16) != 0) notJet(path_, "it is not a Jet database file");
  switch (h[0x14]) {
    case 0x00: version_ = JetVersion::Jet3; pageSize_ = 2048; break;
    case 0x01: version_ = JetVersion::Jet4; pageSize_ = 4096; break;
    default: notJet(path_, "its format version (" + std::to_string(h[0x14]) + ") is newer than Jet 4");
  }
  if (size % pageSize_ != 0)
    throw JetError(3049, "The database '" + path_ + "' is damaged: the file is truncated (" +
                             std::to_string(size) + " bytes is not a whole number of " +
                             std::to_string(pageSize_) + "-byte pages).");
  if (size < 3ull * pageSize_)
    throw JetError(3049, "The database '" + path_ + "' is damaged: the file is truncated (its " +
                             std::to_string(size) + " bytes hold " + std::to_string(size / pageSize_) +
                             " pages of " + std::to_string(pageSize_) +
                             " bytes; the header, the page map and the system catalog need at least 3).");
  if (size / pageSize_ > 0xFFFFFFull)
    throw JetError(3049, "The database '" + path_ + "' is damaged: it is larger than the format allows.");
  h.resize(pageSize_);
  const bool j4 = isJet4();
  xorHeaderMask(h.data(), version_);
  codePage_ = le16(&h[0x3C]);
  const uint32_t dbKey = le32(&h[0x3E]);
  std::u16string stored;
  if (j4) {
    sortOrder_ = le16(&h[0x6E]);
    sortVersion_ = h[0x71];
    std::memcpy(&creationDate_, &h[0x72], 8);
    uint8_t mask[4];
    const double whole = creationDate_;
    const int32_t day = (whole > -2.1e9 && whole < 2.1e9) ? static_cast<int32_t>(whole) : 0;
    for (int i = 0; i < 4; ++i) mask[i] = static_cast<uint8_t>(static_cast<uint32_t>(day) >> (8 * i));
    uint8_t pw[40];
    for (int i = 0; i < 40; ++i) pw[i] = h[0x42 + i] ^ mask[i % 4];
    for (int i = 0; i < 40; i += 2) {
      const char16_t c = static_cast<char16_t>(pw[i] | (pw[i + 1] << 8));
      if (c == 0) break;
      stored.push_back(c);
    }
  } else {
    sortOrder_ = le16(&h[0x3A]);
    size_t n = 0;
    while (n < 20 && h[0x42 + n] != 0) ++n;
    stored = decodeCodePage(&h[0x42], n, codePage_);
  }
  hasPassword_ = !stored.empty();
  if (hasPassword_ && password != stored)
    throw JetError(3031, password.empty()
                             ? "The database '" + path_ + "' is protected by a password; give it to open the file."
                             : std::string("Not a valid password for the database '") + path_ + "'.");
  if (dbKey != 0)
    throw JetError(3343, "The database '" + path_ +
                             "' is encrypted; this engine cannot read encrypted databases.");
  header_ = std::move(h);
  const size_t budget = kCachedBytes / pageSize_;
  cache_ = std::make_unique<PageCache>(f, pageSize_, static_cast<uint32_t>(size / pageSize_), budget);
}

uint32_t Database::pageCount() const { return unit_ ? unit_->pageCount() : cache_->pageCount(); }

PageRef Database::page(uint32_t n) const { return unit_ ? unit_->page(n) : cache_->get(n); }

void Database::invalidateTables() {
  std::lock_guard<std::mutex> lock(tables_->mu);
  for (auto& [page, def] : tables_->byPage) tables_->retired.push_back(std::move(def));
  tables_->byPage.clear();
}

void Database::catalogChanged() {
  invalidateTables();
  catalog_.clear();
  readCatalog();
  catalogDirty_ = unit_ != nullptr;
}

void Database::readCatalog() {
  auto sys = tableAt(2, u"MSysObjects");
  const int cId = sys->findColumn(u"Id"), cParent = sys->findColumn(u"ParentId"),
            cName = sys->findColumn(u"Name"), cType = sys->findColumn(u"Type"),
            cFlags = sys->findColumn(u"Flags");
  if (cId < 0 || cParent < 0 || cName < 0 || cType < 0 || cFlags < 0)
    throwDamaged("the system catalog lacks one of its columns", 2);
  TableCursor cur = scan(sys);
  auto asInt = [](const Value& v) -> int32_t {
    if (auto p = v.get<int32_t>()) return *p;
    if (auto p = v.get<int16_t>()) return *p;
    if (auto p = v.get<uint8_t>()) return *p;
    return 0;
  };
  while (cur.next()) {
    CatalogEntry e;
    e.id = asInt(cur.value(static_cast<size_t>(cId)));
    e.parentId = asInt(cur.value(static_cast<size_t>(cParent)));
    if (auto s = cur.value(static_cast<size_t>(cName)).get<std::u16string>()) e.name = *s;
    e.type = static_cast<int16_t>(asInt(cur.value(static_cast<size_t>(cType))));
    e.flags = asInt(cur.value(static_cast<size_t>(cFlags)));
    catalog_.push_back(std::move(e));
  }
  // Tables sit in the container named "Tables" (Type 3, parent 0x0F000000).
  int32_t tablesId = 0x0F000001;
  for (const auto& e : catalog_)
    if (e.type == 3 && e.parentId == 0x0F000000 && jetNameEquals(e.name, u"Tables")) tablesId = e.id;
  for (auto& e : catalog_) {
    switch (e.type) {
      case 1:
        if (e.parentId != tablesId)
          e.kind = ObjectKind::Other;
        else
          e.kind = (static_cast<uint32_t>(e.flags) & 0x80000002u) ? ObjectKind::SystemTable : ObjectKind::UserTable;
        break;
      case 4:
      case 6: e.kind = ObjectKind::LinkedTable; break;
      case 5: e.kind = ObjectKind::Query; break;
      default: e.kind = ObjectKind::Other; break;
    }
  }
}

const CatalogEntry* Database::findObject(std::u16string_view name) const {
  const CatalogEntry* other = nullptr;
  for (const auto& e : catalog_) {
    if (!jetNameEquals(e.name, name)) continue;
    if (e.kind != ObjectKind::Other) return &e;
    if (!other) other = &e;
  }
  return other;
}

std::vector<std::u16string> Database::userTableNames() const {
  std::vector<std::u16string> out;
  for (const auto& e : catalog_)
    if (e.kind == ObjectKind::UserTable) out.push_back(e.name);
  return out;
}

std::shared_ptr<const TableDef> Database::table(std::u16string_view name) const {
  const CatalogEntry* e = findObject(name);
  if (!e || (e->kind != ObjectKind::UserTable && e->kind != ObjectKind::SystemTable)) {
    std::string n = toUtf8(name);
    if (e && e->kind == ObjectKind::LinkedTable)
      throw JetError(3078, "'" + n + "' is a linked table; this engine does not follow links.");
    if (e && e->kind == ObjectKind::Query)
      throw JetError(3078, "'" + n + "' is a query, not a table.");
    throw JetError(3078, "The database has no table named '" + n + "'.");
  }
  return tableAt(e->tdefPage(), e->name);
}

std::shared_ptr<const TableDef> Database::tableAt(uint32_t tdefPage, std::u16string_view name) const {
  {
    std::lock_guard<std::mutex> lock(tables_->mu);
    auto it = tables_->byPage.find(tdefPage);
    if (it != tables_->byPage.end()) return it->second;
  }
  auto def = std::make_shared<const TableDef>(readTableDef(*this, tdefPage, std::u16string(name)));
  std::lock_guard<std::mutex> lock(tables_->mu);
  return tables_->byPage.emplace(tdefPage, std::move(def)).first->second;
}

TableCursor Database::scan(const TableDef& table) const {
  // The caller owns `table`; the cursor holds a non-owning pointer.
  return TableCursor(*this, std::shared_ptr<const TableDef>(std::shared_ptr<const TableDef>(), &table));
}

TableCursor Database::scan(std::shared_ptr<const TableDef> table) const {
  return TableCursor(*this, std::move(table));
}

Database::RowBytes Database::rowBytes(uint32_t pageNo, uint8_t row) const {
  RowBytes rb;
  rb.page = page(pageNo);
  if (rb.page[0] != 0x01) return rb;
  const int count = dataPageRowCount(rb.page, isJet4());
  if (count < 0) throwDamaged("a data page's row table overflows the page", pageNo);
  if (row >= count) return rb;
  RowSpan span;
  if (!locateRow(rb.page, isJet4(), count, row, span))
    throwDamaged("a row offset points outside its page", pageNo);
  rb.start = span.start;
  rb.end = span.end;
  rb.slotFlags = span.flags;
  rb.valid = true;
  return rb;
}

std::vector<uint32_t> Database::usageMapPages(RowPointer map, bool* pastEnd) const {
  std::vector<uint32_t> out;
  if (pastEnd) *pastEnd = false;
  const uint32_t pages = pageCount();
  if (map.isNull()) return out;
  RowBytes rb = rowBytes(map.page, map.row);
  if (!rb.valid || rb.size() < 1) throwDamaged("a usage map points at a missing row", map.page);
  const uint8_t* m = rb.data();
  const size_t len = rb.size();
  auto addBits = [&](const uint8_t* bits, size_t nbytes, uint64_t first) {
    for (size_t i = 0; i < nbytes; ++i) {
      if (bits[i] == 0) continue;
      for (int b = 0; b < 8; ++b) {
        if (!(bits[i] & (1u << b))) continue;
        const uint64_t p = first + i * 8 + static_cast<unsigned>(b);
        if (p < pages)
          out.push_back(static_cast<uint32_t>(p));
        else if (pastEnd)
          *pastEnd = true;
      }
    }
  };
  if (m[0] == 0x00) {
    if (len < 5) throwDamaged("an inline usage map is cut short", map.page);
    addBits(m + 5, len - 5, le32(m + 1));
  } else if (m[0] == 0x01) {
    const uint64_t perPage = static_cast<uint64_t>(pageSize_ - 4) * 8;
    for (size_t k = 0; 1 + 4 * k + 4 <= len; ++k) {
      const uint32_t bp = le32(m + 1 + 4 * k);
      if (bp == 0) continue;
      if (perPage * k >= pages) {  // covers only pages past the end of the file
        if (pastEnd) *pastEnd = true;
        continue;
      }
      PageRef bm = page(bp);
      if (bm[0] != 0x05) throwDamaged("a usage map refers to a page that is not a bitmap page", bp);
      addBits(bm.data() + 4, pageSize_ - 4, perPage * k);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
  } else {
    throwDamaged("unknown usage map type " + std::to_string(m[0]), map.page);
  }
  return out;
}

Bytes Database::readLongValue(const uint8_t* field, size_t fieldLen) const {
  Bytes out;
  readLongValue(field, fieldLen, out);
  return out;
}

void Database::readLongValue(const uint8_t* field, size_t fieldLen, Bytes& out) const {
  out.clear();
  if (fieldLen < 12) throw JetError(3049, "The database is damaged: a long value header is cut short.");
  const uint32_t head = le32(field);
  const uint32_t length = head & 0x3FFFFFFFu;
  const uint32_t form = head >> 30;
  auto lvalRow = [&](RowPointer rp) {
    RowBytes rb = rowBytes(rp.page, rp.row);
    if (!rb.valid || std::memcmp(rb.page.data() + 4, "LVAL", 4) != 0)
      throwDamaged("a long value points at a row that is not a long-value row", rp.page);
    return rb;
  };
  if (form == 2) {  // inline
    if (fieldLen - 12 < length) throw JetError(3049, "The database is damaged: an inline long value is cut short.");
    out.assign(field + 12, field + 12 + length);
  } else if (form == 1) {  // one LVAL row
    RowBytes rb = lvalRow(RowPointer::fromRaw(le32(field + 4)));
    if (rb.size() < length) throwDamaged("a long value is longer than its row", rb.page.number());
    out.assign(rb.data(), rb.data() + length);
  } else if (form == 0) {  // chain of LVAL rows
    if (length > static_cast<uint64_t>(pageCount()) * pageSize_)
      throw JetError(3049, "The database is damaged: a long value is longer than the file.");
    out.reserve(std::min<uint32_t>(length, 1u << 20));
    RowPointer rp = RowPointer::fromRaw(le32(field + 4));
    std::unordered_set<uint32_t> visited;
    while (out.size() < length) {
      if (rp.isNull()) throw JetError(3049, "The database is damaged: a long value chain ends early.");
      if (!visited.insert(rp.page << 8 | rp.row).second)
        throw JetError(3049, "The database is damaged: a long value chain loops.");
      RowBytes rb = lvalRow(rp);
      if (rb.size() <= 4) throwDamaged("an empty piece in a long value chain", rp.page);
      const size_t take = std::min<size_t>(rb.size() - 4, length - out.size());
      out.insert(out.end(), rb.data() + 4, rb.data() + 4 + take);
      rp = RowPointer::fromRaw(le32(rb.data()));
    }
  } else {
    throw JetError(3049, "The database is damaged: unknown long value form.");
  }
}

std::u16string Database::decodeText(const uint8_t* p, size_t n) const {
  return isJet4() ? decodeJet4Text(p, n) : decodeCodePage(p, n, codePage_);
}

}  // namespace bv::storage
