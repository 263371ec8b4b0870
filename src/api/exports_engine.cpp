// Exported functions of the engine's own operations: version, error state
// and GetPortEx.
#include "api/export_door.h"

KV_EXPORT(BSTR) GetDllVersion() { return TheEngine().GetVersion(); }
KV_EXPORT(LONG) GetErrorCode() { return TheEngine().m_errorCode; }
KV_EXPORT(BSTR) GetErrorMsg() { return TheEngine().GetErrorMsg(); }
KV_EXPORT(LONG) GetCapiErrorCode() { return static_cast<LONG>(TheEngine().m_capiError); }
KV_EXPORT(BSTR) GetCapiErrorMsg() { return TheEngine().GetCapiErrorMsg(); }
// Answers without touching the engine.
KV_EXPORT(LONG) GetPortEx() { return kPortExValue; }
