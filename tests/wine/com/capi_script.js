// Drives the registered CAPI object from Windows Script Host (cscript) the way
// a page's script does: by ProgID, through IDispatch, names resolved from the
// type library. Prints one "ok"/"not ok" line per check; the runner fails on
// any "not ok". Argument 0: a folder for outputs that OpenSSL checks later,
// argument 1: the common name of the signer the test host put into "MY".
// Kept ASCII (Chinese texts as \u escapes): Wine's script host reads the
// file in the ANSI code page.
// A local script host shows the object no web page, so the site lock leaves
// it answering with no allow-list at all: every check below relies on that.
var failures = 0;
function check(cond, what, detail) {
  WScript.Echo((cond ? "ok - " : "not ok - ") + what + (cond || detail === undefined ? "" : " (" + detail + ")"));
  if (!cond) failures++;
}

var a = new ActiveXObject("Korvessa.CAPI");
var b = new ActiveXObject("Korvessa.CAPI.1");
check(a.GetErrorCode() === 0 && a.GetErrorMsg() === "\u6210\u529f(0)", "fresh engine reports success", a.GetErrorMsg());
check(a.GetPortEx() === 65537, "GetPortEx answers 65537", a.GetPortEx());
check(/^\d+\.\d+\.\d+\.\d+$/.test(a.GetVersion()), "GetVersion is a file version", a.GetVersion());

// "abc" in the ANSI code page (0x10): the RFC 1321 / FIPS 180 digests.
check(a.Hash("abc", 0x11) === "900150983CD24FB0D6963F7D28E17F72", "Hash MD5 of abc", a.Hash("abc", 0x11));
check(a.Hash("abc", 0x10) === "A9993E364706816ABA3E25717850C26C9CD0D89D", "Hash SHA-1 of abc");
// UTF-16LE digest of a Chinese text, written out for OpenSSL.
var text = "\u738b\u5c0f\u660e\u7c3d\u7ae0\u6e2c\u8a66";
var digest = b.Hash(text, 3);
check(/^[0-9A-F]{64}$/.test(digest), "Hash SHA-256 of a Chinese text", digest);

// A failing call still returns normally; the error state says why.
var empty = a.RegReadHKCU("");
check(empty === "" && a.GetErrorCode() === 5005, "RegReadHKCU with an empty name: 5005", a.GetErrorCode());
check(a.GetErrorMsg() === "\u932f\u8aa4\u7684\u53c3\u6578(5005)", "GetErrorMsg of 5005 read back as UTF-16", a.GetErrorMsg());
check(a.GetErrorCode() === 5005, "reading the message leaves the code");

// Registry round trip; the second object sees the first one's engine.
check(a.RegWriteHKCUInt("Software\\KorvessaComTest\\Number", -42) === 0, "RegWriteHKCUInt", a.GetErrorMsg());
check(b.RegReadHKCU("Software\\KorvessaComTest\\Number") === "-42", "RegReadHKCU through the second object");
check(a.RegWriteHKCUStr("Software\\KorvessaComTest\\Name", "\u6e2c\u8a66") === 0, "RegWriteHKCUStr of Chinese text");
check(b.RegReadHKCU("Software\\KorvessaComTest\\Name") === "\u6e2c\u8a66", "RegReadHKCU of Chinese text");
a.RegReadHKCU("");
check(b.GetErrorCode() === 5005, "two objects share one error state", b.GetErrorCode());

// Signing with the signer the test host put into "MY" (argument 1: its CN).
var out = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "";
var cn = WScript.Arguments.length > 1 ? WScript.Arguments(1) : "";
var fso = out !== "" ? new ActiveXObject("Scripting.FileSystemObject") : null;
if (fso) {
  var f = fso.CreateTextFile(out + "\\script_sha256.txt", true);
  f.Write(digest);
  f.Close();
}
if (fso && cn !== "") {
  check(a.SelectSigner("S_CN=" + cn, 0x100, 0) === 0, "SelectSigner from MY", a.GetErrorMsg());
  check(b.GetCertSubjectCN() === cn, "the second object sees the signer", b.GetCertSubjectCN());
  var p7 = b.SignPkcs7(text, 0x800);
  check(p7 !== "" && b.GetErrorCode() === 0, "SignPkcs7 through IDispatch", b.GetErrorMsg());
  f = fso.CreateTextFile(out + "\\script_pkcs7.b64", true);
  f.Write(p7);
  f.Close();
}
WScript.Quit(failures === 0 ? 0 : 1);
