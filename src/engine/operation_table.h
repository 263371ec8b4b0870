// The operations of the scriptable interface, one entry each: the single
// source of the engine's declarations, the library's exports, the COM
// methods and their site-lock policy, and the command-line host's dispatch
// table; tools/gen/generate.py reads the entries as text (with the
// descriptions in operation_docs.py beside this file) for the Windows .def,
// the IDL, the public C header, the page object's list and its TypeScript
// declaration, and the reference. The count is what the table holds.
//
//   KV_OPERATION(slot, dispid, result, name, exportName, params, policy)
//
// slot        virtual-table slot in the dual interface (IDispatch fills 0-6);
//             new operations go at the end, the interface only grows.
// dispid      dispatch identifier; the areas are grouped by tens.
// result      BSTR or LONG.
// name        the method name, and CCapiEngine's.
// exportName  the flat export's name: the method name but for GetVersion,
//             whose export is GetDllVersion.
// params      KV_PARAMS(type, name, ...), type BSTR or LONG.
// policy      KV_POLICY(reset, protectedMode, siteLock, refused, page):
//   reset          what the operation clears at entry: Keep (nothing; the
//                  getters of state), Code (ResetError: the result code) or
//                  Both (ResetErrors: the code and the platform number).
//   protectedMode  Serves, or Refuses with 1500 in a browser protected-mode
//                  process (RefuseInProtectedMode).
//   siteLock       how the scriptable object admits a call from its page
//                  (Windows): Open (the error getters, always), Call (the
//                  page's site must be allowed) or RegistryWrite (allowed
//                  site, and the registry name must be one pages may write).
//   refused        what a call the site lock refuses answers: Empty (string),
//                  Zero (a getter of a value), Code (the result code, 1502),
//                  Never (an Open operation).
//   page           Plain, or the action a page's call must have the person
//                  confirm first (kv::host::PageAction; DeleteCertificate is
//                  the deletion's own confirmation).
// The operation's code follows reset and protectedMode by hand (see
// docs/architecture.md); tests/engine/operation_policy_test.cpp holds the
// two to each other.
//
// No include guard: a door defines KV_OPERATION, includes this file where it
// wants the entries expanded, and the file undefines KV_OPERATION again.
// The generator reads the entries as text, so keep each in this plain shape.
#include "engine/operation_params.h"

#ifndef KV_OPERATION
#error "define KV_OPERATION(slot, dispid, result, name, exportName, params, policy) before including this table"
#endif

// clang-format off
// --- general (dispatch ids 1-8) ---
KV_OPERATION(  7,   1, BSTR, GetVersion,              GetDllVersion,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION(  8,   2, LONG, GetErrorCode,            GetErrorCode,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Open, Never, Plain))
KV_OPERATION(  9,   3, BSTR, GetErrorMsg,             GetErrorMsg,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Open, Never, Plain))
KV_OPERATION( 10,   4, LONG, GetCapiErrorCode,        GetCapiErrorCode,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Open, Never, Plain))
KV_OPERATION( 11,   5, BSTR, GetCapiErrorMsg,         GetCapiErrorMsg,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Open, Never, Plain))
KV_OPERATION( 12,   6, BSTR, GetMacAddress,           GetMacAddress,
             KV_PARAMS(),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 13,   7, BSTR, GetOSName,               GetOSName,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 14,   8, BSTR, GetUserHomePath,         GetUserHomePath,
             KV_PARAMS(),
             KV_POLICY(Both, Serves, Call, Empty, Plain))

// --- registry (20-23) ---
KV_OPERATION( 15,  20, BSTR, RegReadHKCU,             RegReadHKCU,
             KV_PARAMS(BSTR, strName),
             KV_POLICY(Code, Refuses, Call, Empty, Plain))
KV_OPERATION( 16,  21, LONG, RegWriteHKCUInt,         RegWriteHKCUInt,
             KV_PARAMS(BSTR, strName, LONG, dw),
             KV_POLICY(Code, Refuses, RegistryWrite, Code, Plain))
KV_OPERATION( 17,  22, LONG, RegWriteHKCUStr,         RegWriteHKCUStr,
             KV_PARAMS(BSTR, strName, BSTR, str),
             KV_POLICY(Code, Refuses, RegistryWrite, Code, Plain))
KV_OPERATION( 18,  23, BSTR, RegReadHKLM,             RegReadHKLM,
             KV_PARAMS(BSTR, strName),
             KV_POLICY(Code, Refuses, Call, Empty, Plain))

