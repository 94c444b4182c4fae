// The DAO dual interfaces (vtable layout of mingw-w64's <dbdaoint.h>) and the DAO identifiers
// the layer and its test doubles need.
//
// The SDK header declares its interfaces as DAOError, DAOErrors, DAODatabase, ... at global
// scope, names our wrapper classes use as well, so it is included here inside namespace
// `daoif`. Include this header, never <dbdaoint.h> directly, in a unit that also sees the
// wrappers.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <tchar.h>

namespace daoif {
#include <dbdaoint.h>
}  // namespace daoif

// The SDK header also defines DAODBEngine, DAOCollection, ... as macros for its own
// underscore names; they would rename our wrapper classes.
#undef DAODBEngine
#undef DAOCollection
#undef DAODynaCollection
#undef DAOTableDef
#undef DAOQueryDef
#undef DAOField
#undef DAOIndex
#undef DAOUser
#undef DAOGroup
#undef DAORelation

namespace daoif {

// Interface identifiers of the DAO 3.5/3.6 type library ({000000xx-0000-0010-8000-00AA006D2EA4}).
constexpr GUID DAOGuid(unsigned long first) {
  return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}
// Identifiers of the DAO 3.0 type library ({00025Exx-0000-0000-C000-000000000046}).
constexpr GUID DAO30Guid(unsigned long first) {
  return GUID{first, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

inline constexpr GUID IID_DBEngine = DAOGuid(0x00000021);     // _DBEngine (3.5, 3.6)
inline constexpr GUID IID_DBEngine30 = DAO30Guid(0x00025E17); // _DBEngine (3.0)
inline constexpr GUID IID_Error = DAOGuid(0x00000023);
inline constexpr GUID IID_Errors = DAOGuid(0x00000025);
inline constexpr GUID IID_Database = DAOGuid(0x00000071);
inline constexpr GUID IID_DAO = DAOGuid(0x0000000A);
inline constexpr GUID IID_Collection = DAOGuid(0x000000A0);
}  // namespace daoif
