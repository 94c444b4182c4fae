// CSV rendering of table rows, as the `export` command writes them:
// a header line of column names; Text/Memo in double quotes with "" inside; Null as an
// empty unquoted field; Yes/No as 1 or 0; Date/Time as YYYY-MM-DD HH:MM:SS; Currency with
// four decimals; Decimal with its scale's digits; Binary/OLE as lowercase hex; GUID as
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; numbers in the C locale (shortest form that reads
// back to the same value). Lines end with "\n".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/storage/database.h"

namespace bv::storage {

class CsvSink;  // the export's internal output buffer; the same appenders exist for it
void appendCsvValue(const Value& v, CsvSink& out);
void appendDateTime(double days, CsvSink& out);
void appendDecimal(const Decimal& d, CsvSink& out);
void appendGuid(const Guid& g, CsvSink& out);
void appendJet4CsvText(const uint8_t* p, size_t n, CsvSink& out);

// Appends one value, CSV-escaped, to `out`.
void appendCsvValue(const Value& v, std::string& out);
// Appends a column name as the header line writes it: quoted only when it holds a
// separator, a quote or a line break.
void appendCsvHeaderName(const std::u16string& name, std::string& out);
// Appends stored Jet 4 text (UCS-2, or compressed after FF FE) as a quoted CSV field,
// converting straight to UTF-8; the same result as decoding it and appending the Value.
void appendJet4CsvText(const uint8_t* p, size_t n, std::string& out);
// Appends a date in the export form; values outside years 100..9999 are written as the raw
// day number.
void appendDateTime(double days, std::string& out);
// Appends the decimal digits of a Decimal (sign, digits, point).
void appendDecimal(const Decimal& d, std::string& out);
// Appends a GUID in registry form.
void appendGuid(const Guid& g, std::string& out);

// Writes the whole table through `write` (called with chunks of about 1 MB; a false return
// stops the export and makes it return false). Returns the number of rows on success.
bool exportCsv(const Database& db, const TableDef& table,
               const std::function<bool(const char*, size_t)>& write, uint64_t* rows = nullptr);

}  // namespace bv::storage