// --- hashing (30-31) ---
KV_OPERATION( 19,  30, BSTR, Hash,                    Hash,
             KV_PARAMS(BSTR, strPlainText, LONG, dwFlags),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 20,  31, BSTR, HashFile,                HashFile,
             KV_PARAMS(BSTR, strFileName, LONG, dwFlags),
             KV_POLICY(Code, Serves, Call, Empty, Plain))

// --- requests (40-45) ---
KV_OPERATION( 21,  40, LONG, SetProviderName,         SetProviderName,
             KV_PARAMS(BSTR, strProviderName),
             KV_POLICY(Both, Refuses, Call, Code, Plain))
KV_OPERATION( 22,  41, BSTR, CreatePKCS10,            CreatePKCS10,
             KV_PARAMS(BSTR, commonName, LONG, keyBits, LONG, genKeyFlags),
             KV_POLICY(Both, Refuses, Call, Empty, CreateKey))
KV_OPERATION( 23,  42, LONG, CreatePKCS10Pair,        CreatePKCS10Pair,
             KV_PARAMS(BSTR, commonName, LONG, keyBits, LONG, genKeyFlags),
             KV_POLICY(Both, Refuses, Call, Code, CreateKey))
KV_OPERATION( 24,  43, BSTR, GetCsrForSign,           GetCsrForSign,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 25,  44, BSTR, GetCsrForEncrypt,        GetCsrForEncrypt,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 26,  45, LONG, AcceptPKCS7,             AcceptPKCS7,
             KV_PARAMS(BSTR, strPkcs7),
             KV_POLICY(Both, Refuses, Call, Code, InstallCertificates))

// --- PFX files (50-64) ---
KV_OPERATION( 27,  50, LONG, SetDefaultPfxFileName,   SetDefaultPfxFileName,
             KV_PARAMS(BSTR, strPrefix),
             KV_POLICY(Code, Serves, Call, Code, Plain))
KV_OPERATION( 28,  51, LONG, PresetPasswdLengthRange, PresetPasswdLengthRange,
             KV_PARAMS(LONG, min, LONG, max),
             KV_POLICY(Both, Serves, Call, Code, Plain))
KV_OPERATION( 29,  52, LONG, ChangePfxPasswd,         ChangePfxPasswd,
             KV_PARAMS(BSTR, strPfxPath, BSTR, strPfxName, BSTR, strOldPass, BSTR, strNewPass, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Code, ChangePfxPassword))
KV_OPERATION( 30,  53, LONG, ChangePfxPasswdEx,       ChangePfxPasswdEx,
             KV_PARAMS(BSTR, strPfxPath, BSTR, strPfxName, BSTR, strOldPass, BSTR, strNewPass, LONG, dwPort, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Code, ChangePfxPassword))
KV_OPERATION( 31,  54, LONG, QueryPfxInfo,            QueryPfxInfo,
             KV_PARAMS(BSTR, strPfxPath, BSTR, strPfxName, BSTR, strPasswd, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, Plain))
KV_OPERATION( 32,  55, LONG, ImportPfxToIE,           ImportPfxToIE,
             KV_PARAMS(BSTR, strPfxPath, BSTR, strPfxName, BSTR, strPasswd, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, ImportPfx))
KV_OPERATION( 33,  56, BSTR, GetImportedPfxFilePath,  GetImportedPfxFilePath,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 34,  57, BSTR, GetImportedPfxFileName,  GetImportedPfxFileName,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 35,  60, LONG, ExportPfxFromIE,         ExportPfxFromIE,
             KV_PARAMS(BSTR, strSubject, BSTR, strPfxPath, BSTR, strPassword, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, ExportPfx))
KV_OPERATION( 36,  61, BSTR, ExportMobileFromPfx,     ExportMobileFromPfx,
             KV_PARAMS(BSTR, strPfxPath, BSTR, strPfxName, BSTR, strPasswd, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Empty, MobileFromPfx))
KV_OPERATION( 37,  62, BSTR, ExportMobileFromIE,      ExportMobileFromIE,
             KV_PARAMS(BSTR, strSubject, BSTR, strPasswd, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Empty, MobileFromStore))
KV_OPERATION( 38,  63, BSTR, GetExportedPfxFilePath,  GetExportedPfxFilePath,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 39,  64, BSTR, GetExportedPfxFileName,  GetExportedPfxFileName,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))

