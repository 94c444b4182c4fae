// Reading a Jet 3 / Jet 4 database file: header page, page cache, catalog, table
// definitions and table scans. Everything here is portable C++20.
//
// Errors are thrown as bv::JetError with Jet's error numbers:
//   3024  the file does not exist
//   3044  the path is not valid (a directory, or cannot be opened)
//   3343  the file is not a Jet 3 / Jet 4 database (or a format this engine cannot read)
//   3031  the database has a password and none (or a wrong one) was given
//   3049  the file is damaged: truncated, or a page contradicts the rest; or its last change
//         was interrupted and the file is opened read-only (a ReadWrite open restores it
//         from the journal beside it before reading anything, see journal.h)
//   3040  reading the file failed (device error)
//   3078  no table of that name
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/error.h"
#include "engine/storage/page_cache.h"
#include "engine/storage/value.h"

namespace bv::storage {

enum class OpenMode { ReadOnly, ReadWrite };
enum class JetVersion { Jet3, Jet4 };
enum class ObjectKind { UserTable, SystemTable, Query, LinkedTable, Other };

// A 4-byte row pointer as TDEFs, usage-map references and long values store it:
// byte 0 = row number, bytes 1-3 = page number.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  bool isNull() const { return page == 0 && row == 0; }
  static RowPointer fromRaw(uint32_t raw) { return {raw >> 8, static_cast<uint8_t>(raw & 0xFF)}; }
  friend bool operator==(const RowPointer&, const RowPointer&) = default;
};

// The location of a row: data page and slot in its offset table. For a row that was moved
// (overflow), this is the original slot, which is what index entries name.
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  friend bool operator==(const RowId&, const RowId&) = default;
};

// One row of MSysObjects.
struct CatalogEntry {
  std::u16string name;
  ObjectKind kind = ObjectKind::Other;
  int32_t id = 0;        // for tables: the TDEF page number (in the low 24 bits)
  int32_t parentId = 0;  // id of the container
  int32_t flags = 0;
  int16_t type = 0;      // raw MSysObjects.Type (1 table, 5 query, 4/6 linked, ...)
  uint32_t tdefPage() const { return static_cast<uint32_t>(id) & 0x00FFFFFFu; }
};

// Column descriptor flags as stored.
enum ColumnFlag : uint8_t {
  kColFixed = 0x01,
  kColUpdatable = 0x02,
  kColAutoNumber = 0x04,
  kColGuidAutoNumber = 0x40,
  kColHyperlink = 0x80,
};

struct ColumnDef {
  std::u16string name;
  ColType type = ColType::Text;
  uint16_t number = 0;       // column number: selects the null-mask bit, orders columns
  uint16_t varSlot = 0;      // slot in the row's variable offset table (variable columns)
  uint16_t fixedOffset = 0;  // offset in the row's fixed area (fixed columns)
  uint16_t length = 0;       // fixed size; Text max length in bytes (Jet 4: 2 x characters)
  uint8_t flags = 0;         // ColumnFlag bits, raw
  uint8_t extraFlags = 0;    // Jet 4 byte 16 (0x01 = Unicode compression allowed)
  bool fixed = false;        // stored in the fixed area
  bool autoNumber = false;
  bool guidAutoNumber = false;
  bool compressedUnicode = false;
  bool hyperlink = false;
  uint8_t precision = 0;     // Decimal
  uint8_t scale = 0;         // Decimal
  uint16_t sortOrder = 0;    // Text/Memo collation LCID
  uint16_t codePage = 0;     // Jet 3 Text/Memo code page (0 = the database's)
  // Memo/OLE only: the usage maps of the column's long-value pages (null when absent).
  RowPointer lvOwnedMap;
  RowPointer lvFreeMap;
  bool isLongValue() const { return type == ColType::Memo || type == ColType::OLE; }
  bool isText() const { return type == ColType::Text || type == ColType::Memo; }
};

struct IndexColumn {
  uint16_t columnNumber = 0;  // ColumnDef::number (not a position in TableDef::columns)
  bool ascending = true;
};

// A physical B-tree (the TDEF's "real index").
struct RealIndexDef {
  std::vector<IndexColumn> columns;
  RowPointer usageMap;       // pages of the B-tree
  uint32_t rootPage = 0;
  uint8_t flags = 0;         // 0x01 unique, 0x02 ignore nulls, 0x08 required
  uint32_t distinctKeys = 0; // as last recorded; not exact
};

