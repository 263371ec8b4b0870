// Exports of the personal-store browsing and signer-certificate getters.
#include "api/export_door.h"

KV_EXPORT(LONG) GetIECertCount() { return TheEngine().GetIECertCount(); }
KV_EXPORT(BSTR) GetIECertSerial(LONG dwIndex) { return TheEngine().GetIECertSerial(dwIndex); }
KV_EXPORT(BSTR) GetIECertCommonName(LONG dwIndex) { return TheEngine().GetIECertCommonName(dwIndex); }
KV_EXPORT(BSTR) GetIECertSubject(LONG dwIndex) { return TheEngine().GetIECertSubject(dwIndex); }
KV_EXPORT(BSTR) GetIECertIssuer(LONG dwIndex) { return TheEngine().GetIECertIssuer(dwIndex); }
KV_EXPORT(BSTR) GetIECertNotBefore(LONG dwIndex) { return TheEngine().GetIECertNotBefore(dwIndex); }
KV_EXPORT(BSTR) GetIECertNotAfter(LONG dwIndex) { return TheEngine().GetIECertNotAfter(dwIndex); }
KV_EXPORT(BSTR) GetIECertFinger(LONG dwIndex) { return TheEngine().GetIECertFinger(dwIndex); }
KV_EXPORT(LONG) DeleteIECert(LONG dwIndex) { return TheEngine().DeleteIECert(dwIndex); }

KV_EXPORT(BSTR) GetCertB64() { return TheEngine().GetCertB64(); }
KV_EXPORT(BSTR) GetCertSubject() { return TheEngine().GetCertSubject(); }
KV_EXPORT(BSTR) GetCertSubjectCN() { return TheEngine().GetCertSubjectCN(); }
KV_EXPORT(BSTR) GetCertIssuer() { return TheEngine().GetCertIssuer(); }
KV_EXPORT(BSTR) GetCertSerial() { return TheEngine().GetCertSerial(); }
KV_EXPORT(BSTR) GetCertNotBefore() { return TheEngine().GetCertNotBefore(); }
KV_EXPORT(BSTR) GetCertNotAfter() { return TheEngine().GetCertNotAfter(); }
KV_EXPORT(BSTR) GetCertFinger() { return TheEngine().GetCertFinger(); }
KV_EXPORT(LONG) GetCertKeyUsage() { return TheEngine().GetCertKeyUsage(); }
