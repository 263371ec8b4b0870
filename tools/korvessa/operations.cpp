// The dispatch table of the scriptable interface, copied whole so the host
// knows every operation even before its subsystem is built.
#include "korvessa/operations.h"

#include <iterator>

namespace korvessa {

namespace {

constexpr ParamType S = ParamType::kString;
constexpr ParamType L = ParamType::kLong;
constexpr ResultType kBstr = ResultType::kString;
constexpr ResultType kLong = ResultType::kLong;

const OperationSpec kOperations[] = {
    {7, 1, "GetVersion", "GetDllVersion", kBstr, {}},
    {8, 2, "GetErrorCode", "GetErrorCode", kLong, {}},
    {9, 3, "GetErrorMsg", "GetErrorMsg", kBstr, {}},
    {10, 4, "GetCapiErrorCode", "GetCapiErrorCode", kLong, {}},
    {11, 5, "GetCapiErrorMsg", "GetCapiErrorMsg", kBstr, {}},
    {12, 6, "GetMacAddress", "GetMacAddress", kBstr, {}},
    {13, 7, "GetOSName", "GetOSName", kBstr, {}},
    {14, 8, "GetUserHomePath", "GetUserHomePath", kBstr, {}},
    {15, 20, "RegReadHKCU", "RegReadHKCU", kBstr, {{"strName", S}}},
    {16, 21, "RegWriteHKCUInt", "RegWriteHKCUInt", kLong, {{"strName", S}, {"dw", L}}},
    {17, 22, "RegWriteHKCUStr", "RegWriteHKCUStr", kLong, {{"strName", S}, {"str", S}}},
    {18, 23, "RegReadHKLM", "RegReadHKLM", kBstr, {{"strName", S}}},
    {19, 30, "Hash", "Hash", kBstr, {{"strPlainText", S}, {"dwFlags", L}}},
    {20, 31, "HashFile", "HashFile", kBstr, {{"strFileName", S}, {"dwFlags", L}}},
    {21, 40, "SetProviderName", "SetProviderName", kLong, {{"strProviderName", S}}},
    {22, 41, "CreatePKCS10", "CreatePKCS10", kBstr, {{"commonName", S}, {"keyBits", L}, {"genKeyFlags", L}}},
    {23, 42, "CreatePKCS10Pair", "CreatePKCS10Pair", kLong, {{"commonName", S}, {"keyBits", L}, {"genKeyFlags", L}}},
    {24, 43, "GetCsrForSign", "GetCsrForSign", kBstr, {}},
    {25, 44, "GetCsrForEncrypt", "GetCsrForEncrypt", kBstr, {}},
    {26, 45, "AcceptPKCS7", "AcceptPKCS7", kLong, {{"strPkcs7", S}}},
    {27, 50, "SetDefaultPfxFileName", "SetDefaultPfxFileName", kLong, {{"strPrefix", S}}},
    {28, 51, "PresetPasswdLengthRange", "PresetPasswdLengthRange", kLong, {{"min", L}, {"max", L}}},
    {29, 52, "ChangePfxPasswd", "ChangePfxPasswd", kLong,
     {{"strPfxPath", S}, {"strPfxName", S}, {"strOldPass", S}, {"strNewPass", S}, {"dwFlags", L}}},
    {30, 53, "ChangePfxPasswdEx", "ChangePfxPasswdEx", kLong,
     {{"strPfxPath", S}, {"strPfxName", S}, {"strOldPass", S}, {"strNewPass", S}, {"dwPort", L}, {"dwFlags", L}}},
    {31, 54, "QueryPfxInfo", "QueryPfxInfo", kLong,
     {{"strPfxPath", S}, {"strPfxName", S}, {"strPasswd", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {32, 55, "ImportPfxToIE", "ImportPfxToIE", kLong,
     {{"strPfxPath", S}, {"strPfxName", S}, {"strPasswd", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {33, 56, "GetImportedPfxFilePath", "GetImportedPfxFilePath", kBstr, {}},
    {34, 57, "GetImportedPfxFileName", "GetImportedPfxFileName", kBstr, {}},
    {35, 60, "ExportPfxFromIE", "ExportPfxFromIE", kLong,
     {{"strSubject", S}, {"strPfxPath", S}, {"strPassword", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {36, 61, "ExportMobileFromPfx", "ExportMobileFromPfx", kBstr,
     {{"strPfxPath", S}, {"strPfxName", S}, {"strPasswd", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {37, 62, "ExportMobileFromIE", "ExportMobileFromIE", kBstr,
     {{"strSubject", S}, {"strPasswd", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {38, 63, "GetExportedPfxFilePath", "GetExportedPfxFilePath", kBstr, {}},
    {39, 64, "GetExportedPfxFileName", "GetExportedPfxFileName", kBstr, {}},
    {40, 70, "SelectSigner", "SelectSigner", kLong, {{"certFilter", S}, {"dwFlags", L}, {"dwKeyUsage", L}}},
    {41, 71, "SelectSignerEx", "SelectSignerEx", kLong,
     {{"certFilter", S},
      {"strPfxPath", S},
      {"strPfxName", S},
      {"strPasswd", S},
      {"strCompareDate", S},
      {"dwFlags", L},
      {"dwKeyUsage", L}}},
    {42, 72, "GetSignerPfxFilePath", "GetSignerPfxFilePath", kBstr, {}},
    {43, 73, "GetSignerPfxFileName", "GetSignerPfxFileName", kBstr, {}},
    {44, 74, "SignPkcs1", "SignPkcs1", kBstr, {{"strContent", S}, {"dwFlags", L}}},
    {45, 75, "SignPkcs7", "SignPkcs7", kBstr, {{"strContent", S}, {"dwFlags", L}}},
    {46, 76, "SelectSignerEx2", "SelectSignerEx2", kLong,
     {{"certFilter", S},
      {"strPfxPath", S},
      {"strPfxName", S},
      {"dwPort", L},
      {"strCompareDate", S},
      {"dwFlags", L},
      {"dwKeyUsage", L}}},
    {47, 77, "GetPortEx", "GetPortEx", kLong, {}},
    {48, 80, "GetCertB64", "GetCertB64", kBstr, {}},
    {49, 81, "GetCertSubject", "GetCertSubject", kBstr, {}},
    {50, 82, "GetCertSubjectCN", "GetCertSubjectCN", kBstr, {}},
    {51, 83, "GetCertIssuer", "GetCertIssuer", kBstr, {}},
    {52, 84, "GetCertSerial", "GetCertSerial", kBstr, {}},
    {53, 85, "GetCertNotBefore", "GetCertNotBefore", kBstr, {}},
    {54, 86, "GetCertNotAfter", "GetCertNotAfter", kBstr, {}},
    {55, 87, "GetCertFinger", "GetCertFinger", kBstr, {}},
    {56, 88, "GetCertKeyUsage", "GetCertKeyUsage", kLong, {}},
    {57, 90, "SymEncrypt", "SymEncrypt", kBstr,
     {{"strPlainText", S}, {"strPasswdHex", S}, {"iAlgorithm", L}, {"dwFlags", L}}},
    {58, 91, "SymDecrypt", "SymDecrypt", kBstr,
     {{"strCipher", S}, {"strPasswdHex", S}, {"iAlgorithm", L}, {"dwFlags", L}}},
    {59, 92, "CertEncryptPkcs7", "CertEncryptPkcs7", kBstr,
     {{"strPlainText", S}, {"strCertB64", S}, {"iAlgorithm", L}, {"dwFlags", L}}},
    {60, 93, "CertDecryptPkcs7", "CertDecryptPkcs7", kBstr, {{"strCipher", S}, {"dwFlags", L}}},
    {61, 101, "GetIECertCount", "GetIECertCount", kLong, {}},
    {62, 102, "GetIECertSerial", "GetIECertSerial", kBstr, {{"dwIndex", L}}},
    {63, 103, "GetIECertCommonName", "GetIECertCommonName", kBstr, {{"dwIndex", L}}},
    {64, 104, "GetIECertSubject", "GetIECertSubject", kBstr, {{"dwIndex", L}}},
    {65, 105, "GetIECertIssuer", "GetIECertIssuer", kBstr, {{"dwIndex", L}}},
    {66, 106, "GetIECertNotBefore", "GetIECertNotBefore", kBstr, {{"dwIndex", L}}},
    {67, 107, "GetIECertNotAfter", "GetIECertNotAfter", kBstr, {{"dwIndex", L}}},
    {68, 108, "GetIECertFinger", "GetIECertFinger", kBstr, {{"dwIndex", L}}},
    {69, 109, "DeleteIECert", "DeleteIECert", kLong, {{"dwIndex", L}}},
};

static_assert(std::size(kOperations) == 63, "the scriptable interface has 63 operations");

bool EqualsIgnoringAsciiCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == b.size();
}

}  // namespace

size_t OperationSpec::ParamCount() const {
  size_t n = 0;
  while (n < kMaxParams && params[n].name) ++n;
  return n;
}

std::string OperationSpec::DecoratedName() const {
  return "_" + std::string(exportName) + "@" + std::to_string(4 * ParamCount());
}

const OperationSpec* Operations() { return kOperations; }
size_t OperationCount() { return std::size(kOperations); }

const OperationSpec* FindOperation(const std::string& name) {
  for (const OperationSpec& op : kOperations)
    if (EqualsIgnoringAsciiCase(op.method, name) || EqualsIgnoringAsciiCase(op.exportName, name)) return &op;
  return nullptr;
}

const char* TypeName(ParamType type) { return type == ParamType::kString ? "BSTR" : "LONG"; }
const char* TypeName(ResultType type) { return type == ResultType::kString ? "BSTR" : "LONG"; }

}  // namespace korvessa
