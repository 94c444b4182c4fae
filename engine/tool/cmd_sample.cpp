// `brimvale sample DB`: writes the sample shop database.
#include "engine/tool/command.h"
#include "engine/tool/sample_shop.h"

namespace {

const bv::tool::Registration reg{{
    "sample", "write the sample shop database",
    "usage: brimvale sample DB\n"
    "  Writes a new Access 2000 database DB holding a small shop: Customers, Products,\n"
    "  Orders and OrderLines, with indexes and relationships that enforce referential\n"
    "  integrity. The file is the same, byte for byte, every time. DB must not exist.\n",
    [](bv::tool::Args& args) -> int {
      if (args.positional.size() != 1)
        return bv::tool::usageError(*bv::tool::findCommand("sample"), "expected one database file");
      bv::tool::writeSampleShop(args.positional[0]);
      return 0;
    }}};

}  // namespace
