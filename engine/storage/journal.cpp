#include "engine/storage/journal.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "engine/storage/error.h"
#include "engine/storage/file.h"

namespace bv::storage {

namespace {

constexpr char kMagic[8] = {'B', 'V', 'J', 'O', 'U', 'R', 'N', '1'};
constexpr size_t kHeaderSize = 32;
constexpr size_t kRecordHead = 8;
constexpr size_t kChunk = 1u << 20;  // bytes written or read per call

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t get64(const uint8_t* p) { return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

// A Fletcher-style pair of sums over 32-bit words (n is a multiple of 4; at most a few
// thousand words, so neither sum wraps), mixed into 32 bits. Seeded so that records of an
// older journal, another record's place or zero-filled space never pass for current ones.
uint32_t checksum(const uint8_t* p, size_t n, uint64_t seed) {
  uint64_t a = seed, b = 0;
  for (size_t i = 0; i + 4 <= n; i += 4) {
    a += get32(p + i);
    b += a;
  }
  uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ b ^ (seed << 17);
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

// A record's checksum covers its place in the journal and the page it restores.
uint64_t recordSeed(uint32_t salt, uint32_t index, uint32_t page) {
  return (static_cast<uint64_t>(salt) << 32 | index) ^ (static_cast<uint64_t>(page) * 0x9E3779B97F4A7C15ull);
}

uint32_t newSalt() {
  static uint32_t counter = 0;
  const auto t = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  return static_cast<uint32_t>(t ^ (t >> 32)) ^ (++counter * 0x27D4EB2Fu);
}

struct Header {
  uint32_t pageSize = 0;
  uint32_t records = 0;
  uint64_t originalLength = 0;
  uint32_t salt = 0;
};

bool parseHeader(const uint8_t* h, Header& out) {
  if (std::memcmp(h, kMagic, 8) != 0) return false;
  if (get32(h + 28) != checksum(h, 28, 0)) return false;
  out.pageSize = get32(h + 8);
  out.records = get32(h + 12);
  out.originalLength = get64(h + 16);
  out.salt = get32(h + 24);
  return (out.pageSize == 2048 || out.pageSize == 4096) && out.originalLength % out.pageSize == 0;
}

void removeJournal(const std::string& journal, bool durable) {
  File::remove(journal);
  if (durable) File::syncDirectoryOf(journal);
}

}  // namespace

std::string journalPath(const std::string& databasePath) { return databasePath + "-journal"; }

void writeJournal(File& db, const std::string& journal, uint32_t pageSize, uint64_t originalLength,
                  const std::vector<uint32_t>& pages, bool durable) {
  std::unique_ptr<File> j = File::create(journal);
  const uint32_t salt = newSalt();
  std::vector<uint8_t> buf;
  buf.reserve(kChunk + kRecordHead + pageSize);
  buf.resize(kHeaderSize);
  std::memcpy(buf.data(), kMagic, 8);
  put32(&buf[8], pageSize);
  put32(&buf[12], static_cast<uint32_t>(pages.size()));
  put64(&buf[16], originalLength);
  put32(&buf[24], salt);
  put32(&buf[28], checksum(buf.data(), 28, 0));
  uint64_t at = 0;
  auto drain = [&] {
    j->writeAt(at, buf.data(), buf.size());
    at += buf.size();
    buf.clear();
  };
  for (size_t i = 0; i < pages.size(); ++i) {
    const size_t rec = buf.size();
    buf.resize(rec + kRecordHead + pageSize);
    uint8_t* r = &buf[rec];
    put32(r, pages[i]);
    const uint64_t offset = static_cast<uint64_t>(pages[i]) * pageSize;
    if (offset + pageSize > originalLength || db.readAt(offset, r + kRecordHead, pageSize) != pageSize)
      throw JetError(3040, "Disk or device error: page " + std::to_string(pages[i]) + " of '" + db.path() +
                               "' could not be read to keep its original.");
    // The page number is part of what the record's checksum covers.
    put32(r + 4, checksum(r + kRecordHead, pageSize, recordSeed(salt, static_cast<uint32_t>(i), pages[i])));
    if (buf.size() >= kChunk) drain();
  }
  if (!buf.empty()) drain();
  if (durable) {
    j->flush();
    File::syncDirectoryOf(journal);
  }
}

JournalState recoverJournal(File& db, const std::string& journal, bool durable) {
  if (!File::exists(journal)) return JournalState::Absent;
  Header h;
  bool valid = false;
  {
    File j(journal, false);
    const uint64_t size = j.size();
    uint8_t head[kHeaderSize];
    valid = size >= kHeaderSize && j.readAt(0, head, kHeaderSize) == kHeaderSize && parseHeader(head, h) &&
            size == kHeaderSize + static_cast<uint64_t>(h.records) * (kRecordHead + h.pageSize);
    // Every record must check before the first one is applied.
    std::vector<uint8_t> rec(kRecordHead + (valid ? h.pageSize : 0));
    for (uint32_t i = 0; valid && i < h.records; ++i) {
      const uint64_t at = kHeaderSize + static_cast<uint64_t>(i) * rec.size();
      if (j.readAt(at, rec.data(), rec.size()) != rec.size()) {
        valid = false;
        break;
      }
      const uint32_t page = get32(rec.data());
      valid = checksum(rec.data() + kRecordHead, h.pageSize, recordSeed(h.salt, i, page)) == get32(rec.data() + 4) &&
              (static_cast<uint64_t>(page) + 1) * h.pageSize <= h.originalLength;
    }
    if (valid) {
      for (uint32_t i = 0; i < h.records; ++i) {
        const uint64_t at = kHeaderSize + static_cast<uint64_t>(i) * rec.size();
        if (j.readAt(at, rec.data(), rec.size()) != rec.size())
          throw JetError(3040, "Disk or device error while reading '" + journal + "'.");
        db.writeAt(static_cast<uint64_t>(get32(rec.data())) * h.pageSize, rec.data() + kRecordHead, h.pageSize);
      }
      if (db.size() != h.originalLength) db.truncate(h.originalLength);
      if (durable) db.flush();
    }
  }
  removeJournal(journal, durable);
  return valid ? JournalState::RolledBack : JournalState::Torn;
}

JournalState restoreInterruptedChange(const std::string& databasePath) {
  const std::string journal = journalPath(databasePath);
  if (!File::exists(journal)) return JournalState::Absent;
  File db(databasePath, true);
  return recoverJournal(db, journal);
}

}  // namespace bv::storage
