// The DAO dual interfaces as mingw-w64's <dbdaoint.h> lays out their vtables, and the
// class and interface identifiers this server answers to.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <tchar.h>

#include <dbdaoint.h>

namespace bv::server {

// DAO 3.5/3.6 identifiers have the form {000000xx-0000-0010-8000-00AA006D2EA4}.
constexpr GUID daoGuid(unsigned long first) {
  return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}

inline constexpr GUID CLSID_Engine = daoGuid(0x00000100);         // DAO.DBEngine.36
inline constexpr GUID CLSID_PrivateEngine = daoGuid(0x00000101);  // DAO.PrivateDBEngine.36
inline constexpr GUID IID_DBEngine = daoGuid(0x00000021);
inline constexpr GUID IID_Error = daoGuid(0x00000023);
inline constexpr GUID IID_Errors = daoGuid(0x00000025);
inline constexpr GUID IID_Database = daoGuid(0x00000071);
inline constexpr GUID IID_DAOBase = daoGuid(0x0000000A);     // _DAO
inline constexpr GUID IID_Collection = daoGuid(0x000000A0);  // _Collection

}  // namespace bv::server