// A named (logical) index; several may share one real index.
struct IndexDef {
  std::u16string name;
  int indexNumber = 0;       // the number foreign keys refer to
  int realIndex = -1;        // position in TableDef::realIndexes
  std::vector<IndexColumn> columns;
  bool unique = false;
  bool primaryKey = false;
  bool ignoreNulls = false;
  bool required = false;
  bool foreignKey = false;
  uint32_t firstPage = 0;    // root page of the real index
  uint8_t realFlags = 0;     // raw flags of the real index
  // Foreign keys only:
  uint8_t fkSide = 0;
  int32_t fkOtherIndex = -1;
  uint32_t fkOtherTable = 0;  // TDEF page
  uint8_t cascadeFlags1 = 0;  // raw (0x01 cascade updates)
  uint8_t cascadeFlags2 = 0;  // raw (0x01 cascade deletes, 0x02 set null)
};

struct TableDef {
  std::u16string name;
  uint32_t tdefPage = 0;
  std::vector<uint32_t> tdefPages;  // the TDEF chain, first page first
  uint32_t rowCount = 0;            // as recorded (exact for user tables)
  uint32_t autoNumber = 0;          // last AutoNumber handed out
  uint8_t tableType = 0;            // 0x4E user, 0x53 system
  uint16_t maxColumns = 0;          // highest column number ever used + 1
  uint16_t varSlots = 0;            // variable offset slots in rows
  RowPointer ownedMap;              // the table's data pages
  RowPointer freeMap;               // data pages with room
  std::vector<ColumnDef> columns;   // in column-number order
  std::vector<RealIndexDef> realIndexes;
  std::vector<IndexDef> indexes;    // logical indexes, in TDEF order
  std::vector<uint8_t> raw;         // the logical TDEF buffer (used part)

  // Position in `columns` of the column with that name (Jet's case-insensitive match),
  // -1 if none.
  int findColumn(std::u16string_view name) const;
  // Position in `columns` of the column with that column number, -1 if none.
  int columnByNumber(uint16_t number) const;
};

class Database;
class WriteUnit;
class ShareSession;

// How a database is opened. A shared read-write open records its user in name.ldb; an
// exclusive one keeps every other open out (sharing.h has the protocol).
struct OpenOptions {
  OpenMode mode = OpenMode::ReadOnly;
  bool exclusive = false;
  std::u16string password;
  std::string userName = "Admin";
  // How long a writer waits for another user's change to finish before failing with 3218.
  int lockTimeoutMs = 5000;
};

// Streams the live rows of one table: data pages in page order, slots in order; deleted
// rows skipped, moved rows read where they now live. Values are decoded on demand; long
// values (Memo/OLE) are read when their column is asked for.
// Column arguments are positions in TableDef::columns.
class TableCursor {
 public:
  TableCursor(const Database& db, std::shared_ptr<const TableDef> table);
  TableCursor(TableCursor&&) noexcept;
  TableCursor& operator=(TableCursor&&) noexcept;
  ~TableCursor();

