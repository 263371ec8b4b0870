// The texts the dialogs show, as UTF-8; models convert them to the ANSI code
// page when they build their controls (kv::Utf8ToNarrow).
#pragma once

namespace kv::ui::text {

inline constexpr const char* kOk = "確定";
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kBrowse = "瀏覽";
inline constexpr const char* kErrorCaption = "錯誤訊息";

inline constexpr const char* kPfxFileTitle = "輸入憑證檔案資訊";        // 202, 206, 207
inline constexpr const char* kChangePasswdTitle = "變更憑證檔案密碼";   // 203
inline constexpr const char* kPasswordTitle = "輸入憑證檔密碼";         // 205
inline constexpr const char* kChooserTitle = "請挑選您的憑證";          // 204
inline constexpr const char* kSignConfirmTitle = "執行簽章(Sign with this Certificate)";  // 201

inline constexpr const char* kPathLabel = "憑證檔案儲存路徑 :";
inline constexpr const char* kPasswordLabel = "輸入憑證密碼 :";
inline constexpr const char* kOldPasswordLabel = "輸入原憑證密碼 :";
inline constexpr const char* kNewPasswordLabel = "輸入新憑證密碼 :";
inline constexpr const char* kConfirmNewLabel = "確認新憑證密碼 :";
inline constexpr const char* kRangeLabelTemplate = "請設定憑證密碼(英文或數字6～10碼)";
inline constexpr const char* kRangeLabelFormat = "請設定憑證密碼(英文或數字%d～%d碼)";
inline constexpr const char* kExportPathLabel = "請指定您要匯出的檔案名稱及路徑：";
inline constexpr const char* kConfirmLabel = "再次確認憑證密碼";
inline constexpr const char* kMobilePathLabel = "指定您要匯出的檔案名稱及路徑：";
inline constexpr const char* kMobilePasswordLabel = "設定憑證密碼,\n憑證匯出, 需驗證憑證密碼";

inline constexpr const char* kFileMissingPrefix = "憑證檔(";
inline constexpr const char* kFileMissingSuffix = ") : 錯誤或不存在";
inline constexpr const char* kFolderBadPrefix = "憑證目錄 (";
inline constexpr const char* kFolderBadSuffix = ") : 錯誤或沒有寫入權限";
inline constexpr const char* kUnspecified = "未指定";
inline constexpr const char* kPasswordMismatch = "密碼不一致";

inline constexpr const char* kBrowseFileTitle = "選擇憑證檔案";
inline constexpr const char* kBrowseFileFilter = "PFX Files (*.pfx;*.p12)|*.pfx; *.p12|All Files (*.*)|*.*||";
inline constexpr const char* kBrowseFolderTitle = "選擇憑證檔案儲存路徑 :";
inline constexpr const char* kDefaultPfxName = "*.pfx";

inline constexpr const char* kCertGroup = "憑證";
inline constexpr const char* kViewCert = "檢視憑證";
inline constexpr const char* kColumnHolder = "憑證持有人";
inline constexpr const char* kColumnSerial = "憑證序號";
inline constexpr const char* kColumnNotBefore = "起始日";
inline constexpr const char* kColumnNotAfter = "截止日";
inline constexpr const char* kColumnIssuer = "憑證發行者";
inline constexpr const char* kTempCertName = "temp.cer";

inline constexpr const char* kContentGroup = "簽章內容(Plain Text tobe sign)";
inline constexpr const char* kCertInfoGroup = "簽章憑證 (Certificate information)";
inline constexpr const char* kSerialLabel = "憑證序號(Serial) : ";
inline constexpr const char* kCommonNameLabel = "用戶名(CommonName) :";
inline constexpr const char* kValidityLabel = "憑證效期(Validity):";
inline constexpr const char* kFromLabel = "From :";
inline constexpr const char* kToLabel = "to :";
inline constexpr const char* kSignOk = "確定(Ok)";
inline constexpr const char* kSignCancel = "取消(Cancel)";

inline constexpr const char* kRootStoreTitle = "安裝信任根憑證";  // 209
inline constexpr const char* kRootStoreLabel = "即將把下列憑證機構(CA)的憑證安裝到您的\"信任根憑證區\":";
inline constexpr const char* kRootSubjectLabel = "憑證名稱 :";
inline constexpr const char* kRootIssuerLabel = "憑證發行者 :";
inline constexpr const char* kRootSerialLabel = "憑證序號 :";
inline constexpr const char* kRootThumbprintLabel = "指紋(SHA1) :";
inline constexpr const char* kRootValidityLabel = "憑證效期 :";
inline constexpr const char* kRootOriginLabel = "要求網站 :";
inline constexpr const char* kRootWarning =
    "安裝後, 此機構簽發的所有憑證都將被您的電腦信任。若無法確認此憑證確實來自該機構, 請勿安裝。";
inline constexpr const char* kRootInstall = "安裝";
inline constexpr const char* kRootRefuse = "不安裝";

inline constexpr const char* kConsentTitle = "網站使用授權";  // 208
inline constexpr const char* kConsentLabel = "下列網站要求使用本元件的憑證、簽章與加解密功能:";
inline constexpr const char* kConsentQuestion = "是否允許此網站使用?";
inline constexpr const char* kConsentOnce = "僅允許這次";
inline constexpr const char* kConsentAlways = "永遠允許";
inline constexpr const char* kConsentDeny = "這次拒絕";
inline constexpr const char* kConsentDenyAlways = "永遠拒絕";

inline constexpr const char* kHashFileTitle = "請選擇檔案";
inline constexpr const char* kHashFileFilter = "All Files (*.*)|*.*||";

inline constexpr const char* kPageActionTitle = "憑證作業確認";  // 210
inline constexpr const char* kPageActionSiteLabel = "下列網站:";
inline constexpr const char* kPageActionLabel = "要求對您的憑證或私密金鑰執行以下作業:";
inline constexpr const char* kPageActionQuestion = "若非您本人的操作, 請按「拒絕」。是否允許此網站執行?";
inline constexpr const char* kPageActionAllow = "允許";
inline constexpr const char* kPageActionDeny = "拒絕";

inline constexpr const char* kTokenPinTitle = "智慧卡密碼驗證";  // 211
inline constexpr const char* kTokenPinLabel = "請輸入下列智慧卡的密碼(PIN), 以使用卡上的私密金鑰:";
inline constexpr const char* kTokenPinTokenLabel = "智慧卡 :";
inline constexpr const char* kTokenPinOriginLabel = "要求網站 :";
inline constexpr const char* kTokenPinCodeLabel = "密碼(PIN) :";
inline constexpr const char* kTokenPinNote = "密碼只交給智慧卡驗證, 不會被記錄或儲存。";
// What the page asks for, as 210 shows it.
inline constexpr const char* kPageCreateKey = "在本機產生新的金鑰對, 並建立憑證請求";
inline constexpr const char* kPageInstallCerts = "將網站提供的憑證安裝至個人憑證區, 其中的CA憑證加入信任的憑證區";
inline constexpr const char* kPageImportPfx = "將憑證檔的憑證及私密金鑰匯入個人憑證區";
inline constexpr const char* kPageExportPfx = "將個人憑證區的憑證及私密金鑰匯出成憑證檔";
inline constexpr const char* kPageExportThenDelete = "匯出後, 自個人憑證區刪除此憑證";
inline constexpr const char* kPageMobileFromPfx = "讀出憑證檔中的私密金鑰, 加密後交給此網站";
inline constexpr const char* kPageMobileFromStore = "讀出個人憑證區的私密金鑰, 加密後交給此網站";
inline constexpr const char* kPageChangePassword = "變更憑證檔的密碼";
inline constexpr const char* kPageDeleteCert = "自個人憑證區刪除憑證";
inline constexpr const char* kPageCommonName = "憑證名稱 : ";
inline constexpr const char* kPageFilter = "憑證篩選 : ";
inline constexpr const char* kPageTargetFolder = "匯出目錄 : ";
inline constexpr const char* kPageFileFolder = "憑證檔目錄 : ";
inline constexpr const char* kPageFileName = "憑證檔名稱 : ";
inline constexpr const char* kPageSerial = "憑證序號 : ";

}  // namespace kv::ui::text
