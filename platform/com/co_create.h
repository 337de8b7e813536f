#pragma once

#include <string>

#include "platform/com/bstr.h"
#include "platform/com/class_factory.h"

// Object creation for in-process servers: the class is looked up in the
// component registry, its library loaded once per process, and asked for
// its class factory through DllGetClassObject.

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

// Only in-process servers exist here: REGDB_E_CLASSNOTREG when the class is
// not registered or the context does not include CLSCTX_INPROC_SERVER;
// E_FAIL when its library cannot be loaded or lacks the entry point.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
// The same as CoCreateInstance with the server library named directly
// instead of looked up, for programs run straight from a build tree.
HRESULT CoCreateInstanceFromLibrary(const std::string& library, REFCLSID clsid, IUnknown* outer,
                                    REFIID riid, void** object);
// Why this thread's last server library failed to load (the loader's own
// text, which names the library), for the user; empty if none has failed.
std::string CoLastLoadError();
// CO_E_CLASSSTRING when the ProgID is not registered.
HRESULT CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid);
// Unloads every loaded server library whose DllCanUnloadNow says S_OK.
void CoFreeUnusedLibraries();
