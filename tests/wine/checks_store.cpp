// Store browsing, signer selection and signing through the DLL with signers
// made in Wine's own provider (wine_signer.h); the signatures go to the
// output folder for OpenSSL.
#include "checks.h"

namespace wine_test {

void CheckStore(Library& k, Report& r) {
  r.Equal(k.Number("GetIECertCount"), 0, "a fresh prefix has no personal certificate");
  std::wstring finger;
  if (!r.Check(AddSignerToMy(L"korvessa-wine-signer", L"CN=王小明", 0x33, &finger),
               "certificate with a Wine-generated key added to MY", std::to_wstring(GetLastError())))
    return;
  r.Equal(k.Number("GetIECertCount"), 1, "GetIECertCount");
  r.Equal(k.Text("GetIECertCommonName", 1L), L"王小明", "GetIECertCommonName");
  r.Equal(k.Text("GetIECertSerial", 1L), L"01174233", "GetIECertSerial, most significant byte first");
  r.Equal(k.Text("GetIECertFinger", 1L), finger, "GetIECertFinger is the SHA-1 thumbprint");
  r.Equal(k.Text("GetIECertIssuer", 1L), kWineCaName, "GetIECertIssuer");
  r.Equal(k.Text("GetIECertSubject", 1L), L"CN=王小明", "GetIECertSubject");
  // The snapshot counts from 1.
  r.Equal(k.Text("GetIECertSerial", 0L), L"", "index 0 is empty");
  r.Equal(k.Text("GetIECertSerial", 2L), L"", "index past the end is empty");

  r.Equal(k.Number("SelectSigner", L"S_CN=王小明", 0x100L, 0L), 0, "SelectSigner from MY");
  r.Equal(k.Text("GetCertSubjectCN"), L"王小明", "GetCertSubjectCN of the signer");
  r.Equal(k.Text("GetCertFinger"), finger, "GetCertFinger of the signer");
  WriteOutput(L"signer.b64", Utf8(k.Text("GetCertB64")));

  const wchar_t* content = L"交易內容：買進 2330 一張";
  std::wstring pkcs1 = k.Text("SignPkcs1", content, 0x900L);
  r.Check(!pkcs1.empty() && k.Error() == 0, "SignPkcs1 (ANSI content, SHA-1, Base64)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs1-ansi.b64", Utf8(pkcs1));
  std::wstring pkcs1Wide = k.Text("SignPkcs1", content, 0x100L);
  r.Check(!pkcs1Wide.empty() && k.Error() == 0, "SignPkcs1 (UTF-16 content)", k.Message());
  WriteOutput(L"pkcs1-utf16.b64", Utf8(pkcs1Wide));
  std::wstring pkcs7 = k.Text("SignPkcs7", content, 0x800L);
  r.Check(!pkcs7.empty() && k.Error() == 0, "SignPkcs7 (ANSI content, attached)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs7-ansi.b64", Utf8(pkcs7));
  std::wstring pkcs7Attrs = k.Text("SignPkcs7", content, 0x2000L);
  r.Check(!pkcs7Attrs.empty() && k.Error() == 0, "SignPkcs7 (UTF-16 content, signed attributes)", k.Message());
  WriteOutput(L"pkcs7-utf16-attrs.b64", Utf8(pkcs7Attrs));
  // SHA-256: Wine's plain RSA provider has no SHA-2, as Windows's has not;
  // the DLL signs through the AES-capable provider on the same container.
  std::wstring pkcs1Sha256 = k.Text("SignPkcs1", content, 0x10100L);
  r.Check(!pkcs1Sha256.empty() && k.Error() == 0, "SignPkcs1 (UTF-16 content, SHA-256)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs1-sha256.b64", Utf8(pkcs1Sha256));
  std::wstring pkcs7Sha256 = k.Text("SignPkcs7", content, 0x12000L);
  r.Check(!pkcs7Sha256.empty() && k.Error() == 0, "SignPkcs7 (UTF-16 content, SHA-256, signed attributes)",
          k.Message() + L" capi " + std::to_wstring(k.CapiError()));
  WriteOutput(L"pkcs7-sha256-attrs.b64", Utf8(pkcs7Sha256));

  // A request for a new key in the system's provider; OpenSSL checks its
  // self-signature and subject. Exportable (flag 1): Wine's provider does not
  // let an archivable key out even once, so the key check could not read it.
  std::wstring request = k.Text("CreatePKCS10", L"王小明 Wine", 2048L, 1L);
  r.Check(!request.empty() && k.Error() == 0, "CreatePKCS10 (2048 bits, exportable)",
          k.Message() + L" / " + std::to_wstring(k.Number("GetCapiErrorCode")));
  WriteOutput(L"request.b64", Utf8(request));
}

}  // namespace wine_test
