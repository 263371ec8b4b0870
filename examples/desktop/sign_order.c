/* sign_order: how a desktop trading program signs an order with Korvessa.

   It chooses the signing certificate from the user's personal store (the
   certificate chooser opens when several match), signs the order's Big5
   bytes as a PKCS#7 SignedData message with signed attributes and SHA-256,
   and prints the message in Base64 on one line. When a call fails it prints
   the component's message for the result code and exits with status 1.

     sign_order [FILTER [ORDER]]
   FILTER is a certificate filter such as "S_CN=王小明" or
   "S_CN=王小明,I_O=Some CA" (empty: any certificate); ORDER is the order
   text (UTF-8 on Linux), by default a buy order. A production program would
   also ask for the key usage it needs (dwKeyUsage 0x80 digitalSignature,
   0x40 nonRepudiation).

   Build (the source is UTF-8; MSVC needs /utf-8):
     Linux:   cc sign_order.c $(pkg-config --cflags --libs korvessa)
     mingw:   x86_64-w64-mingw32-gcc -I include sign_order.c lib/x64/korvessa.lib -loleaut32 -lshell32
     MSVC:    cl /utf-8 /I include sign_order.c lib\x64\korvessa.lib oleaut32.lib shell32.lib */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <korvessa.h>

#ifdef _WIN32
#include <shellapi.h>
#endif

enum {
  SELECT_BY_PARTS = 0x8,      /* S_CN=王 finds every common name holding 王; without it the
                                 filter must give each C, O, OU and CN of the subject exactly */
  SELECT_STORE_ONLY = 0x100,  /* the personal store, never a PFX file (no PFX dialog) */
  SIGN_BIG5 = 0x800,          /* sign the text's Big5 bytes, as the order system stores it */
  SIGN_ATTRIBUTES = 0x2000,   /* content type, signing time and message digest signed too */
  SIGN_SHA256 = 0x10000
};

static const char kDefaultOrder[] = "委託買進 2330 台積電 1000 股，限價 600 元";

/* A new zero-terminated UTF-16 copy of UTF-8 text (a malformed sequence
   becomes U+FFFD); null when out of memory. */
static KvChar* utf16_from_utf8(const char* text) {
  const unsigned char* s = (const unsigned char*)text;
  size_t n = strlen(text), i = 0, k = 0;
  /* UTF-16 never needs more code units than UTF-8 has bytes. */
  KvChar* out = (KvChar*)malloc((n + 1) * sizeof *out);
  if (!out) return NULL;
  while (i < n) {
    unsigned long cp = s[i++];
    int extra = cp < 0x80 ? 0 : cp < 0xC0 ? -1 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : cp < 0xF8 ? 3 : -1;
    if (extra > 0) {
      cp &= 0x3Fu >> extra;
      for (; extra > 0 && i < n && (s[i] & 0xC0) == 0x80; --extra) cp = cp << 6 | (s[i++] & 0x3Fu);
    }
    if (extra != 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      out[k++] = (KvChar)(0xD800 + ((cp - 0x10000) >> 10));
      out[k++] = (KvChar)(0xDC00 + (cp & 0x3FF));
    } else {
      out[k++] = (KvChar)cp;
    }
  }
  out[k] = 0;
  return out;
}

/* Writes UTF-16 text to a stream as UTF-8. */
static void put_utf16(const KvChar* text, FILE* stream) {
  size_t i;
  for (i = 0; text && text[i]; ++i) {
    unsigned long cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (cp < 0x80) {
      fputc((int)cp, stream);
    } else if (cp < 0x800) {
      fputc((int)(0xC0 | cp >> 6), stream);
      fputc((int)(0x80 | (cp & 0x3F)), stream);
    } else if (cp < 0x10000) {
      fputc((int)(0xE0 | cp >> 12), stream);
      fputc((int)(0x80 | ((cp >> 6) & 0x3F)), stream);
      fputc((int)(0x80 | (cp & 0x3F)), stream);
    } else {
      fputc((int)(0xF0 | cp >> 18), stream);
      fputc((int)(0x80 | ((cp >> 12) & 0x3F)), stream);
      fputc((int)(0x80 | ((cp >> 6) & 0x3F)), stream);
      fputc((int)(0x80 | (cp & 0x3F)), stream);
    }
  }
}

/* Argument `index` as a new UTF-16 string, `fallback` when absent. Windows
   gives the command line in UTF-16; the narrow argv there is in the ANSI
   code page, which would lose characters outside it. */
static KvChar* argument(int argc, char** argv, int index, const char* fallback) {
#ifdef _WIN32
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  KvChar* copy;
  size_t size;
  (void)argc;
  (void)argv;
  if (!wide || index >= n) {
    if (wide) LocalFree(wide);
    return utf16_from_utf8(fallback);
  }
  size = (wcslen(wide[index]) + 1) * sizeof *copy;
  copy = (KvChar*)malloc(size);
  if (copy) memcpy(copy, wide[index], size);
  LocalFree(wide);
  return copy;
#else
  return index < argc ? utf16_from_utf8(argv[index]) : utf16_from_utf8(fallback);
#endif
}

/* Prints what failed and the component's message for the last result code,
   such as "找不到憑證(5010)". */
static int fail(const char* what) {
  KvBstr message = GetErrorMsg();
  fprintf(stderr, "sign_order: %s failed: ", what);
  put_utf16(message, stderr);
  fputc('\n', stderr);
  SysFreeString(message);
  return 1;
}

int main(int argc, char** argv) {
  KvChar* filter;
  KvChar* order;
  KvBstr signature;
  int status = 0;

#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
  filter = argument(argc, argv, 1, "");
  order = argument(argc, argv, 2, kDefaultOrder);
  if (!filter || !order) {
    fprintf(stderr, "sign_order: out of memory\n");
    status = 1;
  } else if (SelectSigner(filter, SELECT_BY_PARTS | SELECT_STORE_ONLY, 0 /* any key usage */) != KV_ERR_SUCCESS) {
    /* The result code is also the engine's error state, which fail() reads. */
    status = fail("choosing the signer");
  } else {
    /* A failed call returns an empty string, still to be freed; the code
       tells (KV_ERR_NO_SIGNER when the chooser was cancelled). */
    signature = SignPkcs7(order, SIGN_BIG5 | SIGN_ATTRIBUTES | SIGN_SHA256);
    if (GetErrorCode() != KV_ERR_SUCCESS) {
      status = fail("signing the order");
    } else {
      put_utf16(signature, stdout);
      fputc('\n', stdout);
    }
    SysFreeString(signature);
  }
  free(filter);
  free(order);
  return status;
}