  bool next();                           // advance; false at the end
  RowId rowId() const;                   // header slot of the current row
  const Value& value(size_t column);     // valid until next()
  // The stored bytes of a column without decoding them: false for Null (and for Yes/No,
  // whose value is only in the null mask). Memo/OLE give the long value's data. The bytes
  // stay valid until next() or the next rawValue() call.
  bool rawValue(size_t column, const uint8_t*& data, size_t& size);
  // The field bytes as the row stores them, undecoded (Memo/OLE: the long value's header and
  // any data kept in the row): false for Null and Yes/No. Valid until next().
  bool storedField(size_t column, const uint8_t*& data, size_t& size);
  void readRow(std::vector<Value>& out); // all columns, in TableDef::columns order
  const TableDef& table() const;
  // Position the cursor on one row (as an index entry names it). False if the slot is
  // deleted, out of range or not a row of this table. Afterwards next() continues the scan
  // from the first data page.
  bool seek(RowId id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class Database {
 public:
  // Opens and validates the header; reads the catalog. See the error numbers above.
  static std::unique_ptr<Database> open(const std::string& path, OpenMode mode = OpenMode::ReadOnly,
                                        const std::u16string& password = {});
  // The same with sharing options. A read-write open of a read-only file opens it
  // read-only (changes then fail with 3027); JetError 3045 when another user holds the
  // database exclusively, or when an exclusive open finds other users in it.
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options);
  ~Database();

  JetVersion version() const { return version_; }
  bool isJet4() const { return version_ == JetVersion::Jet4; }
  uint32_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const;
  uint16_t codePage() const { return codePage_; }
  uint16_t sortOrder() const { return sortOrder_; }  // collation LCID
  uint8_t sortVersion() const { return sortVersion_; }
  bool hasPassword() const { return hasPassword_; }
  double creationDate() const { return creationDate_; }  // Jet 4 only, 0 for Jet 3
  OpenMode mode() const { return mode_; }
  bool exclusive() const;
  // The locks shared with other users of the file (statement_lock.h takes them).
  ShareSession& sharing() const { return *share_; }
  // Forgets cached pages, table definitions and the catalog and reads them again: other
  // users may have changed the file since. Not while a write unit is active.
  void refresh();
  const std::string& path() const { return path_; }
  // The unmasked header page (page 0 with its masked region decoded).
  const std::vector<uint8_t>& header() const { return header_; }

  const std::vector<CatalogEntry>& catalog() const { return catalog_; }
  // Case-insensitive. Tables, queries and links are preferred over other objects of the
  // same name; nullptr if none.
  const CatalogEntry* findObject(std::u16string_view name) const;
  // Names of user tables, in catalog order.
  std::vector<std::u16string> userTableNames() const;

  // Table definition by name (user or system table); JetError 3078 if none.
  std::shared_ptr<const TableDef> table(std::u16string_view name) const;
  // Table definition by TDEF page; `name` is used when it is not yet known.
  std::shared_ptr<const TableDef> tableAt(uint32_t tdefPage, std::u16string_view name = {}) const;

  // A scan of a table. The first form does not own the definition: it must outlive the
  // cursor (definitions from table()/tableAt() live as long as the Database).
  TableCursor scan(const TableDef& table) const;
  TableCursor scan(std::shared_ptr<const TableDef> table) const;

  // A page through the cache (or, while a write unit is active, as the unit sees it).
  // JetError 3049 if the page lies beyond the end of the file.
  PageRef page(uint32_t n) const;
  // The write unit in progress, or nullptr.
  WriteUnit* activeUnit() const { return unit_; }
  // Forgets parsed table definitions (after a unit changed or dropped TDEF pages).
  void invalidateTables();
  // Reads the catalog again (as the active unit sees it) after MSysObjects changed; the
  // end of the unit reads it once more, so a rolled-back change disappears from it too.
  void catalogChanged();
  // The pages a usage map lists, ascending. A null pointer gives an empty list. Pages past
  // the end of the file are left out; `pastEnd` (if given) tells whether there were any
  // (the global map marks them free; in any other map they mean the file was truncated).
  std::vector<uint32_t> usageMapPages(RowPointer map, bool* pastEnd = nullptr) const;
  // The bytes of one slot of a data/LVAL page (offset flags in slotFlags), bounds-checked:
  // `valid` is false if the page is not a data page or the slot is out of range; JetError
  // 3049 if the offsets contradict the page. Overflow pointers are not followed.
  struct RowBytes {
    PageRef page;
    uint16_t start = 0, end = 0;  // offsets within the page
    uint16_t slotFlags = 0;       // 0x8000 deleted, 0x4000 overflow
    bool valid = false;
    const uint8_t* data() const { return page.data() + start; }
    size_t size() const { return end - start; }
  };
  RowBytes rowBytes(uint32_t page, uint8_t row) const;

  // Reads a long value (Memo/OLE) from the 12-byte header and the bytes that follow it in
  // the row. JetError 3049 if the chain is damaged.
  Bytes readLongValue(const uint8_t* field, size_t fieldLen) const;
  // The same into a caller's buffer (replaced), so that a scan can reuse one allocation.
  void readLongValue(const uint8_t* field, size_t fieldLen, Bytes& out) const;
  // Decodes stored text (Jet 3 code page bytes; Jet 4 UCS-2 or compressed).
  std::u16string decodeText(const uint8_t* p, size_t n) const;

  PageCache& cache() const { return *cache_; }

 private:
  friend class WriteUnit;
  Database() = default;
  void readHeader(const std::u16string& password);
  void readCatalog();
  // Rolls back a change that was interrupted half-way (its journal is still there).
  void recoverInterruptedChange();

  std::string path_;
  OpenMode mode_ = OpenMode::ReadOnly;
  JetVersion version_ = JetVersion::Jet4;
  uint32_t pageSize_ = 4096;
  uint16_t codePage_ = 1252;
  uint16_t sortOrder_ = 1033;
  uint8_t sortVersion_ = 0;
  bool hasPassword_ = false;
  double creationDate_ = 0;
  std::vector<uint8_t> header_;
  std::unique_ptr<PageCache> cache_;
  std::vector<CatalogEntry> catalog_;
  struct TableCache;
  std::unique_ptr<TableCache> tables_;
  WriteUnit* unit_ = nullptr;
  std::unique_ptr<ShareSession> share_;

  bool catalogDirty_ = false;
};

// Masks or unmasks (the same operation) the encoded region of a header page in place.
void xorHeaderMask(uint8_t* page0, JetVersion version);

// Names compare as Jet compares them: case-insensitively.
bool jetNameEquals(std::u16string_view a, std::u16string_view b);

// UTF-8 <-> UTF-16 helpers for the tool and tests (invalid input becomes U+FFFD).
std::string toUtf8(std::u16string_view s);
std::u16string fromUtf8(std::string_view s);

}  // namespace bv::storage