// --- signer and signing (70-77) ---
KV_OPERATION( 40,  70, LONG, SelectSigner,            SelectSigner,
             KV_PARAMS(BSTR, certFilter, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, Plain))
KV_OPERATION( 41,  71, LONG, SelectSignerEx,          SelectSignerEx,
             KV_PARAMS(BSTR, certFilter, BSTR, strPfxPath, BSTR, strPfxName, BSTR, strPasswd, BSTR, strCompareDate, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, Plain))
KV_OPERATION( 42,  72, BSTR, GetSignerPfxFilePath,    GetSignerPfxFilePath,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 43,  73, BSTR, GetSignerPfxFileName,    GetSignerPfxFileName,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 44,  74, BSTR, SignPkcs1,               SignPkcs1,
             KV_PARAMS(BSTR, strContent, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 45,  75, BSTR, SignPkcs7,               SignPkcs7,
             KV_PARAMS(BSTR, strContent, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 46,  76, LONG, SelectSignerEx2,         SelectSignerEx2,
             KV_PARAMS(BSTR, certFilter, BSTR, strPfxPath, BSTR, strPfxName, LONG, dwPort, BSTR, strCompareDate, LONG, dwFlags, LONG, dwKeyUsage),
             KV_POLICY(Both, Refuses, Call, Code, Plain))
KV_OPERATION( 47,  77, LONG, GetPortEx,               GetPortEx,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Zero, Plain))

// --- signer certificate (80-88) ---
KV_OPERATION( 48,  80, BSTR, GetCertB64,              GetCertB64,
             KV_PARAMS(),
             KV_POLICY(Keep, Serves, Call, Empty, Plain))
KV_OPERATION( 49,  81, BSTR, GetCertSubject,          GetCertSubject,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 50,  82, BSTR, GetCertSubjectCN,        GetCertSubjectCN,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 51,  83, BSTR, GetCertIssuer,           GetCertIssuer,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 52,  84, BSTR, GetCertSerial,           GetCertSerial,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 53,  85, BSTR, GetCertNotBefore,        GetCertNotBefore,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 54,  86, BSTR, GetCertNotAfter,         GetCertNotAfter,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 55,  87, BSTR, GetCertFinger,           GetCertFinger,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Empty, Plain))
KV_OPERATION( 56,  88, LONG, GetCertKeyUsage,         GetCertKeyUsage,
             KV_PARAMS(),
             KV_POLICY(Code, Serves, Call, Zero, Plain))

// --- encryption (90-93) ---
KV_OPERATION( 57,  90, BSTR, SymEncrypt,              SymEncrypt,
             KV_PARAMS(BSTR, strPlainText, BSTR, strPasswdHex, LONG, iAlgorithm, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 58,  91, BSTR, SymDecrypt,              SymDecrypt,
             KV_PARAMS(BSTR, strCipher, BSTR, strPasswdHex, LONG, iAlgorithm, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 59,  92, BSTR, CertEncryptPkcs7,        CertEncryptPkcs7,
             KV_PARAMS(BSTR, strPlainText, BSTR, strCertB64, LONG, iAlgorithm, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))
KV_OPERATION( 60,  93, BSTR, CertDecryptPkcs7,        CertDecryptPkcs7,
             KV_PARAMS(BSTR, strCipher, LONG, dwFlags),
             KV_POLICY(Both, Refuses, Call, Empty, Plain))

// --- personal store (101-109) ---
KV_OPERATION( 61, 101, LONG, GetIECertCount,          GetIECertCount,
             KV_PARAMS(),
             KV_POLICY(Code, Refuses, Call, Zero, Plain))
KV_OPERATION( 62, 102, BSTR, GetIECertSerial,         GetIECertSerial,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 63, 103, BSTR, GetIECertCommonName,     GetIECertCommonName,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 64, 104, BSTR, GetIECertSubject,        GetIECertSubject,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 65, 105, BSTR, GetIECertIssuer,         GetIECertIssuer,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 66, 106, BSTR, GetIECertNotBefore,      GetIECertNotBefore,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 67, 107, BSTR, GetIECertNotAfter,       GetIECertNotAfter,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 68, 108, BSTR, GetIECertFinger,         GetIECertFinger,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Keep, Refuses, Call, Empty, Plain))
KV_OPERATION( 69, 109, LONG, DeleteIECert,            DeleteIECert,
             KV_PARAMS(LONG, dwIndex),
             KV_POLICY(Code, Refuses, Call, Code, DeleteCertificate))
// clang-format on

#undef KV_OPERATION
