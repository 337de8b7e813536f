#include "decoder/filter/quorvex_library.h"
#include "decoder/filter/quorvex_templates.h"

HRESULT DllRegisterServer() { return ServerRegister(QuorvexTemplates()); }

HRESULT DllUnregisterServer() { return ServerUnregister(QuorvexTemplates()); }
